#pragma once
// The backend's input and output port lists as last seen: the one place that
// decides whether a MIDI device came or went. It holds no lock; one thread at
// a time uses it.

#include <string>
#include <vector>

#include "midi/midi_backend.h"

namespace corvane::midi {

class PortListSnapshot {
public:
    // Takes the first look.
    explicit PortListSnapshot(MidiBackend& backend);

    // Looks again; true when either list differs from the last look (a port
    // came, went or was renamed). The new look is then the last one.
    bool LookAgain();

private:
    MidiBackend* m_backend;  // a pointer, so that a snapshot can be moved
    std::vector<std::string> m_inputs;
    std::vector<std::string> m_outputs;
};

}  // namespace corvane::midi
