#include "device/demo_system.h"

#include "device/loopback_ports.h"

namespace corvane::device {

DeviceConfig DemoSystem::DemoDevice(Millis away) {
    DeviceConfig config;
    config.prepareStatus = kPrepareRestart;
    config.restartDelay = away;
    config.keepTranscript = false;
    return config;
}

DemoSystem::DemoSystem(DeviceConfig config)
    : m_device(StartLoopbackDevice(m_loopback, std::move(config))) {}

DemoSystem::~DemoSystem() = default;

std::vector<std::string> DemoSystem::InputPortNames() {
    return m_loopback.InputPortNames();
}

std::vector<std::string> DemoSystem::OutputPortNames() {
    return m_loopback.OutputPortNames();
}

std::unique_ptr<midi::OutputConnection> DemoSystem::OpenOutput(int index) {
    return m_loopback.OpenOutput(index);
}

std::unique_ptr<midi::InputConnection> DemoSystem::OpenInput(int index,
                                                             midi::InputHandler handler) {
    return m_loopback.OpenInput(index, std::move(handler));
}

}  // namespace corvane::device
