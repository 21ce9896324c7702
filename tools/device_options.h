#pragma once
// The command-line options that describe a simulated device: its names and
// numbers, how it answers, its faults and the files it leaves behind. Shared by
// corvane-devsim and corvane-flash --simulate, so that both take the same words.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "device/device_config.h"

namespace corvane::tools {

struct DeviceOptions {
    device::DeviceConfig config;
    std::string transcriptPath;  // empty: no transcript
    std::string flashDumpPath;   // empty: no flash dump
};

enum class OptionMatch {
    kNotMine,  // not a device option: the caller looks at it
    kTaken,    // taken, with its value if it has one
    kBad,      // a device option with a missing or bad value; `error` says which
};

// Takes the device options out of a command line whose other options the
// program handles itself.
class DeviceOptionParser {
public:
    // Looks at args[index]; when it is a device option, takes it and advances
    // `index` past its value.
    OptionMatch Offer(std::span<const std::string> args, std::size_t& index);
    // What was wrong with the last option that gave kBad.
    const std::string& Error() const { return m_error; }
    // The options once every argument has been offered. Faults are built
    // here, so that the messages they send carry the model byte of --identity
    // wherever it stood.
    DeviceOptions Finish() const;

private:
    DeviceOptions m_options;
    std::vector<std::string> m_faults;
    std::string m_error;
};

// The device options, one per line, for --help.
const char* DeviceOptionsHelp();

}  // namespace corvane::tools
