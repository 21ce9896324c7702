#pragma once
// The ways an Execute can end, or that its run still goes on, and the device
// (or the ports without one) that makes it end so, for the window tests.

#include <memory>

#include "device/loopback_ports.h"
#include "midi/loopback_backend.h"

namespace corvane::testing {

enum class RunEnd { kOutputRefused, kInputRefused, kFailed, kCompleted, kWaiting, kRunning };

// Null where the start is refused before any device answers.
inline std::unique_ptr<device::SimulatedDevice> StartDeviceEndingIn(midi::LoopbackBackend& backend,
                                                                    RunEnd end) {
    device::DeviceConfig config;
    switch (end) {
        case RunEnd::kOutputRefused:
            return nullptr;
        case RunEnd::kInputRefused:
            backend.RefuseOpen(backend.AddInput(config.portName), true);
            backend.AddOutput(config.portName);
            return nullptr;
        case RunEnd::kFailed:
            config.faults.push_back(device::Fault::Refuse(device::RequestKind::kOpening, 1));
            break;
        case RunEnd::kWaiting:
            config.prepareStatus = device::kPrepareRestart;
            config.restartDelay = device::kForever;
            break;
        case RunEnd::kRunning:
            // The run waits for the identity reply until the window goes.
            config.faults.push_back(device::Fault::Drop(device::RequestKind::kIdentity, 1));
            break;
        case RunEnd::kCompleted:
            break;
    }
    return device::StartLoopbackDevice(backend, config);
}

}  // namespace corvane::testing
