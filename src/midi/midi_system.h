#pragma once
// Which MIDI system RtMidi talks to on this platform, and what the ALSA
// sequencer says about the client behind a port name.

#include <RtMidi.h>

#include <memory>
#include <optional>
#include <string>

namespace corvane::midi {

// The MIDI system to use; nullopt when none is reachable. RtMidi's default
// choice throws when the ALSA sequencer is missing instead of trying a running
// JACK server, so the choice is made here.
std::optional<RtMidi::Api> ChooseApi();

// The client of a sequencer port.
struct ClientInfo {
    std::string name;
    int card = -1;  // the sound card whose port this is; -1 for software
};

class SequencerClients {
public:
    virtual ~SequencerClients() = default;
    // Asked by the client number in RtMidi's name, because client and port
    // names may both hold colons; nullopt when the sequencer does not know it.
    virtual std::optional<ClientInfo> Find(const std::string& rtmidiName) const = 0;
};

// Null where there is no ALSA sequencer to ask.
std::unique_ptr<SequencerClients> OpenSequencerClients();

}  // namespace corvane::midi
