// corvane-devsim: the simulated device as a process of its own, on a pair of
// virtual MIDI ports of the platform's MIDI system, so that an updater in
// another process finds it by name.
//   corvane-devsim [device options] [--exit-after-update]
// Ends on SIGINT or SIGTERM, or with --exit-after-update once it has answered
// a closing request. Exit status: 0 success, 1 no MIDI system or a file could
// not be written, 2 usage error.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/simulated_device.h"
#include "tools/device_files.h"
#include "tools/device_options.h"
#include "tools/stop_signals.h"
#include "tools/system_ports.h"
#include "version/program_version.h"

namespace {

using namespace corvane;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// How long an answer to the closing request may still be on its way.
constexpr auto kClosingGrace = std::chrono::seconds(5);

void PrintHelp(std::FILE* to) {
    std::fprintf(to,
                 "usage: corvane-devsim [device options] [--exit-after-update]\n"
                 "  --exit-after-update    exit once a closing request has been answered\n"
                 "  --help                 this text\n"
                 "  --version              alone: print the program's version and exit\n"
                 "Ends on SIGINT or SIGTERM.\n%s",
                 tools::DeviceOptionsHelp());
}

// Whether every message the device has decided to send so far has gone out:
// the transcript lists each one when it is decided, the ports count the sends.
bool AnswersSent(const device::SimulatedDevice& device, const tools::SystemPorts& ports) {
    const auto transcript = device.Transcript();
    const auto decided = std::count_if(transcript.begin(), transcript.end(),
                                       [](const std::string& line) { return line[0] == '<'; });
    return ports.SendCount() >= static_cast<std::uint64_t>(decided);
}

}  // namespace

int main(int argc, char** argv) {
    if (AsksForVersion(argc, argv)) {
        PrintVersion("corvane-devsim");
        return kExitOk;
    }
    const std::vector<std::string> args(argv + 1, argv + argc);
    tools::DeviceOptionParser parser;
    bool exitAfterUpdate = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--help") {
            PrintHelp(stdout);
            return kExitOk;
        }
        if (args[i] == "--exit-after-update") {
            exitAfterUpdate = true;
            continue;
        }
        switch (parser.Offer(args, i)) {
            case tools::OptionMatch::kTaken:
                continue;
            case tools::OptionMatch::kBad:
                std::fprintf(stderr, "corvane-devsim: %s\n", parser.Error().c_str());
                return kExitUsage;
            case tools::OptionMatch::kNotMine:
                std::fprintf(stderr, "corvane-devsim: unknown option '%s'\n", args[i].c_str());
                PrintHelp(stderr);
                return kExitUsage;
        }
    }
    tools::DeviceOptions options = parser.Finish();
    // The transcript is also how --exit-after-update knows the answers are out.
    options.config.keepTranscript = !options.transcriptPath.empty() || exitAfterUpdate;

    tools::BlockStopSignals();

    auto owned = std::make_unique<tools::SystemPorts>();
    const tools::SystemPorts& ports = *owned;
    const std::string name = options.config.portName;
    device::SimulatedDevice device(options.config, std::move(owned));
    if (!device.IsPresent()) {
        std::fprintf(stderr, "Error: cannot open MIDI ports \"%s\": no MIDI system reachable\n",
                     name.c_str());
        return kExitFailed;
    }
    std::printf("corvane-devsim: ports \"%s\" ready\n", name.c_str());
    std::fflush(stdout);

    std::optional<std::chrono::steady_clock::time_point> closedAt;
    for (;;) {
        if (tools::WaitForStopSignal(std::chrono::milliseconds(50))) {
            break;
        }
        if (!exitAfterUpdate) {
            continue;
        }
        if (!closedAt && device.Counters().Requests(device::RequestKind::kClosing) > 0) {
            closedAt = std::chrono::steady_clock::now();
        }
        if (closedAt && (AnswersSent(device, ports) ||
                         std::chrono::steady_clock::now() - *closedAt > kClosingGrace)) {
            break;
        }
    }
    const auto counters = device.Counters();
    int requests = 0;
    for (int n : counters.requests) {
        requests += n;
    }
    std::printf("corvane-devsim: exiting after %d requests\n", requests);
    return tools::WriteDeviceFiles(options, device) ? kExitOk : kExitFailed;
}
