#pragma once
// The two MIDI ports a simulated device shows to the updater, on whatever MIDI
// system carries them. The device runner attaches them when the device appears
// and detaches them when it vanishes.

#include <functional>
#include <string>

#include "midi/midi_backend.h"

namespace corvane::device {

class DevicePorts {
public:
    // Called with each whole message the updater sends, on the sender's thread.
    using Receiver = std::function<void(midi::ByteView)>;

    virtual ~DevicePorts() = default;
    // Makes an input and an output port named `name` appear; false when the
    // MIDI system refused them.
    virtual bool Attach(const std::string& name, Receiver receiver) = 0;
    // Makes both ports vanish. Once it has returned the receiver is not running
    // and is never called again for this attachment. Does nothing when detached.
    virtual void Detach() = 0;
    // Hands one message to the updater's input port; false when nobody listens.
    virtual bool Send(midi::ByteView message) = 0;
};

}  // namespace corvane::device
