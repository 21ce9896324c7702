#pragma once
// The command line of corvane-flash.

#include <optional>
#include <span>
#include <string>

#include "tools/device_options.h"

namespace corvane::tools {

struct FlashOptions {
    int instance = 1;
    // Ports chosen by exact name instead of the pre-selection.
    std::optional<std::string> inPort;
    std::optional<std::string> outPort;
    bool list = false;
    bool help = false;
    std::string imagePath;  // empty: the built-in image
    bool simulate = false;
    DeviceOptions device;  // with simulate only
};

struct FlashCommandLine {
    std::optional<FlashOptions> options;  // unset: a usage error
    std::string error;
};

FlashCommandLine ParseFlashOptions(std::span<const std::string> args);

const char* FlashUsage();

}  // namespace corvane::tools
