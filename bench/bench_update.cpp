// Full updates of the built-in image against the simulated device on the
// loopback, driven through the dialog as a user would (Execute on the
// user-interface thread) with the device answering at once and the fixed
// pauses before the steps and after closing set to zero.
//
// Each iteration is one whole update, from Execute to "Firmware update
// completed."; that span is the iteration time. The time per request comes
// from the window double: every block write sets the status text to "Data
// transmit ..." right after sending, so the span between two such texts in a
// row is one block request's whole round trip (send, device, timer tick,
// wake-up, the progress update, the next send). The counters give its median
// and 99th percentile over every block of every update.
//
// BM_TimeToBox runs a device that fails in one way, with the product's own
// waits, and measures how long the user waits for the box: from the first
// sending of the request that fails (the first showing of the status text
// the box comes under, or Execute where there is none) to the box.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/event_loop.h"
#include "app/updater_dialog.h"
#include "device/loopback_ports.h"
#include "midi/loopback_backend.h"
#include "run_end_view.h"
#include "ui_thread.h"

namespace {

using namespace corvane;
using Clock = std::chrono::steady_clock;
using bench::UiThread;

constexpr int kUpdates = 20;

// Times the status texts: the spans between block writes, and since when the
// status line showed what it shows at the box.
class TimingView final : public bench::RunEndView {
public:
    // Since when the status line showed what it shows at `box`; `started` if
    // it never changed.
    double SecondsToBox(Clock::time_point started, Clock::time_point box) const {
        std::lock_guard lock(m_mutex);
        const Clock::time_point from = m_lastText.empty() ? started : m_lastTextSince;
        return std::chrono::duration<double>(box - from).count();
    }
    std::vector<double> BlockSpansMs() const {
        std::lock_guard lock(m_mutex);
        return m_blockSpansMs;
    }

private:
    static constexpr std::string_view kBlockPrefix = "Data transmit";

    void OnStatusText(const std::string& text, Clock::time_point now) override {
        const bool block = text.starts_with(kBlockPrefix);
        std::lock_guard lock(m_mutex);
        if (block && m_lastWasBlock) {
            m_blockSpansMs.push_back(
                std::chrono::duration<double, std::milli>(now - m_last).count());
        }
        if (text != m_lastText) {
            m_lastTextSince = now;
            m_lastText = text;
        }
        m_last = now;
        m_lastWasBlock = block;
    }

    mutable std::mutex m_mutex;  // guards everything below
    Clock::time_point m_last{};
    bool m_lastWasBlock = false;
    std::vector<double> m_blockSpansMs;
    std::string m_lastText;
    Clock::time_point m_lastTextSince{};
};

double Percentile(std::vector<double> samples, double share) {
    const auto rank = static_cast<std::size_t>(share * static_cast<double>(samples.size() - 1));
    std::nth_element(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(rank),
                     samples.end());
    return samples[rank];
}

struct UpdateResult {
    std::vector<double> blockSpansMs;
    double totalSeconds = 0;
    std::uint64_t requests = 0;
    std::string error;
    double secondsToBox = 0;
};

UpdateResult RunOneUpdate(device::DeviceConfig config = {}) {
    midi::LoopbackBackend backend;
    config.keepTranscript = false;
    const auto device = device::StartLoopbackDevice(backend, config);

    app::CVekUpdatorDlg::Options options;
    options.timing.beforeSteps = std::chrono::milliseconds(0);
    options.timing.afterClosing = std::chrono::milliseconds(0);

    TimingView view;
    UiThread ui;
    std::unique_ptr<app::CVekUpdatorDlg> dialog;
    ui.Run([&] {
        dialog = std::make_unique<app::CVekUpdatorDlg>(backend, view, ui.Loop(), options);
        dialog->OnInitDialog();
    });
    const auto started = Clock::now();
    ui.Run([&] { dialog->OnExecute(); });

    UpdateResult result;
    const std::optional<bench::RunEndView::End> end = view.WaitEnd(std::chrono::seconds(120));
    if (!end) {
        result.error = "the update did not finish in time";
    } else if (end->box.empty()) {
        result.totalSeconds = std::chrono::duration<double>(end->at - started).count();
        result.blockSpansMs = view.BlockSpansMs();
    } else {
        result.error = end->box;
        result.secondsToBox = view.SecondsToBox(started, end->at);
    }
    // The run's last calls to the window follow the completion text.
    while (!ui.Run([&] { return dialog->WorkerIdle(); })) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    result.requests = dialog->Procedure().RequestsSent();
    ui.Run([&] {
        dialog->OnDestroy();
        dialog.reset();
    });
    return result;
}

void BM_FullUpdate(benchmark::State& state) {
    std::vector<double> spansMs;
    std::vector<double> totalsS;
    std::uint64_t requests = 0;
    for (auto _ : state) {
        const UpdateResult result = RunOneUpdate();
        if (!result.error.empty()) {
            state.SkipWithError(result.error.c_str());
            return;
        }
        state.SetIterationTime(result.totalSeconds);
        spansMs.insert(spansMs.end(), result.blockSpansMs.begin(), result.blockSpansMs.end());
        totalsS.push_back(result.totalSeconds);
        requests = result.requests;
    }
    if (spansMs.empty()) {
        state.SkipWithError("no block requests were seen");
        return;
    }
    state.counters["request_median_ms"] = Percentile(spansMs, 0.5);
    state.counters["request_p99_ms"] = Percentile(spansMs, 0.99);
    state.counters["request_max_ms"] = *std::max_element(spansMs.begin(), spansMs.end());
    state.counters["block_requests"] = static_cast<double>(spansMs.size());
    state.counters["requests_per_update"] = static_cast<double>(requests);
    state.counters["update_median_s"] = Percentile(totalsS, 0.5);
}
BENCHMARK(BM_FullUpdate)->Iterations(kUpdates)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_TimeToBox(benchmark::State& state, device::Fault fault, const char* box) {
    device::DeviceConfig config;
    config.faults.push_back(std::move(fault));
    for (auto _ : state) {
        const UpdateResult result = RunOneUpdate(config);
        if (result.error != box) {
            const std::string why = "ended with \"" + result.error + "\"";
            state.SkipWithError(why.c_str());
            return;
        }
        state.SetIterationTime(result.secondsToBox);
        state.counters["to_box_s"] = result.secondsToBox;
    }
}
using device::Fault;
using device::RequestKind;
BENCHMARK_CAPTURE(BM_TimeToBox, unanswered_identity, Fault::Drop(RequestKind::kIdentity, 1),
                  "Time out error(1)")
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TimeToBox, no_block_answered,
                  Fault::Drop(RequestKind::kBlockWrite, 1).Times(1000), "Time out error(2)")
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TimeToBox, vanished_mid_data,
                  Fault::Vanish(RequestKind::kBlockWrite, 100, device::kForever),
                  "Time out error(2)")
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
