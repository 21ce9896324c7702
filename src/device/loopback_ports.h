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
    explicit LoopbackPorts(midi::LoopbackBackend& backend);
    ~LoopbackPorts() override;
    LoopbackPorts(const LoopbackPorts&) = delete;
    LoopbackPorts& operator=(const LoopbackPorts&) = delete;

    bool Attach(const std::string& name, Receiver receiver) override;
    void Detach() override;
    bool Send(midi::ByteView message) override;

private:
    midi::LoopbackBackend& m_backend;
    // Touched only by the device's own thread (and its owner before and after it).
    bool m_attached = false;
    midi::LoopbackBackend::PortId m_input = 0;   // the updater reads from it
    midi::LoopbackBackend::PortId m_output = 0;  // the updater writes to it
};

// Starts a device with `config` whose ports appear on `backend` at once.
std::unique_ptr<SimulatedDevice> StartLoopbackDevice(midi::LoopbackBackend& backend,
                                                     DeviceConfig config);

}  // namespace corvane::device
