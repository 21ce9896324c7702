#include "midi/loopback_backend.h"

#include <atomic>

namespace corvane::midi {

struct LoopbackBackend::Port {
    std::string name;
    std::string socket;
    bool input = false;
    std::atomic<bool> present{true};
    std::atomic<bool> refuseOpen{false};
    std::atomic<bool> failSends{false};

    // Output side: guards receiver, sent and recording; held while the
    // receiver runs so that whole messages reach it one at a time.
    mutable std::mutex sendMutex;
    Receiver receiver;
    std::vector<Bytes> sent;
    bool recording = true;

    // Input side: guards handler and open; held while the handler runs so
    // that closing waits for a delivery in progress.
    mutable std::mutex deliverMutex;
    InputHandler handler;
    bool open = false;
    int outputsOpen = 0;  // guarded by sendMutex
};

class LoopbackBackend::Output final : public OutputConnection {
public:
    explicit Output(std::shared_ptr<Port> port) : m_port(std::move(port)) {}
    ~Output() override {
        std::lock_guard lock(m_port->sendMutex);
        --m_port->outputsOpen;
    }
    bool Send(ByteView message) override {
        if (!m_port->present || m_port->failSends) {
            return false;
        }
        std::lock_guard lock(m_port->sendMutex);
        if (m_port->recording) {
            m_port->sent.emplace_back(message.begin(), message.end());
        }
        if (m_port->receiver) {
            m_port->receiver(message);
        }
        return true;
    }
    bool Gone() const override { return !m_port->present; }

private:
    std::shared_ptr<Port> m_port;
};

class LoopbackBackend::Input final : public InputConnection {
public:
    explicit Input(std::shared_ptr<Port> port) : m_port(std::move(port)) {}
    ~Input() override {
        std::lock_guard lock(m_port->deliverMutex);
        m_port->handler = nullptr;
        m_port->open = false;
    }
    bool Gone() const override { return !m_port->present; }

private:
    std::shared_ptr<Port> m_port;
};

LoopbackBackend::LoopbackBackend() = default;
LoopbackBackend::~LoopbackBackend() = default;

LoopbackBackend::PortId LoopbackBackend::AddInput(std::string name, std::string socket) {
    auto port = std::make_shared<Port>();
    port->name = std::move(name);
    port->socket = std::move(socket);
    port->input = true;
    std::lock_guard lock(m_mutex);
    m_ports.emplace(m_nextId, port);
    return m_nextId++;
}

LoopbackBackend::PortId LoopbackBackend::AddOutput(std::string name, Receiver receiver,
                                                   std::string socket) {
    auto port = std::make_shared<Port>();
    port->name = std::move(name);
    port->socket = std::move(socket);
    port->receiver = std::move(receiver);
    std::lock_guard lock(m_mutex);
    m_ports.emplace(m_nextId, port);
    return m_nextId++;
}

void LoopbackBackend::Remove(PortId id) {
    std::shared_ptr<Port> port;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_ports.find(id);
        if (it == m_ports.end()) {
            return;
        }
        port = it->second;
        m_ports.erase(it);
    }
    port->present = false;
}

void LoopbackBackend::SetReceiver(PortId output, Receiver receiver) {
    if (auto port = Find(output)) {
        std::lock_guard lock(port->sendMutex);
        port->receiver = std::move(receiver);
    }
}

bool LoopbackBackend::Deliver(PortId input, ByteView message) {
    auto port = Find(input);
    if (!port || !port->input) {
        return false;
    }
    std::lock_guard lock(port->deliverMutex);
    if (!port->open || !port->handler) {
        return false;
    }
    port->handler(message);
    return true;
}

void LoopbackBackend::RefuseOpen(PortId id, bool refuse) {
    if (auto port = Find(id)) {
        port->refuseOpen = refuse;
    }
}

void LoopbackBackend::FailSends(PortId output, bool fail) {
    if (auto port = Find(output)) {
        port->failSends = fail;
    }
}

std::vector<Bytes> LoopbackBackend::Sent(PortId output) const {
    if (auto port = Find(output)) {
        std::lock_guard lock(port->sendMutex);
        return port->sent;
    }
    return {};
}

void LoopbackBackend::ClearSent(PortId output) {
    if (auto port = Find(output)) {
        std::lock_guard lock(port->sendMutex);
        port->sent.clear();
    }
}

void LoopbackBackend::SetRecording(PortId output, bool record) {
    if (auto port = Find(output)) {
        std::lock_guard lock(port->sendMutex);
        port->recording = record;
    }
}

bool LoopbackBackend::IsOpen(PortId id) const {
    auto port = Find(id);
    if (!port) {
        return false;
    }
    if (port->input) {
        std::lock_guard lock(port->deliverMutex);
        return port->open;
    }
    std::lock_guard lock(port->sendMutex);
    return port->outputsOpen > 0;
}

std::vector<std::string> LoopbackBackend::InputPortNames() {
    return Listed(true, &Port::name);
}
std::vector<std::string> LoopbackBackend::OutputPortNames() {
    return Listed(false, &Port::name);
}

std::vector<std::string> LoopbackBackend::InputPortSockets() {
    return Listed(true, &Port::socket);
}

std::vector<std::string> LoopbackBackend::OutputPortSockets() {
    return Listed(false, &Port::socket);
}

std::unique_ptr<OutputConnection> LoopbackBackend::OpenOutput(int index) {
    auto port = ByIndex(false, index);
    if (!port || port->refuseOpen) {
        return nullptr;
    }
    {
        std::lock_guard lock(port->sendMutex);
        ++port->outputsOpen;
    }
    return std::make_unique<Output>(port);
}

std::unique_ptr<InputConnection> LoopbackBackend::OpenInput(int index, InputHandler handler) {
    auto port = ByIndex(true, index);
    if (!port || port->refuseOpen) {
        return nullptr;
    }
    std::lock_guard lock(port->deliverMutex);
    if (port->open) {
        return nullptr;  // one reader per port, as a driver allows
    }
    port->handler = std::move(handler);
    port->open = true;
    return std::make_unique<Input>(port);
}

std::shared_ptr<LoopbackBackend::Port> LoopbackBackend::Find(PortId id) const {
    std::lock_guard lock(m_mutex);
    auto it = m_ports.find(id);
    return it == m_ports.end() ? nullptr : it->second;
}

LoopbackBackend::PortId LoopbackBackend::InputId(int index) const {
    PortId id = 0;
    ByIndex(true, index, &id);
    return id;
}

LoopbackBackend::PortId LoopbackBackend::OutputId(int index) const {
    PortId id = 0;
    ByIndex(false, index, &id);
    return id;
}

std::shared_ptr<LoopbackBackend::Port> LoopbackBackend::ByIndex(bool input, int index,
                                                                PortId* found) const {
    std::lock_guard lock(m_mutex);
    int i = 0;
    for (const auto& [id, port] : m_ports) {
        if (port->input == input) {
            if (i == index) {
                if (found != nullptr) {
                    *found = id;
                }
                return port;
            }
            ++i;
        }
    }
    return nullptr;
}

std::vector<std::string> LoopbackBackend::Listed(bool input, std::string Port::*field) const {
    std::lock_guard lock(m_mutex);
    std::vector<std::string> values;
    for (const auto& [id, port] : m_ports) {
        if (port->input == input) {
            values.push_back((*port).*field);
        }
    }
    return values;
}

}  // namespace corvane::midi
