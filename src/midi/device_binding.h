#pragma once
// Several devices on one MIDI system, each followed by where it is plugged
// in: FindDevices pairs each device's input with its output, and BoundPorts
// shows one of them to a dialog as if the system held that device alone.

#include <optional>
#include <string>
#include <vector>

#include "midi/midi_backend.h"

namespace corvane::midi {

struct DeviceBinding {
    // Where the device is plugged in; empty where the system cannot tell, and
    // the device is followed by its port names instead.
    std::string socket;
    std::string inName;  // the ports' names when the device was found
    std::string outName;
    std::string base;  // the wanted name the ports carry, without a number
};

// Every device whose ports carry one of `bases` (numbered or not), in the
// order of the input list: an input with the first output of its socket, or,
// where the socket is unknown, with the output of the very same name.
// Nothing while the system's lists keep changing under repeated looks: what
// is plugged in is not known then, and a later look tells.
std::optional<std::vector<DeviceBinding>> FindDevices(MidiBackend& system,
                                                      const std::vector<std::string>& bases);

class BoundPorts final : public MidiBackend {
public:
    // `bases`: the names the device may carry, also after a restart.
    BoundPorts(MidiBackend& system, DeviceBinding binding, std::vector<std::string> bases);

    // At most one port each, named by its base: the same name however the
    // system numbers identical devices now.
    std::vector<std::string> InputPortNames() override;
    std::vector<std::string> OutputPortNames() override;
    std::unique_ptr<OutputConnection> OpenOutput(int index) override;
    std::unique_ptr<InputConnection> OpenInput(int index, InputHandler handler) override;

private:
    struct Place {
        int index = -1;  // in the system's list; -1 when the device is not there
        std::string base;
    };
    Place Find(bool input) const;

    MidiBackend& m_system;
    const DeviceBinding m_binding;
    const std::vector<std::string> m_bases;
};

}  // namespace corvane::midi
