#include "midi/port_directory.h"

#include <algorithm>
#include <map>
#include <utility>

namespace corvane::midi {

namespace {

// How often a look or an opening is tried while the system's lists change
// under it.
constexpr int kAttempts = 5;

std::vector<PortChange> Missing(const std::vector<Port>& from, const std::vector<Port>& in,
                                PortChange::Kind kind, PortList list) {
    std::vector<PortChange> changes;
    for (const Port& port : from) {
        if (std::find(in.begin(), in.end(), port) == in.end()) {
            changes.push_back({kind, list, port});
        }
    }
    return changes;
}

}  // namespace

const std::vector<Port>& PortSnapshot::Of(PortList list) const {
    return list == PortList::kInput ? inputs : outputs;
}

const Port* PortSnapshot::Find(PortList list, const std::string& key) const {
    const std::vector<Port>& ports = Of(list);
    const auto it =
        std::find_if(ports.begin(), ports.end(), [&key](const Port& p) { return p.key == key; });
    return it == ports.end() ? nullptr : &*it;
}

std::vector<PortChange> ChangesBetween(const PortSnapshot& before, const PortSnapshot& after) {
    std::vector<PortChange> changes;
    for (const PortList list : {PortList::kInput, PortList::kOutput}) {
        for (auto& change : Missing(before.Of(list), after.Of(list), PortChange::kRemoved, list)) {
            changes.push_back(std::move(change));
        }
        for (auto& change : Missing(after.Of(list), before.Of(list), PortChange::kAdded, list)) {
            changes.push_back(std::move(change));
        }
    }
    return changes;
}

PortDirectory::PortDirectory(MidiBackend& system) : m_system(system) {}

// Names and sockets apart are two looks at the system: sockets listed for
// another number of ports than the names count as unknown.
std::vector<Port> PortDirectory::List(PortList list) {
    const bool input = list == PortList::kInput;
    std::vector<std::string> names = input ? m_system.InputPortNames() : m_system.OutputPortNames();
    std::vector<std::string> sockets =
        input ? m_system.InputPortSockets() : m_system.OutputPortSockets();
    if (sockets.size() != names.size()) {
        sockets.assign(names.size(), std::string());
    }
    std::vector<Port> ports;
    std::map<std::string, int> perSocket;
    for (std::size_t i = 0; i < names.size(); ++i) {
        Port port{std::move(names[i]), std::move(sockets[i]), {}};
        if (port.socket.empty()) {
            port.key = "name:" + port.name;
        } else {
            const int nth = ++perSocket[port.socket];
            port.key = "socket:" + port.socket;
            if (nth > 1) {
                port.key += '#';
                port.key += std::to_string(nth);
            }
        }
        ports.push_back(std::move(port));
    }
    return ports;
}

std::optional<PortSnapshot> PortDirectory::SteadyLook() {
    PortSnapshot last{List(PortList::kInput), List(PortList::kOutput)};
    for (int attempt = 1; attempt < kAttempts; ++attempt) {
        PortSnapshot again{List(PortList::kInput), List(PortList::kOutput)};
        if (again == last) {
            return last;
        }
        last = std::move(again);
    }
    return std::nullopt;
}

PortSnapshot PortDirectory::Look() {
    if (std::optional<PortSnapshot> steady = SteadyLook()) {
        return std::move(*steady);
    }
    return {List(PortList::kInput), List(PortList::kOutput)};
}

template <class Open>
auto PortDirectory::OpenBetweenLooks(PortList list, const std::string& key, Open open)
    -> decltype(open(0)) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const std::vector<Port> before = List(list);
        if (List(list) != before) {
            continue;
        }
        const auto it = std::find_if(before.begin(), before.end(),
                                     [&key](const Port& p) { return p.key == key; });
        if (it == before.end()) {
            return nullptr;
        }
        auto connection = open(static_cast<int>(it - before.begin()));
        if (List(list) == before) {
            return connection;
        }
    }
    return nullptr;
}

std::unique_ptr<OutputConnection> PortDirectory::OpenOutput(const std::string& key) {
    return OpenBetweenLooks(PortList::kOutput, key,
                            [this](int at) { return m_system.OpenOutput(at); });
}

std::unique_ptr<InputConnection> PortDirectory::OpenInput(const std::string& key,
                                                          InputHandler handler) {
    // Each attempt gets its own copy: a dropped connection takes its handler along.
    return OpenBetweenLooks(PortList::kInput, key,
                            [this, &handler](int at) { return m_system.OpenInput(at, handler); });
}

}  // namespace corvane::midi
