// Soak: 200 updates of the built-in image in a row through one dialog, each
// against a freshly plugged simulated device that plays seeded random faults
// (lost, refused, late, doubled and spoilt answers, stray messages). Every
// update must end either completed with the flash holding the image, or with
// an error box; the process must not grow: its resident set after the last
// update stays within 5 % of that after the first.
//
// Counters: completed and failed updates, resident set after the first and
// the last update (KiB) and the growth between them (%).

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <future>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>

#include "app/event_loop.h"
#include "app/updater_dialog.h"
#include "device/loopback_ports.h"
#include "image/builtin_image.h"
#include "midi/loopback_backend.h"
#include "run_end_view.h"
#include "support/flash_image.h"
#include "ui_thread.h"

namespace {

using namespace corvane;
using bench::UiThread;
using device::Fault;
using device::RequestKind;
using std::chrono::milliseconds;

constexpr int kUpdates = 200;
constexpr double kAllowedGrowth = 0.05;

long ResidentKiB() {
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

update::Timing SoakTiming() {
    update::Timing t;
    t.identityWait = t.openingWait = t.versionWait = t.permissionWait = t.prepareWait =
        t.eraseWait = t.closingWait = milliseconds(300);
    t.blockWait = milliseconds(40);
    t.retryPause = milliseconds(5);
    t.beforeSteps = milliseconds(0);
    t.afterClosing = milliseconds(20);
    return t;
}

// A few faults, each hitting a small share of the block writes, and now and
// then one of another request.
std::vector<Fault> RandomFaults(std::mt19937& rng, const update::Timing& t) {
    std::uniform_real_distribution<double> share(0.0, 0.02);
    std::uniform_int_distribution<int> pick(0, 7);
    std::vector<Fault> faults;
    for (int n = std::uniform_int_distribution<int>(0, 3)(rng); n > 0; --n) {
        const double p = share(rng) + 0.001;
        switch (pick(rng)) {
            case 0:
                faults.push_back(Fault::Drop(RequestKind::kBlockWrite, 1).WithShare(p));
                break;
            case 1:
                faults.push_back(Fault::Refuse(RequestKind::kBlockWrite, 1).WithShare(p));
                break;
            case 2:
                faults.push_back(
                    Fault::Busy(RequestKind::kBlockWrite, 1, t.blockWait * 3 / 2).WithShare(p));
                break;
            case 3:
                faults.push_back(
                    Fault::Busy(RequestKind::kBlockWrite, 1, t.blockWait * 5).WithShare(p / 4));
                break;
            case 4:
                faults.push_back(Fault::Duplicate(RequestKind::kBlockWrite, 1).WithShare(p / 4));
                break;
            case 5:
                faults.push_back(Fault::Corrupt(RequestKind::kBlockWrite, 1).WithShare(p));
                break;
            case 6:
                faults.push_back(
                    Fault::SendBefore(RequestKind::kBlockWrite, 1,
                                      {{0xF0, 0x52, 0x00, 0x6E, 0x00, 0xF7}, {0x90, 0x40, 0x7F}})
                        .WithShare(p));
                break;
            default: {
                const auto kind =
                    static_cast<RequestKind>(std::uniform_int_distribution<int>(0, 7)(rng));
                faults.push_back(Fault::Refuse(kind, 1));
                break;
            }
        }
    }
    return faults;
}

void BM_Soak(benchmark::State& state) {
    midi::LoopbackBackend backend;
    bench::RunEndView view;
    UiThread ui;
    app::CVekUpdatorDlg::Options options;
    options.timing = SoakTiming();
    const std::span<const std::uint8_t> image = image::BuiltinImage();
    std::unique_ptr<app::CVekUpdatorDlg> dialog;
    ui.Run([&] {
        dialog = std::make_unique<app::CVekUpdatorDlg>(backend, view, ui.Loop(), options);
        dialog->OnInitDialog();
    });

    std::mt19937 rng(20261209);
    int completed = 0;
    int failed = 0;
    long firstKiB = 0;
    long lastKiB = 0;
    std::string problem;
    for (auto _ : state) {
        device::DeviceConfig config;
        config.keepTranscript = false;
        config.seed = static_cast<std::uint32_t>(rng());
        config.faults = RandomFaults(rng, options.timing);
        auto device = device::StartLoopbackDevice(backend, config);

        view.Arm();
        ui.Run([&] {
            dialog->OnRescanDevice();
            dialog->OnExecute();
        });
        const std::optional<bench::RunEndView::End> end = view.WaitEnd(std::chrono::seconds(120));
        if (!end) {
            problem = "an update neither completed nor showed a box";
            break;
        }
        while (!ui.Run([&] { return dialog->WorkerIdle(); })) {
            std::this_thread::sleep_for(milliseconds(1));
        }
        if (end->box.empty()) {
            if (!testing::FlashHoldsImage(device->Flash(), image)) {
                problem = "completed, but the flash does not hold the image";
                break;
            }
            ++completed;
        } else {
            ++failed;
        }
        device.reset();
        lastKiB = ResidentKiB();
        if (firstKiB == 0) {
            firstKiB = lastKiB;
        }
    }
    ui.Run([&] {
        dialog->OnDestroy();
        dialog.reset();
    });
    if (!problem.empty()) {
        state.SkipWithError(problem.c_str());
        return;
    }
    const double growth =
        firstKiB > 0 ? static_cast<double>(lastKiB - firstKiB) / static_cast<double>(firstKiB) : 0;
    state.counters["completed"] = completed;
    state.counters["failed"] = failed;
    state.counters["rss_first_kib"] = static_cast<double>(firstKiB);
    state.counters["rss_last_kib"] = static_cast<double>(lastKiB);
    state.counters["rss_growth_pct"] = growth * 100.0;
    if (growth > kAllowedGrowth) {
        state.SkipWithError("the resident set grew by more than 5 %");
    }
}
BENCHMARK(BM_Soak)->Iterations(kUpdates)->Unit(benchmark::kSecond);

}  // namespace
