#include "tools/flash_options.h"

#include "app/updater_dialog.h"
#include "tools/number_text.h"

namespace corvane::tools {

FlashCommandLine ParseFlashOptions(std::span<const std::string> args) {
    FlashOptions options;
    DeviceOptionParser device;
    std::map<int, DeviceOptionParser> units;
    DeviceOptionParser* current = &device;  // where device options go
    bool deviceOptionGiven = false;
    bool portsGiven = false;
    auto usage = [](std::string error) { return FlashCommandLine{std::nullopt, std::move(error)}; };

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help") {
            options.help = true;
        } else if (arg == "--list") {
            options.list = true;
        } else if (arg == "--all") {
            options.all = true;
        } else if (arg == "--wait") {
            options.wait = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--simulate") {
            options.simulate = true;
            // An optional count: a number right after it.
            if (i + 1 < args.size() && !args[i + 1].starts_with("-")) {
                const auto n = ParseNumber(args[++i]);
                if (!n || *n < 1 || *n > static_cast<std::uint32_t>(kMaxSimulated)) {
                    return usage("--simulate " + args[i] + ": expected 1 to " +
                                 std::to_string(kMaxSimulated) + " devices");
                }
                options.simulated = static_cast<int>(*n);
            }
        } else if (arg == "--instance" || arg == "--in" || arg == "--out" || arg == "--image" ||
                   arg == "--unit") {
            if (i + 1 >= args.size()) {
                return usage(arg + " needs a value");
            }
            const std::string& value = args[++i];
            if (arg == "--instance") {
                const auto n = ParseNumber(value);
                if (!n || *n < 1 || *n > static_cast<std::uint32_t>(app::kMaxInstances)) {
                    return usage("--instance " + value + ": expected 1 to " +
                                 std::to_string(app::kMaxInstances));
                }
                options.instance = static_cast<int>(*n);
                portsGiven = true;
            } else if (arg == "--unit") {
                const auto n = ParseNumber(value);
                if (!n || *n < 1 || *n > static_cast<std::uint32_t>(kMaxSimulated)) {
                    return usage("--unit " + value + ": expected a simulated device's number");
                }
                // A unit starts from the device options given before it.
                current = &units.try_emplace(static_cast<int>(*n), device).first->second;
                deviceOptionGiven = true;
            } else if (arg == "--in") {
                options.inPort = value;
                portsGiven = true;
            } else if (arg == "--out") {
                options.outPort = value;
                portsGiven = true;
            } else {
                options.imagePath = value;
            }
        } else {
            const bool name = arg == "--name";
            switch (current->Offer(args, i)) {
                case OptionMatch::kTaken:
                    // --name is also the device name --all looks for.
                    if (name && current == &device) {
                        options.names = {args[i]};
                    } else {
                        deviceOptionGiven = true;
                    }
                    break;
                case OptionMatch::kBad:
                    return usage(current->Error());
                case OptionMatch::kNotMine:
                    return usage("unknown option '" + arg + "'");
            }
        }
    }
    if ((deviceOptionGiven || (!options.names.empty() && !options.all)) && !options.simulate) {
        return usage("device options need --simulate");
    }
    if (options.all && (portsGiven || options.list)) {
        return usage("--all finds the devices itself: no --instance, --in, --out or --list");
    }
    if (!options.all && (options.wait || options.json || options.simulated > 1)) {
        return usage("--wait, --json and several simulated devices need --all");
    }
    if (options.wait && options.simulate) {
        return usage("--wait needs devices that can be plugged in: no --simulate");
    }
    options.device = device.Finish();
    if (options.simulated > 1 &&
        (!options.device.transcriptPath.empty() || !options.device.flashDumpPath.empty())) {
        return usage("several simulated devices take --transcript and --flash-dump after --unit");
    }
    for (const auto& [unit, parser] : units) {
        if (unit > options.simulated) {
            return usage("--unit " + std::to_string(unit) + ": only " +
                         std::to_string(options.simulated) + " simulated devices");
        }
        options.units[unit] = parser.Finish();
    }
    return {std::move(options), {}};
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
