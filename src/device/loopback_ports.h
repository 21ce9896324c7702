#pragma once
// The device's ports on the in-process loopback MIDI system.

#include <memory>

#include "device/device_config.h"
#include "device/device_ports.h"
#include "device/simulated_device.h"
#include "midi/loopback_backend.h"

namespace corvane::device {

class LoopbackPorts final : public DevicePorts {
public:
    // `socket`: where the device is plugged in, the same whenever it appears.
    explicit LoopbackPorts(midi::LoopbackBackend& backend, std::string socket = {});
    ~LoopbackPorts() override;
    LoopbackPorts(const LoopbackPorts&) = delete;
    LoopbackPorts& operator=(const LoopbackPorts&) = delete;

    bool Attach(const std::string& name, Receiver receiver) override;
    void Detach() override;
    bool Send(midi::ByteView message) override;

private:
    midi::LoopbackBackend& m_backend;
    const std::string m_socket;
    // Touched only by the device's own thread (and its owner before and after it).
    bool m_attached = false;
    midi::LoopbackBackend::PortId m_input = 0;   // the updater reads from it
    midi::LoopbackBackend::PortId m_output = 0;  // the updater writes to it
};

// Starts a device with `config` whose ports appear on `backend` at once, in
// `socket` where one is given.
std::unique_ptr<SimulatedDevice> StartLoopbackDevice(midi::LoopbackBackend& backend,
                                                     DeviceConfig config, std::string socket = {});

}  // namespace corvane::device
