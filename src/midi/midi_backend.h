#pragma once
// The seam between the updater and a MIDI system. The system backend talks to
// the platform's MIDI stack; the loopback backend keeps ports in-process for
// tests and for the simulated device.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace corvane::midi {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

// One opened output port; destroying it closes the port.
class OutputConnection {
public:
    virtual ~OutputConnection() = default;
    // Sends one complete System Exclusive message and returns once the backend
    // has taken all of it. False when the port refused the message or is gone.
    virtual bool Send(ByteView message) = 0;
    // True once the port has reported that its device is gone (unplugged, or
    // its driver ended it); such a connection never works again. Any thread.
    virtual bool Gone() const { return false; }
    // Called from another thread before the connection is destroyed: a Send
    // waiting for a driver gives up at once and returns false. A backend
    // whose sends never wait long ignores it.
    virtual void Abandon() {}
};

// Called on the backend's own thread with the bytes of a received System
// Exclusive message (a long message may come in several calls).
using InputHandler = std::function<void(ByteView)>;

// One opened input port; destroying it closes the port. Once the destructor has
// returned the handler is not running and is never called again.
class InputConnection {
public:
    virtual ~InputConnection() = default;
    // As OutputConnection::Gone.
    virtual bool Gone() const { return false; }
};

class MidiBackend {
public:
    virtual ~MidiBackend() = default;
    // Port names in device order: index i names device i. Never throws; an
    // unreachable MIDI system lists no ports.
    virtual std::vector<std::string> InputPortNames() = 0;
    virtual std::vector<std::string> OutputPortNames() = 0;
    // Where each port's device is plugged in, in the order of the names: on
    // Linux the bus path of the USB device behind a sound card ("1-1.2"),
    // which stays the same when the device re-enumerates; empty for a port
    // whose socket the system cannot tell (software ports). Listed apart from
    // the names: a list of another length than the names' is out of date.
    virtual std::vector<std::string> InputPortSockets() { return {}; }
    virtual std::vector<std::string> OutputPortSockets() { return {}; }
    // Null when the port does not exist or refuses to open.
    virtual std::unique_ptr<OutputConnection> OpenOutput(int index) = 0;
    virtual std::unique_ptr<InputConnection> OpenInput(int index, InputHandler handler) = 0;
};

}  // namespace corvane::midi
