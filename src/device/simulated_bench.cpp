#include "device/simulated_bench.h"

#include "device/loopback_ports.h"
#include "midi/port_names.h"

namespace corvane::device {

SimulatedBench::SimulatedBench(std::vector<DeviceConfig> configs) {
    for (std::size_t i = 0; i < configs.size(); ++i) {
        m_devices.push_back(
            StartLoopbackDevice(m_loopback, std::move(configs[i]), "sim-" + std::to_string(i + 1)));
    }
}

SimulatedBench::~SimulatedBench() = default;

std::vector<std::string> SimulatedBench::InputPortNames() {
    return midi::NumberDuplicates(m_loopback.InputPortNames());
}

std::vector<std::string> SimulatedBench::OutputPortNames() {
    return midi::NumberDuplicates(m_loopback.OutputPortNames());
}

std::vector<std::string> SimulatedBench::InputPortSockets() {
    return m_loopback.InputPortSockets();
}

std::vector<std::string> SimulatedBench::OutputPortSockets() {
    return m_loopback.OutputPortSockets();
}

std::unique_ptr<midi::OutputConnection> SimulatedBench::OpenOutput(int index) {
    return m_loopback.OpenOutput(index);
}

std::unique_ptr<midi::InputConnection> SimulatedBench::OpenInput(int index,
                                                                 midi::InputHandler handler) {
    return m_loopback.OpenInput(index, std::move(handler));
}

}  // namespace corvane::device
