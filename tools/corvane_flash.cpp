// corvane-flash: the updater without a window, for automation and production
// lines. It runs the very same dialog and update procedure as the window, on
// the platform's MIDI ports or, with --simulate, against a simulated device
// inside the process.
//   corvane-flash [--instance N | --in NAME --out NAME] [--image FILE]
//                 [--simulate [device options]] [--list]
//   corvane-flash --all [--name NAME] [--wait] [--json] [--simulate N ...]
// Exit status: 0 update completed (every device's), 1 update failed, 2 usage
// error.

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "device/loopback_ports.h"
#include "device/simulated_bench.h"
#include "midi/device_access.h"
#include "midi/loopback_backend.h"
#include "midi/system_backend.h"
#include "program/exit_codes.h"
#include "tools/console_encoding.h"
#include "tools/console_view.h"
#include "tools/device_files.h"
#include "tools/flash_options.h"
#include "tools/flash_session.h"
#include "tools/fleet_run.h"
#include "tools/stop_signals.h"
#include "version/program_version.h"

#ifdef _WIN32
#include "midi/winmm_driver_win.h"
#endif

namespace {

using namespace corvane;

bool ReadFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return !file.bad();
}

// Calls `onSignal` for each stop request while it lives.
class OnStopSignal {
public:
    explicit OnStopSignal(std::function<void(tools::StopRequest)> onSignal)
        : m_thread([this, onSignal = std::move(onSignal)] {
              while (!m_stop) {
                  const tools::StopRequest request =
                      tools::WaitForStopSignal(std::chrono::milliseconds(100));
                  if (request != tools::StopRequest::kNone) {
                      onSignal(request);
                  }
              }
          }) {}
    ~OnStopSignal() {
        m_stop = true;
        m_thread.join();
    }

private:
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// A console close waits until main has ended the run, reported it and written
// the simulated device's files, whichever way main leaves.
struct StopDoneAtEnd {
    ~StopDoneAtEnd() { tools::StopDone(); }
};

void PrintBlockedDevices(midi::MidiBackend& backend) {
    const midi::BlockedMidiDevices blocked = midi::FindBlockedMidiDevices();
    if (blocked.Any() && backend.InputPortNames().empty() && backend.OutputPortNames().empty()) {
        std::fprintf(stderr, "%s\n", midi::DeviceAccessExplanation(blocked).c_str());
    }
}

// The simulated devices of --simulate N, each with its own options or the
// common ones.
std::unique_ptr<device::SimulatedBench> MakeBench(const tools::FlashOptions& options) {
    std::vector<device::DeviceConfig> configs;
    for (int unit = 1; unit <= options.simulated; ++unit) {
        const auto own = options.units.find(unit);
        const tools::DeviceOptions& device =
            own == options.units.end() ? options.device : own->second;
        configs.push_back(device.config);
        configs.back().keepTranscript = !device.transcriptPath.empty();
    }
    return std::make_unique<device::SimulatedBench>(std::move(configs));
}

// JSON when asked for, the live screen on a terminal, else one line per event.
std::unique_ptr<tools::ReportOutput> MakeReportOutput(bool json) {
    if (json) {
        return std::make_unique<tools::JsonEvents>(stdout);
    }
    if (isatty(STDOUT_FILENO) == 1) {
        return std::make_unique<tools::LiveScreen>(stdout);
    }
    return std::make_unique<tools::EventLines>(stdout);
}

// The files the simulated devices leave: each unit's own, and the common
// ones of a single device.
bool WriteBenchFiles(const tools::FlashOptions& options, device::SimulatedBench& bench) {
    bool written = true;
    for (int unit = 1; unit <= options.simulated; ++unit) {
        const auto own = options.units.find(unit);
        if (own != options.units.end() &&
            !tools::WriteDeviceFiles(own->second, bench.Device(unit - 1))) {
            written = false;
        }
    }
    if (options.simulated == 1 && !tools::WriteDeviceFiles(options.device, bench.Device(0))) {
        written = false;
    }
    return written;
}

// --all: every device at once, reported as a whole.
int UpdateAll(const tools::FlashOptions& options, const app::CVekUpdatorDlg::Options& dialog) {
    std::unique_ptr<device::SimulatedBench> bench;
    std::unique_ptr<midi::MidiBackend> system;
    if (options.simulate) {
        bench = MakeBench(options);
    } else {
        system = midi::CreateSystemBackend();
        PrintBlockedDevices(*system);
    }
    midi::MidiBackend& backend = bench ? *bench : *system;

    const std::unique_ptr<tools::ReportOutput> output = MakeReportOutput(options.json);
    tools::FleetReport report(*output);
    tools::FleetOptions fleetOptions;
    fleetOptions.names = options.names.empty() ? app::DevicePortNames() : options.names;
    fleetOptions.wait = options.wait;
    fleetOptions.dialog = dialog;
    tools::FleetRun fleet(backend, report, fleetOptions);
    int started = 0;
    {
        // While waiting, the first stop takes no new device and lets the
        // running updates end; a second one, or the first without --wait,
        // abandons them, and so does the end of the process, which would
        // otherwise kill them mid-write.
        std::atomic<int> stops{0};
        OnStopSignal stop([&](tools::StopRequest request) {
            fleet.Stop(request == tools::StopRequest::kEnd || !options.wait || ++stops > 1);
        });
        started = fleet.Run();
    }
    bool completed = report.Finish();
    if (started == 0 && !options.wait) {
        std::fprintf(stderr, "Error: no device found\n");
        completed = false;
    }
    if (bench && !WriteBenchFiles(options, *bench)) {
        completed = false;
    }
    return completed ? kExitSuccess : kExitFailure;
}

// One device, on the ports given or pre-selected, or simulated in-process.
int UpdateOne(const tools::FlashOptions& options, const app::CVekUpdatorDlg::Options& dialog) {
    std::unique_ptr<midi::MidiBackend> backend;
    std::unique_ptr<device::SimulatedDevice> device;
    tools::DeviceOptions deviceOptions = options.device;
    if (options.simulate) {
        deviceOptions.config.keepTranscript = !deviceOptions.transcriptPath.empty();
        auto loopback = std::make_unique<midi::LoopbackBackend>();
        device = device::StartLoopbackDevice(*loopback, deviceOptions.config);
        backend = std::move(loopback);
    } else {
        backend = midi::CreateSystemBackend();
        PrintBlockedDevices(*backend);
    }

    tools::ConsoleView view(stdout, stderr, isatty(STDOUT_FILENO) == 1);
    tools::FlashSession session(*backend, view, dialog);
    if (options.list) {
        session.ListPorts();
        return kExitSuccess;
    }
    tools::FlashOutcome outcome;
    {
        OnStopSignal interrupts([&session](tools::StopRequest) { session.Interrupt(); });
        outcome = session.Update(options.inPort, options.outPort);
    }
    char summary[96];
    std::snprintf(summary, sizeof summary, "%s in %.3f s, %llu requests",
                  outcome.completed ? "completed" : "failed", outcome.elapsed.count(),
                  static_cast<unsigned long long>(outcome.requests));
    view.Print(summary);

    bool filesWritten = true;
    if (device) {
        filesWritten = tools::WriteDeviceFiles(deviceOptions, *device);
    }
    return outcome.completed && filesWritten ? kExitSuccess : kExitFailure;
}

}  // namespace

int main(int argc, char** argv) {
    tools::UseUtf8Console();
    if (AsksForVersion(argc, argv)) {
        PrintVersion("corvane-flash");
        return kExitSuccess;
    }
    const std::vector<std::string> args(argv + 1, argv + argc);
    const tools::FlashCommandLine command = tools::ParseFlashOptions(args);
    if (!command.options) {
        std::fprintf(stderr, "corvane-flash: %s\n%s", command.error.c_str(), tools::FlashUsage());
        return kExitUsage;
    }
    const tools::FlashOptions& options = *command.options;
    if (options.help) {
        std::printf("%s%s", tools::FlashUsage(), tools::DeviceOptionsHelp());
        return kExitSuccess;
    }

    app::CVekUpdatorDlg::Options dialogOptions;
    dialogOptions.instanceNumber = options.instance;
    std::vector<std::uint8_t> image;
    if (!options.imagePath.empty()) {
        if (!ReadFile(options.imagePath, image)) {
            std::fprintf(stderr, "Error: cannot read %s\n", options.imagePath.c_str());
            return kExitFailure;
        }
        dialogOptions.image = [&image] { return std::span<const std::uint8_t>(image); };
    }

#ifdef _WIN32
    midi::OnFirstBlockLeftToDriver([](std::size_t) {
        std::fprintf(stderr,
                     "Warning: a MIDI driver kept what it was given when its port closed; it "
                     "stays with the driver until corvane-flash ends, which it should soon: "
                     "past a few such ports no port opens.\n");
    });
#endif
    tools::BlockStopSignals();
    const StopDoneAtEnd stopDone;
    return options.all ? UpdateAll(options, dialogOptions) : UpdateOne(options, dialogOptions);
}
