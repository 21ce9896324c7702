#pragma once
// MIDI ports of the platform's MIDI system. On Linux: the sound cards' own
// MIDI ports through raw MIDI first (the sequencer cannot pace long messages
// to hardware), then the software ports of the ALSA sequencer or, where the
// sequencer is missing, of a running JACK server, through RtMidi; a card's
// ports are not listed again through the sequencer. On Windows winmm, asked
// directly. Port names name the device: the card's or ALSA client's name, the
// JACK port's own name, the Windows device name (in UTF-8); identical names
// get " (2)", " (3)"... When no MIDI system is reachable the lists are empty.

#include <memory>
#include <string>

#include "midi/midi_backend.h"

namespace corvane::midi {

std::unique_ptr<MidiBackend> CreateSystemBackend();

// A virtual input and output of this process that the system backend of
// another process lists as a device named `name`.
class VirtualPortPair {
public:
    virtual ~VirtualPortPair() = default;
    // Sends one message out of the virtual output; false when it failed.
    virtual bool Send(ByteView message) = 0;
};

// Opens both ports; the handler gets every System Exclusive message sent to
// the virtual input, on the MIDI system's thread, until the pair is
// destroyed. Null when no MIDI system is reachable or the ports cannot be made.
std::unique_ptr<VirtualPortPair> OpenVirtualPorts(const std::string& name, InputHandler onReceive);

}  // namespace corvane::midi
