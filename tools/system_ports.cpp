#include "tools/system_ports.h"

namespace corvane::tools {

SystemPorts::~SystemPorts() {
    Detach();
}

bool SystemPorts::Attach(const std::string& name, Receiver receiver) {
    Detach();
    m_ports = midi::OpenVirtualPorts(name, std::move(receiver));
    return m_ports != nullptr;
}

void SystemPorts::Detach() {
    // Destroying the pair closes both ports and waits for a delivery in progress.
    m_ports.reset();
}

bool SystemPorts::Send(midi::ByteView message) {
    const bool sent = m_ports != nullptr && m_ports->Send(message);
    ++m_sends;
    return sent;
}

}  // namespace corvane::tools
