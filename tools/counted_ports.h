#pragma once
// The simulated device's ports as corvane-devsim runs them: whatever carries
// them, they count the messages handed to them, so that the program knows
// when the device's last answers have gone out.

#include <cstdint>

#include "device/device_ports.h"

namespace corvane::tools {

class CountedPorts : public device::DevicePorts {
public:
    // Messages handed to Send so far, whether or not anybody listened.
    virtual std::uint64_t SendCount() const = 0;
};

}  // namespace corvane::tools
