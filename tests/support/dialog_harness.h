#pragma once
// The toolkit-free dialog on a user-interface thread of its own, over loopback
// ports, with a recording window double.

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <thread>

#include "app/event_loop.h"
#include "app/updater_dialog.h"
#include "midi/loopback_backend.h"
#include "support/held_delay_loop.h"
#include "support/recording_view.h"

namespace corvane::testing {

// Short waits and pauses: a test never waits for real seconds.
inline update::Timing FastTiming() {
    update::Timing t;
    t.identityWait = t.openingWait = t.versionWait = t.permissionWait = t.prepareWait =
        t.eraseWait = t.closingWait = std::chrono::milliseconds(400);
    t.blockWait = std::chrono::milliseconds(100);
    t.retryPause = std::chrono::milliseconds(1);
    t.beforeSteps = std::chrono::milliseconds(5);
    t.afterClosing = std::chrono::milliseconds(5);
    t.restartDelay = std::chrono::milliseconds(50);
    return t;
}

// FastTiming with the product's wait for a block, for runs whose every
// message is checked: on a loaded machine a short wait could time out on an
// answer that is merely slow, and the block would go out twice.
inline update::Timing CleanRunTiming() {
    update::Timing t = FastTiming();
    t.blockWait = update::Timing{}.blockWait;
    return t;
}

class DialogHarness {
public:
    using Options = app::CVekUpdatorDlg::Options;

    explicit DialogHarness(midi::LoopbackBackend& backend) : m_backend(backend) {
        m_ui = std::thread([this] { m_loop.Run(); });
    }
    ~DialogHarness() {
        Close();
        m_loop.Quit();
        m_ui.join();
    }

    // Creates the dialog and initialises it, as showing the window does.
    // With `holdDelayed` the dialog's delayed tasks wait in Held() until the
    // test runs them with RunHeld().
    void Open(Options options, bool holdDelayed = false) {
        Ui([&] {
            app::UiLoop& loop = holdDelayed ? static_cast<app::UiLoop&>(m_held) : m_loop;
            m_dialog = std::make_unique<app::CVekUpdatorDlg>(m_backend, m_view, loop, options);
            m_dialog->OnInitDialog();
        });
    }
    // Destroys the window, then the dialog.
    void Close() {
        Ui([&] {
            if (m_dialog) {
                m_dialog->OnDestroy();
                m_dialog.reset();
            }
        });
    }

    // Runs f on the user-interface thread and returns its result.
    template <typename F>
    auto Ui(F f) -> decltype(f()) {
        std::packaged_task<decltype(f())()> task(std::move(f));
        auto result = task.get_future();
        m_loop.Post([&task] { task(); });
        return result.get();
    }

    // Polls until pred() holds; false after the time-out.
    static bool WaitFor(const std::function<bool()>& pred,
                        std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (!pred()) {
            if (std::chrono::steady_clock::now() > end) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }
    // Until the last update run has ended.
    bool WaitIdle() {
        return WaitFor([&] { return Ui([&] { return m_dialog->WorkerIdle(); }); });
    }

    // Runs delayed task `index` of the dialog's, as if its delay had passed.
    void RunHeld(std::size_t index) {
        auto task = m_held.Take(index);
        Ui([&] { task(); });
    }

    app::CVekUpdatorDlg& Dialog() { return *m_dialog; }
    HeldDelayLoop& Held() { return m_held; }
    RecordingView& View() { return m_view; }
    app::EventLoop& Loop() { return m_loop; }

private:
    midi::LoopbackBackend& m_backend;
    RecordingView m_view;
    app::EventLoop m_loop;
    HeldDelayLoop m_held{m_loop};
    std::thread m_ui;
    std::unique_ptr<app::CVekUpdatorDlg> m_dialog;
};

}  // namespace corvane::testing
