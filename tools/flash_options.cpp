#include "tools/flash_options.h"

#include "app/updater_dialog.h"
#include "tools/number_text.h"

namespace corvane::tools {

FlashCommandLine ParseFlashOptions(std::span<const std::string> args) {
    FlashOptions options;
    DeviceOptionParser device;
    bool deviceOptionGiven = false;
    auto usage = [](std::string error) { return FlashCommandLine{std::nullopt, std::move(error)}; };

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help") {
            options.help = true;
        } else if (arg == "--list") {
            options.list = true;
        } else if (arg == "--simulate") {
            options.simulate = true;
        } else if (arg == "--instance" || arg == "--in" || arg == "--out" || arg == "--image") {
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
            } else if (arg == "--in") {
                options.inPort = value;
            } else if (arg == "--out") {
                options.outPort = value;
            } else {
                options.imagePath = value;
            }
        } else {
            switch (device.Offer(args, i)) {
                case OptionMatch::kTaken:
                    deviceOptionGiven = true;
                    break;
                case OptionMatch::kBad:
                    return usage(device.Error());
                case OptionMatch::kNotMine:
                    return usage("unknown option '" + arg + "'");
            }
        }
    }
    if (deviceOptionGiven && !options.simulate) {
        return usage("device options need --simulate");
    }
    options.device = device.Finish();
    return {std::move(options), {}};
}

const char* FlashUsage() {
    return "usage: corvane-flash [--instance N | --in NAME --out NAME] [--image FILE]\n"
           "                     [--simulate [device options]] [--list]\n"
           "  --instance N   pre-select the ports of copy N (1-20, default 1)\n"
           "  --in NAME      use the MIDI IN port named exactly NAME\n"
           "  --out NAME     use the MIDI OUT port named exactly NAME\n"
           "  --image FILE   flash this container instead of the built-in image\n"
           "  --list         print the port lists, the pre-selected entries marked, and exit\n"
           "  --simulate     update a simulated device inside this process; takes the\n"
           "                 device options of corvane-devsim\n"
           "  --help         this text\n"
           "  --version      alone: print the program's version and exit\n"
           "Exit status: 0 update completed, 1 update failed, 2 usage error.\n";
}

}  // namespace corvane::tools
