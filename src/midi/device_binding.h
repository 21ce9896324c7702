#pragma once
// Several devices on one MIDI system, each followed by its ports' keys:
// FindDevices pairs each device's input with its output, and BoundPorts
// shows one of them to a dialog as if the system held that device alone.

#include <string>
#include <vector>

#include "midi/midi_backend.h"
#include "midi/port_directory.h"

namespace corvane::midi {

struct DeviceBinding {
    // Where the device is plugged in; empty where the system cannot tell, and
    // the device is followed by its port names instead.
    std::string socket;
    std::string inName;  // the ports' names when the device was found
    std::string outName;
    std::string base;   // the wanted name the ports carry, without a number
    std::string inKey;  // the ports' keys in the directory
    std::string outKey;
};

// Every device whose ports carry one of `bases` (numbered or not), in the
// order of the input list: an input with the first output of its socket, or,
// where the socket is unknown, with the output of the very same name.
std::vector<DeviceBinding> FindDevices(const PortSnapshot& ports,
                                       const std::vector<std::string>& bases);

class BoundPorts final : public MidiBackend {
public:
    // `bases`: the names the device may carry, also after a restart.
    BoundPorts(PortDirectory& ports, DeviceBinding binding, std::vector<std::string> bases);

    // At most one port each, named by its base: the same name however the
    // system numbers identical devices now.
    std::vector<std::string> InputPortNames() override;
    std::vector<std::string> OutputPortNames() override;
    std::unique_ptr<OutputConnection> OpenOutput(int index) override;
    std::unique_ptr<InputConnection> OpenInput(int index, InputHandler handler) override;

private:
    // The base the bound port's name carries now; empty when it is not there.
    std::vector<std::string> Names(PortList list, const std::string& key);

    PortDirectory& m_ports;
    const DeviceBinding m_binding;
    const std::vector<std::string> m_bases;
};

}  // namespace corvane::midi
