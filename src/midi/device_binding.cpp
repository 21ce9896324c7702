#include "midi/device_binding.h"

#include <utility>

#include "midi/port_names.h"

namespace corvane::midi {

std::vector<DeviceBinding> FindDevices(const PortSnapshot& ports,
                                       const std::vector<std::string>& bases) {
    std::vector<DeviceBinding> devices;
    auto known = [&devices](const DeviceBinding& d) {
        for (const DeviceBinding& other : devices) {
            if (d.socket.empty() ? other.inName == d.inName : other.socket == d.socket) {
                return true;
            }
        }
        return false;
    };
    for (const Port& in : ports.inputs) {
        const auto base = BaseNameOf(in.name, bases);
        if (!base) {
            continue;
        }
        DeviceBinding device{in.socket, in.name, {}, *base, in.key, {}};
        for (const Port& out : ports.outputs) {
            const bool pairs =
                device.socket.empty()
                    ? out.socket.empty() && out.name == device.inName
                    : out.socket == device.socket && BaseNameOf(out.name, bases).has_value();
            if (pairs) {
                device.outName = out.name;
                device.outKey = out.key;
                break;
            }
        }
        if (!device.outName.empty() && !known(device)) {
            devices.push_back(std::move(device));
        }
    }
    return devices;
}

BoundPorts::BoundPorts(PortDirectory& ports, DeviceBinding binding, std::vector<std::string> bases)
    : m_ports(ports), m_binding(std::move(binding)), m_bases(std::move(bases)) {}

std::vector<std::string> BoundPorts::Names(PortList list, const std::string& key) {
    const PortSnapshot now = m_ports.Look();
    const Port* port = now.Find(list, key);
    if (port == nullptr) {
        return {};
    }
    if (port->socket.empty()) {
        return {m_binding.base};  // the very name it was found by
    }
    auto base = BaseNameOf(port->name, m_bases);
    return base ? std::vector{std::move(*base)} : std::vector<std::string>{};
}

std::vector<std::string> BoundPorts::InputPortNames() {
    return Names(PortList::kInput, m_binding.inKey);
}

std::vector<std::string> BoundPorts::OutputPortNames() {
    return Names(PortList::kOutput, m_binding.outKey);
}

std::unique_ptr<OutputConnection> BoundPorts::OpenOutput(int index) {
    return index == 0 ? m_ports.OpenOutput(m_binding.outKey) : nullptr;
}

std::unique_ptr<InputConnection> BoundPorts::OpenInput(int index, InputHandler handler) {
    return index == 0 ? m_ports.OpenInput(m_binding.inKey, std::move(handler)) : nullptr;
}

}  // namespace corvane::midi
