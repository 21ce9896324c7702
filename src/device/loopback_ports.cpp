#include "device/loopback_ports.h"

namespace corvane::device {

LoopbackPorts::LoopbackPorts(midi::LoopbackBackend& backend, std::string socket)
    : m_backend(backend), m_socket(std::move(socket)) {}

LoopbackPorts::~LoopbackPorts() {
    Detach();
}

bool LoopbackPorts::Attach(const std::string& name, Receiver receiver) {
    Detach();
    m_input = m_backend.AddInput(name, m_socket);
    m_output = m_backend.AddOutput(name, std::move(receiver), m_socket);
    m_attached = true;
    return true;
}

void LoopbackPorts::Detach() {
    if (!m_attached) {
        return;
    }
    // Clearing the receiver waits for a send in progress; removing the port
    // first would let that send still reach the receiver.
    m_backend.SetReceiver(m_output, {});
    m_backend.Remove(m_output);
    m_backend.Remove(m_input);
    m_attached = false;
}

bool LoopbackPorts::Send(midi::ByteView message) {
    return m_attached && m_backend.Deliver(m_input, message);
}

std::unique_ptr<SimulatedDevice> StartLoopbackDevice(midi::LoopbackBackend& backend,
                                                     DeviceConfig config, std::string socket) {
    return std::make_unique<SimulatedDevice>(
        std::move(config), std::make_unique<LoopbackPorts>(backend, std::move(socket)));
}

}  // namespace corvane::device
