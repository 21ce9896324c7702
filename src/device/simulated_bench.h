#pragma once
// Several simulated devices on one in-process MIDI system, each plugged into
// a socket of its own ("sim-1", "sim-2"...). Identical names are numbered
// " (2)", " (3)"... in list order, as the system backend numbers them; a
// device that restarts comes back at the end of the lists, so the numbers of
// identical devices change as they do on a real system.

#include <memory>
#include <vector>

#include "device/simulated_device.h"
#include "midi/loopback_backend.h"

namespace corvane::device {

class SimulatedBench final : public midi::MidiBackend {
public:
    explicit SimulatedBench(std::vector<DeviceConfig> configs);
    ~SimulatedBench() override;

    std::size_t Count() const { return m_devices.size(); }
    // Device i (from 0), in socket "sim-<i + 1>".
    SimulatedDevice& Device(std::size_t i) { return *m_devices.at(i); }

    std::vector<std::string> InputPortNames() override;
    std::vector<std::string> OutputPortNames() override;
    std::vector<std::string> InputPortSockets() override;
    std::vector<std::string> OutputPortSockets() override;
    std::unique_ptr<midi::OutputConnection> OpenOutput(int index) override;
    std::unique_ptr<midi::InputConnection> OpenInput(int index,
                                                     midi::InputHandler handler) override;

private:
    midi::LoopbackBackend m_loopback;
    std::vector<std::unique_ptr<SimulatedDevice>> m_devices;  // go before the ports they sit on
};

}  // namespace corvane::device
