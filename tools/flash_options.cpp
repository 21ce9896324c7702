#include "tools/flash_options.h"

#include "app/updater_dialog.h"
#include "tools/number_text.h"

namespace corvane::tools {

namespace {

// The command line read so far: the options, and what decides which of their
// combinations are allowed.
struct FlashParse {
    FlashOptions options;
    DeviceOptionParser device;
    std::map<int, DeviceOptionParser> units;
    DeviceOptionParser* current = &device;  // where device options go
    bool deviceOptionGiven = false;
    bool portsGiven = false;
};

// How an option takes the argument after it.
enum class Value {
    kNone,           // none: the option is a flag
    kRequired,       // always
    kOptionalCount,  // a number right after it, when one follows
};

struct FlashOption {
    const char* name;
    Value value;
    bool FlashOptions::*flag;  // with Value::kNone: the flag it sets
    // Otherwise: takes the option and its value (null without one); an error
    // text when the value is bad.
    std::string (*take)(FlashParse& parse, const std::string* value);
};

std::string TakeSimulate(FlashParse& parse, const std::string* count) {
    parse.options.simulate = true;
    if (count == nullptr) {
        return {};
    }
    const auto n = ParseNumber(*count);
    if (!n || *n < 1 || *n > static_cast<std::uint32_t>(kMaxSimulated)) {
        return std::string("--simulate ") + *count + ": expected 1 to " +
               std::to_string(kMaxSimulated) + " devices";
    }
    parse.options.simulated = static_cast<int>(*n);
    return {};
}

std::string TakeInstance(FlashParse& parse, const std::string* value) {
    const auto n = ParseNumber(*value);
    if (!n || *n < 1 || *n > static_cast<std::uint32_t>(app::kMaxInstances)) {
        return std::string("--instance ") + *value + ": expected 1 to " +
               std::to_string(app::kMaxInstances);
    }
    parse.options.instance = static_cast<int>(*n);
    parse.portsGiven = true;
    return {};
}

std::string TakeUnit(FlashParse& parse, const std::string* value) {
    const auto n = ParseNumber(*value);
    if (!n || *n < 1 || *n > static_cast<std::uint32_t>(kMaxSimulated)) {
        return std::string("--unit ") + *value + ": expected a simulated device's number";
    }
    // A unit starts from the device options given before it.
    parse.current = &parse.units.try_emplace(static_cast<int>(*n), parse.device).first->second;
    parse.deviceOptionGiven = true;
    return {};
}

std::string TakeIn(FlashParse& parse, const std::string* name) {
    parse.options.inPort = *name;
    parse.portsGiven = true;
    return {};
}

std::string TakeOut(FlashParse& parse, const std::string* name) {
    parse.options.outPort = *name;
    parse.portsGiven = true;
    return {};
}

std::string TakeImage(FlashParse& parse, const std::string* path) {
    parse.options.imagePath = *path;
    return {};
}

// corvane-flash's own options, one row each; the rest go to the device
// option parser.
constexpr FlashOption kFlashOptions[] = {
    {"--help", Value::kNone, &FlashOptions::help, nullptr},
    {"--list", Value::kNone, &FlashOptions::list, nullptr},
    {"--all", Value::kNone, &FlashOptions::all, nullptr},
    {"--wait", Value::kNone, &FlashOptions::wait, nullptr},
    {"--json", Value::kNone, &FlashOptions::json, nullptr},
    {"--simulate", Value::kOptionalCount, nullptr, &TakeSimulate},
    {"--instance", Value::kRequired, nullptr, &TakeInstance},
    {"--unit", Value::kRequired, nullptr, &TakeUnit},
    {"--in", Value::kRequired, nullptr, &TakeIn},
    {"--out", Value::kRequired, nullptr, &TakeOut},
    {"--image", Value::kRequired, nullptr, &TakeImage},
};

const FlashOption* FindFlashOption(const std::string& name) {
    for (const FlashOption& option : kFlashOptions) {
        if (name == option.name) {
            return &option;
        }
    }
    return nullptr;
}

// Takes args[index], one of corvane-flash's own options, and its value,
// advancing `index` past the value.
std::string TakeFlashOption(const FlashOption& option, FlashParse& parse,
                            std::span<const std::string> args, std::size_t& index) {
    const bool follows = index + 1 < args.size();
    switch (option.value) {
        case Value::kNone:
            parse.options.*option.flag = true;
            return {};
        case Value::kRequired:
            if (!follows) {
                return args[index] + " needs a value";
            }
            return option.take(parse, &args[++index]);
        case Value::kOptionalCount:
            if (!follows || args[index + 1].starts_with("-")) {
                return option.take(parse, nullptr);
            }
            return option.take(parse, &args[++index]);
    }
    return {};
}

// Offers args[index] to the device options of the device or unit in hand.
std::string TakeDeviceOption(FlashParse& parse, std::span<const std::string> args,
                             std::size_t& index) {
    const std::string& arg = args[index];
    const bool name = arg == "--name";
    switch (parse.current->Offer(args, index)) {
        case OptionMatch::kTaken:
            // --name is also the device name --all looks for.
            if (name && parse.current == &parse.device) {
                parse.options.names = {args[index]};
            } else {
                parse.deviceOptionGiven = true;
            }
            return {};
        case OptionMatch::kBad:
            return parse.current->Error();
        case OptionMatch::kNotMine:
            break;
    }
    return "unknown option '" + arg + "'";
}

// The combinations of options that make no sense together.
std::string CheckCombination(const FlashParse& parse) {
    const FlashOptions& options = parse.options;
    if ((parse.deviceOptionGiven || (!options.names.empty() && !options.all)) &&
        !options.simulate) {
        return "device options need --simulate";
    }
    if (options.all && (parse.portsGiven || options.list)) {
        return "--all finds the devices itself: no --instance, --in, --out or --list";
    }
    if (!options.all && (options.wait || options.json || options.simulated > 1)) {
        return "--wait, --json and several simulated devices need --all";
    }
    if (options.wait && options.simulate) {
        return "--wait needs devices that can be plugged in: no --simulate";
    }
    return {};
}

// The simulated devices' options, common and per unit, once all are read.
std::string FinishDevices(FlashParse& parse) {
    FlashOptions& options = parse.options;
    options.device = parse.device.Finish();
    if (options.simulated > 1 &&
        (!options.device.transcriptPath.empty() || !options.device.flashDumpPath.empty())) {
        return "several simulated devices take --transcript and --flash-dump after --unit";
    }
    for (const auto& [unit, parser] : parse.units) {
        if (unit > options.simulated) {
            return std::string("--unit ") + std::to_string(unit) + ": only " +
                   std::to_string(options.simulated) + " simulated devices";
        }
        options.units[unit] = parser.Finish();
    }
    return {};
}

FlashCommandLine Usage(std::string error) {
    return FlashCommandLine{std::nullopt, std::move(error)};
}

}  // namespace

FlashCommandLine ParseFlashOptions(std::span<const std::string> args) {
    FlashParse parse;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const FlashOption* own = FindFlashOption(args[i]);
        std::string error =
            own ? TakeFlashOption(*own, parse, args, i) : TakeDeviceOption(parse, args, i);
        if (!error.empty()) {
            return Usage(std::move(error));
        }
    }
    std::string error = CheckCombination(parse);
    if (error.empty()) {
        error = FinishDevices(parse);
    }
    if (!error.empty()) {
        return Usage(std::move(error));
    }
    return {std::move(parse.options), {}};
}

const char* FlashUsage() {
    return "usage: corvane-flash [--instance N | --in NAME --out NAME] [--image FILE]\n"
           "                     [--simulate [device options]] [--list]\n"
           "       corvane-flash --all [--name NAME] [--wait] [--json] [--image FILE]\n"
           "                     [--simulate N [device options] [--unit K [device options]]...]\n"
           "  --instance N   pre-select the ports of copy N (1-20, default 1)\n"
           "  --in NAME      use the MIDI IN port named exactly NAME\n"
           "  --out NAME     use the MIDI OUT port named exactly NAME\n"
           "  --image FILE   flash this container instead of the built-in image\n"
           "  --list         print the port lists, the pre-selected entries marked, and exit\n"
           "  --simulate     update a simulated device inside this process; takes the\n"
           "                 device options of corvane-devsim\n"
           "  --all          update every connected device at once, each followed by its\n"
           "                 USB socket (by its port names where the system has none)\n"
           "  --name NAME    with --all: the device name to look for (default: the names\n"
           "                 the window looks for)\n"
           "  --wait         with --all: go on, and update each device as it is plugged in,\n"
           "                 until Ctrl+C (once: running updates end by themselves; twice:\n"
           "                 they are abandoned)\n"
           "  --json         with --all: one JSON object per event and line\n"
           "  --simulate N   with --all: N simulated devices; device options after\n"
           "                 --unit K apply to the Kth alone\n"
           "  --help         this text\n"
           "  --version      alone: print the program's version and exit\n"
           "Exit status: 0 update completed (with --all: every device's), 1 update failed\n"
           "(any device's, or none found), 2 usage error.\n";
}

}  // namespace corvane::tools
