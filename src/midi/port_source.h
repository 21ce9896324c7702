#pragma once
// One MIDI system's ports as it names them, before identical names are told
// apart: a part of the system backend, which may join several of them.

#include <memory>
#include <string>
#include <vector>

#include "midi/midi_backend.h"

namespace corvane::midi {

class PortSource {
public:
    virtual ~PortSource() = default;
    // Device names in this source's order; identical names stay identical.
    virtual std::vector<std::string> InputNames() = 0;
    virtual std::vector<std::string> OutputNames() = 0;
    // As MidiBackend's port sockets, in this source's order.
    virtual std::vector<std::string> InputSockets() { return {}; }
    virtual std::vector<std::string> OutputSockets() { return {}; }
    // Null when the port does not exist or refuses to open.
    virtual std::unique_ptr<OutputConnection> OpenOutput(int index) = 0;
    virtual std::unique_ptr<InputConnection> OpenInput(int index, InputHandler handler) = 0;
};

}  // namespace corvane::midi
