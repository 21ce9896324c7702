#pragma once
// In-process MIDI ports. A test, or the simulated device, registers ports by
// name and plays the device's side: it receives what the updater sends to an
// output port and delivers messages to an opened input port.

#include <map>
#include <mutex>

#include "midi/midi_backend.h"

namespace corvane::midi {

class LoopbackBackend final : public MidiBackend {
public:
    using PortId = int;
    // Called on the sending thread for every whole message sent to an output port.
    using Receiver = std::function<void(ByteView)>;

    LoopbackBackend();
    ~LoopbackBackend() override;

    // `socket`: where the port's device is plugged in; empty for none.
    PortId AddInput(std::string name, std::string socket = {});
    PortId AddOutput(std::string name, Receiver receiver = {}, std::string socket = {});
    // The port vanishes from the lists; open connections to it fail from now on.
    void Remove(PortId port);
    void SetReceiver(PortId output, Receiver receiver);

    // Hands a message to the handler of the opened input port, on the calling
    // thread. False when the port is not open or gone.
    bool Deliver(PortId input, ByteView message);

    // Fault switches for tests.
    void RefuseOpen(PortId port, bool refuse);
    void FailSends(PortId output, bool fail);

    // Every whole message sent to an output port, in order (recorded unless
    // switched off, for long runs).
    std::vector<Bytes> Sent(PortId output) const;
    void ClearSent(PortId output);
    void SetRecording(PortId output, bool record);
    bool IsOpen(PortId port) const;
    // The port listed at `index`, as the updater sees it; 0 when none.
    PortId InputId(int index) const;
    PortId OutputId(int index) const;

    std::vector<std::string> InputPortNames() override;
    std::vector<std::string> OutputPortNames() override;
    std::vector<std::string> InputPortSockets() override;
    std::vector<std::string> OutputPortSockets() override;
    std::unique_ptr<OutputConnection> OpenOutput(int index) override;
    std::unique_ptr<InputConnection> OpenInput(int index, InputHandler handler) override;

private:
    struct Port;
    class Output;
    class Input;

    std::shared_ptr<Port> Find(PortId id) const;
    std::shared_ptr<Port> ByIndex(bool input, int index, PortId* id = nullptr) const;
    std::vector<std::string> Listed(bool input, std::string Port::*field) const;

    mutable std::mutex m_mutex;  // guards m_ports and m_nextId
    std::map<PortId, std::shared_ptr<Port>> m_ports;
    PortId m_nextId = 1;
};

}  // namespace corvane::midi
