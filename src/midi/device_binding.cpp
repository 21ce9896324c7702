#include "midi/device_binding.h"

#include <optional>
#include <utility>

#include "midi/port_names.h"

namespace corvane::midi {

namespace {

struct Listing {
    std::vector<std::string> names;
    std::vector<std::string> sockets;  // as long as names; empty strings when unknown

    bool operator==(const Listing&) const = default;
};

// How often a listing or an opening is tried while the system's lists change
// under it.
constexpr int kAttempts = 5;

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

// A device coming or going while the system is listed can leave ports
// without their socket for that look (a card gone before its socket is read,
// or a count that changed between two looks blanks a whole source's
// sockets): a device would pass for another one followed by its name, or its
// run would take it for gone. So a listing counts when two looks in a row
// agree on it; nothing while the system keeps changing.
std::optional<Listing> SteadyListing(MidiBackend& system, bool input) {
    Listing last = List(system, input);
    for (int attempt = 1; attempt < kAttempts; ++attempt) {
        Listing again = List(system, input);
        if (again == last) {
            return last;
        }
        last = std::move(again);
    }
    return std::nullopt;
}

// The index of the bound device's port in `listing`, and the base its name
// carries; nothing when the device is not there.
std::optional<std::pair<int, std::string>> PlaceIn(const Listing& listing,
                                                   const DeviceBinding& binding,
                                                   const std::vector<std::string>& bases,
                                                   bool input) {
    const std::string& exact = input ? binding.inName : binding.outName;
    for (std::size_t i = 0; i < listing.names.size(); ++i) {
        const std::string& name = listing.names[i];
        if (binding.socket.empty()) {
            if (name == exact && listing.sockets[i].empty()) {
                return std::pair{static_cast<int>(i), binding.base};
            }
        } else if (listing.sockets[i] == binding.socket) {
            if (auto base = BaseNameOf(name, bases)) {
                return std::pair{static_cast<int>(i), std::move(*base)};
            }
        }
    }
    return std::nullopt;
}

// An index names a port only in the listing it came from, and the system
// opens by its own listing of that moment: while other devices restart or go,
// the two can differ, and the index would open a neighbour's port. So the
// port is opened between two listings and kept only when they agree;
// otherwise the opening is tried again.
template <class Open>
auto OpenBetweenListings(MidiBackend& system, const DeviceBinding& binding,
                         const std::vector<std::string>& bases, bool input, Open open)
    -> decltype(open(0)) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const std::optional<Listing> before = SteadyListing(system, input);
        if (!before) {
            continue;
        }
        const auto place = PlaceIn(*before, binding, bases, input);
        if (!place) {
            return nullptr;
        }
        auto connection = open(place->first);
        if (List(system, input) == *before) {
            return connection;
        }
    }
    return nullptr;
}

}  // namespace

std::optional<std::vector<DeviceBinding>> FindDevices(MidiBackend& system,
                                                      const std::vector<std::string>& bases) {
    const std::optional<Listing> steadyIn = SteadyListing(system, true);
    const std::optional<Listing> steadyOut = SteadyListing(system, false);
    if (!steadyIn || !steadyOut) {
        return std::nullopt;
    }
    const Listing& in = *steadyIn;
    const Listing& out = *steadyOut;
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
    // While the system keeps changing, its last look.
    const std::optional<Listing> steady = SteadyListing(m_system, input);
    auto place = PlaceIn(steady ? *steady : List(m_system, input), m_binding, m_bases, input);
    return place ? Place{place->first, std::move(place->second)} : Place{};
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
    if (index != 0) {
        return nullptr;
    }
    return OpenBetweenListings(m_system, m_binding, m_bases, false,
                               [this](int at) { return m_system.OpenOutput(at); });
}

std::unique_ptr<InputConnection> BoundPorts::OpenInput(int index, InputHandler handler) {
    if (index != 0) {
        return nullptr;
    }
    // Each attempt gets its own copy: a dropped connection takes its handler along.
    return OpenBetweenListings(m_system, m_binding, m_bases, true, [this, &handler](int at) {
        return m_system.OpenInput(at, handler);
    });
}

}  // namespace corvane::midi
