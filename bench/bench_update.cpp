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
#include <condition_variable>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/dialog_view.h"
#include "app/event_loop.h"
#include "app/updater_dialog.h"
#include "device/loopback_ports.h"
#include "midi/loopback_backend.h"
#include "ui_thread.h"
#include "update/strings.h"

namespace {

using namespace corvane;
using app::Control;
using Clock = std::chrono::steady_clock;
using bench::UiThread;

constexpr int kUpdates = 20;

// Keeps the port list selections the dialog makes and timestamps the status
// texts; an error box is remembered, as the update then has failed.
class TimingView final : public app::DialogView {
public:
    void SetTitle(const std::string&) override {}
    void EnableControl(Control, bool) override {}
    void ShowControl(Control, bool) override {}
    void SetControlText(Control control, const std::string& text) override {
        if (control != Control::kStatus) {
            return;
        }
        const auto now = Clock::now();
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
        if (text == update::LoadString(update::IDS_UPDATE_COMPLETED)) {
            m_completedAt = now;
            m_finished = true;
            m_changed.notify_all();
        }
    }
    void SetProgressRange(int, int) override {}
    void SetProgressPos(int) override {}
    void EnableCloseCommand(bool) override {}
    void ResetList(Control list) override { SetListSelection(list, -1); }
    void AddListEntry(Control, const std::string&) override {}
    void SetListSelection(Control list, int index) override {
        std::lock_guard lock(m_mutex);
        m_selection[list] = index;
    }
    int ListSelection(Control list) const override {
        std::lock_guard lock(m_mutex);
        const auto it = m_selection.find(list);
        return it == m_selection.end() ? -1 : it->second;
    }
    void ShowErrorBox(const std::string& text, const std::string&) override {
        std::lock_guard lock(m_mutex);
        m_boxAt = Clock::now();
        m_error = text;
        m_finished = true;
        m_changed.notify_all();
    }

    // Waits for the end of the run; the completion time, or an error text.
    bool WaitFinished(std::chrono::seconds timeout, Clock::time_point& completedAt,
                      std::string& error) {
        std::unique_lock lock(m_mutex);
        if (!m_changed.wait_for(lock, timeout, [&] { return m_finished; })) {
            error = "the update did not finish in time";
            return false;
        }
        completedAt = m_completedAt;
        error = m_error;
        return error.empty();
    }
    // Since when the status line showed what it shows at the box; `started`
    // if it never changed.
    double SecondsToBox(Clock::time_point started) const {
        std::lock_guard lock(m_mutex);
        const Clock::time_point from = m_lastText.empty() ? started : m_lastTextSince;
        return std::chrono::duration<double>(m_boxAt - from).count();
    }
    std::vector<double> BlockSpansMs() const {
        std::lock_guard lock(m_mutex);
        return m_blockSpansMs;
    }

private:
    static constexpr std::string_view kBlockPrefix = "Data transmit";

    mutable std::mutex m_mutex;  // guards everything below
    std::condition_variable m_changed;
    std::map<Control, int> m_selection;
    Clock::time_point m_last{};
    bool m_lastWasBlock = false;
    std::vector<double> m_blockSpansMs;
    std::string m_lastText;
    Clock::time_point m_lastTextSince{};
    Clock::time_point m_boxAt{};
    Clock::time_point m_completedAt{};
    bool m_finished = false;
    std::string m_error;
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
    Clock::time_point completedAt;
    if (view.WaitFinished(std::chrono::seconds(120), completedAt, result.error)) {
        result.totalSeconds = std::chrono::duration<double>(completedAt - started).count();
        result.blockSpansMs = view.BlockSpansMs();
    } else if (!result.error.empty()) {
        result.secondsToBox = view.SecondsToBox(started);
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
