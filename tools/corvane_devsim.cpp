// corvane-devsim: the simulated device as a process of its own, on a pair of
// virtual MIDI ports of the platform's MIDI system, so that an updater in
// another process finds it by name; or, on Linux, on a raw MIDI port of this
// machine or as a USB MIDI gadget.
//   corvane-devsim [device options] [--rawmidi PORT | --usb-gadget UDC] [--exit-after-update]
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
#include "program/exit_codes.h"
#include "tools/counted_ports.h"
#include "tools/device_files.h"
#include "tools/device_options.h"
#if defined(__linux__)
#include "tools/rawmidi_ports.h"
#include "tools/usb_gadget.h"
#endif
#include "tools/stop_signals.h"
#include "tools/system_ports.h"
#include "version/program_version.h"

namespace {

using namespace corvane;

// How long an answer to the closing request may still be on its way.
constexpr auto kClosingGrace = std::chrono::seconds(5);

void PrintHelp(std::FILE* to) {
    std::fprintf(to,
                 "usage: corvane-devsim [device options] [--rawmidi PORT | --usb-gadget UDC]\n"
                 "                      [--exit-after-update]\n"
                 "  --rawmidi PORT         answer on a raw MIDI port (/dev/snd/midiC1D0, hw:1,0,0\n"
                 "                         or its name) instead of virtual ports\n"
                 "  --usb-gadget UDC       be a USB MIDI device named --name on the USB device\n"
                 "                         controller UDC ('auto': the first one); a restart\n"
                 "                         disconnects it\n"
                 "  --exit-after-update    exit once a closing request has been answered\n"
                 "  --help                 this text\n"
                 "  --version              alone: print the program's version and exit\n"
                 "Ends on SIGINT or SIGTERM.\n%s",
                 tools::DeviceOptionsHelp());
}

// Whether every message the device has decided to send so far has gone out:
// the transcript lists each one when it is decided, the ports count the sends.
bool AnswersSent(const device::SimulatedDevice& device, const tools::CountedPorts& ports) {
    const auto transcript = device.Transcript();
    const auto decided = std::count_if(transcript.begin(), transcript.end(),
                                       [](const std::string& line) { return line[0] == '<'; });
    return ports.SendCount() >= static_cast<std::uint64_t>(decided);
}

// The ports on raw MIDI: an existing port, or a USB gadget of our own.
std::unique_ptr<tools::CountedPorts> RawMidiDevicePorts(const std::string& port,
                                                        const std::string& controller,
                                                        const std::string& name) {
#if defined(__linux__)
    std::unique_ptr<tools::RawMidiLink> link = port.empty()
                                                   ? tools::CreateUsbMidiGadget(name, controller)
                                                   : tools::ExistingRawMidiPort(port);
    return link ? std::make_unique<tools::RawMidiPorts>(std::move(link)) : nullptr;
#else
    (void)port;
    (void)controller;
    (void)name;
    std::fprintf(stderr, "corvane-devsim: raw MIDI and USB gadgets are Linux only\n");
    return nullptr;
#endif
}

// What the command line asks for besides the device.
struct DevsimOptions {
    tools::DeviceOptions device;
    bool exitAfterUpdate = false;
    std::string rawMidiPort;
    std::string gadgetController;
};

// Reads the command line into `options`; the exit code when the program ends
// here, after --help or a usage error.
std::optional<int> ParseCommandLine(const std::vector<std::string>& args, DevsimOptions& options) {
    tools::DeviceOptionParser parser;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--help") {
            PrintHelp(stdout);
            return kExitSuccess;
        }
        if (args[i] == "--exit-after-update") {
            options.exitAfterUpdate = true;
            continue;
        }
        if (args[i] == "--rawmidi" || args[i] == "--usb-gadget") {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                std::fprintf(stderr, "corvane-devsim: %s needs a value\n", args[i].c_str());
                return kExitUsage;
            }
            std::string& target =
                args[i] == "--rawmidi" ? options.rawMidiPort : options.gadgetController;
            target = args[++i];
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
    if (!options.rawMidiPort.empty() && !options.gadgetController.empty()) {
        std::fprintf(stderr, "corvane-devsim: --rawmidi and --usb-gadget exclude each other\n");
        return kExitUsage;
    }
    options.device = parser.Finish();
    return std::nullopt;
}

// Waits for SIGINT or SIGTERM; with --exit-after-update, also ends once a
// closing request has been answered.
void RunUntilDone(const device::SimulatedDevice& device, const tools::CountedPorts& ports,
                  bool exitAfterUpdate) {
    std::optional<std::chrono::steady_clock::time_point> closedAt;
    for (;;) {
        if (tools::WaitForStopSignal(std::chrono::milliseconds(50)) != tools::StopRequest::kNone) {
            return;
        }
        if (!exitAfterUpdate) {
            continue;
        }
        if (!closedAt && device.Counters().Requests(device::RequestKind::kClosing) > 0) {
            closedAt = std::chrono::steady_clock::now();
        }
        if (closedAt && (AnswersSent(device, ports) ||
                         std::chrono::steady_clock::now() - *closedAt > kClosingGrace)) {
            return;
        }
    }
}

int RequestCount(const device::SimulatedDevice& device) {
    const auto counters = device.Counters();
    int requests = 0;
    for (int n : counters.requests) {
        requests += n;
    }
    return requests;
}

}  // namespace

int main(int argc, char** argv) {
    if (AsksForVersion(argc, argv)) {
        PrintVersion("corvane-devsim");
        return kExitSuccess;
    }
    const std::vector<std::string> args(argv + 1, argv + argc);
    DevsimOptions devsim;
    if (const auto exitCode = ParseCommandLine(args, devsim)) {
        return *exitCode;
    }
    tools::DeviceOptions& options = devsim.device;
    // The transcript is also how --exit-after-update knows the answers are out.
    options.config.keepTranscript = !options.transcriptPath.empty() || devsim.exitAfterUpdate;

    tools::BlockStopSignals();

    const std::string name = options.config.portName;
    const bool rawMidi = !devsim.rawMidiPort.empty() || !devsim.gadgetController.empty();
    std::unique_ptr<tools::CountedPorts> owned;
    if (rawMidi) {
        owned = RawMidiDevicePorts(devsim.rawMidiPort, devsim.gadgetController, name);
        if (!owned) {
            return kExitFailure;
        }
    } else {
        owned = std::make_unique<tools::SystemPorts>();
    }
    const tools::CountedPorts& ports = *owned;
    device::SimulatedDevice device(options.config, std::move(owned));
    if (!device.IsPresent()) {
        std::fprintf(stderr, "Error: cannot open MIDI ports \"%s\": %s\n", name.c_str(),
                     rawMidi ? "the raw MIDI port is not there" : "no MIDI system reachable");
        return kExitFailure;
    }
    std::printf("corvane-devsim: ports \"%s\" ready\n", name.c_str());
    std::fflush(stdout);

    RunUntilDone(device, ports, devsim.exitAfterUpdate);
    std::printf("corvane-devsim: exiting after %d requests\n", RequestCount(device));
    return tools::WriteDeviceFiles(options, device) ? kExitSuccess : kExitFailure;
}
