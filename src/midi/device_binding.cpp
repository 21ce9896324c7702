#include "midi/device_binding.h"

#include <optional>

#include "midi/port_names.h"

namespace corvane::midi {

namespace {

struct Listing {
    std::vector<std::string> names;
    std::vector<std::string> sockets;  // as long as names; empty strings when unknown
};

// Names and sockets apart are two looks at the system: sockets listed for
// another number of ports than the names count as unknown.
Listing List(MidiBackend& system, bool input) {
    Listing listing{input ? system.InputPortNames() : system.OutputPortNames(),
                    input ? system.InputPortSockets() : system.OutputPortSockets()};
    if (listing.sockets.size() != listing.names.size()) {
        listing.sockets.assign(listing.names.size(), std::string());
    }
    return listing;
}

}  // namespace

std::vector<DeviceBinding> FindDevices(MidiBackend& system, const std::vector<std::string>& bases) {
    const Listing in = List(system, true);
    const Listing out = List(system, false);
    std::vector<DeviceBinding> devices;
    auto known = [&devices](const DeviceBinding& d) {
        for (const DeviceBinding& other : devices) {
            if (d.socket.empty() ? other.inName == d.inName : other.socket == d.socket) {
                return true;
            }
        }
        return false;
    };
    for (std::size_t i = 0; i < in.names.size(); ++i) {
        const auto base = BaseNameOf(in.names[i], bases);
        if (!base) {
            continue;
        }
        DeviceBinding device{in.sockets[i], in.names[i], {}, *base};
        for (std::size_t o = 0; o < out.names.size() && device.outName.empty(); ++o) {
            const bool pairs = device.socket.empty()
                                   ? out.sockets[o].empty() && out.names[o] == device.inName
                                   : out.sockets[o] == device.socket &&
                                         BaseNameOf(out.names[o], bases).has_value();
            if (pairs) {
                device.outName = out.names[o];
            }
        }
        if (!device.outName.empty() && !known(device)) {
            devices.push_back(std::move(device));
        }
    }
    return devices;
}

BoundPorts::BoundPorts(MidiBackend& system, DeviceBinding binding, std::vector<std::string> bases)
    : m_system(system), m_binding(std::move(binding)), m_bases(std::move(bases)) {}

BoundPorts::Place BoundPorts::Find(bool input) const {
    const Listing listing = List(m_system, input);
    const std::string& exact = input ? m_binding.inName : m_binding.outName;
    for (std::size_t i = 0; i < listing.names.size(); ++i) {
        const std::string& name = listing.names[i];
        if (m_binding.socket.empty()) {
            if (name == exact && listing.sockets[i].empty()) {
                return {static_cast<int>(i), m_binding.base};
            }
        } else if (listing.sockets[i] == m_binding.socket) {
            if (auto base = BaseNameOf(name, m_bases)) {
                return {static_cast<int>(i), std::move(*base)};
            }
        }
    }
    return {};
}

std::vector<std::string> BoundPorts::InputPortNames() {
    Place place = Find(true);
    return place.index < 0 ? std::vector<std::string>{} : std::vector{std::move(place.base)};
}

std::vector<std::string> BoundPorts::OutputPortNames() {
    Place place = Find(false);
    return place.index < 0 ? std::vector<std::string>{} : std::vector{std::move(place.base)};
}

std::unique_ptr<OutputConnection> BoundPorts::OpenOutput(int index) {
    const Place place = Find(false);
    return index == 0 && place.index >= 0 ? m_system.OpenOutput(place.index) : nullptr;
}

std::unique_ptr<InputConnection> BoundPorts::OpenInput(int index, InputHandler handler) {
    const Place place = Find(true);
    return index == 0 && place.index >= 0 ? m_system.OpenInput(place.index, std::move(handler))
                                          : nullptr;
}

}  // namespace corvane::midi
