#pragma once
// What a simulated device leaves behind when it exits: its transcript and a
// dump of its flash memory, where the options asked for them.

#include "device/simulated_device.h"
#include "tools/device_options.h"

namespace corvane::tools {

// Writes the files `options` names; false (after a line on stderr) when one
// could not be written.
bool WriteDeviceFiles(const DeviceOptions& options, const device::SimulatedDevice& device);

}  // namespace corvane::tools
