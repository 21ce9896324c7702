#pragma once
// The command line of corvane-flash.

#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tools/device_options.h"

namespace corvane::tools {

// Simulated devices at most with --simulate N.
inline constexpr int kMaxSimulated = 100;

struct FlashOptions {
    int instance = 1;
    // Ports chosen by exact name instead of the pre-selection.
    std::optional<std::string> inPort;
    std::optional<std::string> outPort;
    bool list = false;
    bool help = false;
    std::string imagePath;  // empty: the built-in image
    bool simulate = false;
    int simulated = 1;     // --simulate N
    DeviceOptions device;  // with simulate only
    // --unit K: simulated device K's own options (from 1), over the common ones.
    std::map<int, DeviceOptions> units;
    // Every device at once (--all), looking on for new ones (--wait).
    bool all = false;
    bool wait = false;
    bool json = false;
    // The device names --all looks for; empty: those the window looks for.
    std::vector<std::string> names;
};

struct FlashCommandLine {
    std::optional<FlashOptions> options;  // unset: a usage error
    std::string error;
};

FlashCommandLine ParseFlashOptions(std::span<const std::string> args);

const char* FlashUsage();

}  // namespace corvane::tools
