#pragma once
// A MIDI system with one simulated device on it, for the demo updater: the
// device asks to be restarted into its update mode the first time, comes
// back by itself after a few seconds, and then takes the update.

#include <memory>

#include "device/simulated_device.h"
#include "midi/loopback_backend.h"

namespace corvane::device {

class DemoSystem final : public midi::MidiBackend {
public:
    // The demo device's settings: "BRAX Lumen Series", restarting once.
    static DeviceConfig DemoDevice(Millis away = std::chrono::seconds(3));

    explicit DemoSystem(DeviceConfig config = DemoDevice());
    ~DemoSystem() override;

    SimulatedDevice& Device() { return *m_device; }

    std::vector<std::string> InputPortNames() override;
    std::vector<std::string> OutputPortNames() override;
    std::unique_ptr<midi::OutputConnection> OpenOutput(int index) override;
    std::unique_ptr<midi::InputConnection> OpenInput(int index,
                                                     midi::InputHandler handler) override;

private:
    midi::LoopbackBackend m_loopback;
    std::unique_ptr<SimulatedDevice> m_device;  // goes before the ports it sits on
};

}  // namespace corvane::device
