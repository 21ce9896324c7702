#pragma once
// One MIDI system's ports as the updater knows them: each port with its name,
// its socket and a key that names it for as long as it stays. Looks at the
// system, tells what came and went between two looks, and opens a port by its
// key. It keeps no state of its own, so any thread may use it.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "midi/midi_backend.h"

namespace corvane::midi {

enum class PortList { kInput, kOutput };

struct Port {
    std::string name;    // as the system lists it now, identical names numbered
    std::string socket;  // where the device is plugged in; empty where the system cannot tell
    // "socket:<socket>" (with "#n" for the n-th port of one socket, n from 2)
    // where the socket is known: the same when the device re-enumerates.
    // Otherwise "name:<name>": the port is followed by the name it goes by.
    std::string key;

    bool operator==(const Port&) const = default;
};

struct PortSnapshot {
    std::vector<Port> inputs;
    std::vector<Port> outputs;

    const std::vector<Port>& Of(PortList list) const;
    // The port of `key`; null when the list holds none.
    const Port* Find(PortList list, const std::string& key) const;
    bool operator==(const PortSnapshot&) const = default;
};

struct PortChange {
    enum Kind { kAdded, kRemoved };
    Kind kind;
    PortList list;
    Port port;

    bool operator==(const PortChange&) const = default;
};

// The ports, by key, that `after` holds and `before` does not (added), and
// those `before` holds and `after` does not (removed); a port that kept its key
// but changed its name counts as removed and added.
std::vector<PortChange> ChangesBetween(const PortSnapshot& before, const PortSnapshot& after);

class PortDirectory {
public:
    explicit PortDirectory(MidiBackend& system);

    // A look two looks in a row agree on; nullopt while the system keeps
    // changing. A device coming or going while the system is listed can leave
    // ports without their socket for one look, and would pass for another.
    std::optional<PortSnapshot> SteadyLook();
    // A steady look, or while the system keeps changing the last one.
    PortSnapshot Look();

    // Null when no port has the key or the port refuses to open. The system
    // opens by its own list of the moment, which may have moved since it was
    // looked at: a port opened while the list moved is not kept, and the
    // opening is tried again.
    std::unique_ptr<OutputConnection> OpenOutput(const std::string& key);
    std::unique_ptr<InputConnection> OpenInput(const std::string& key, InputHandler handler);

private:
    std::vector<Port> List(PortList list);
    template <class Open>
    auto OpenBetweenLooks(PortList list, const std::string& key, Open open) -> decltype(open(0));

    MidiBackend& m_system;
};

}  // namespace corvane::midi
