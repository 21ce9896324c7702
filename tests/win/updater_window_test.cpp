// The native window bound to the real dialog on loopback ports, run on a
// thread of its own as the program's main thread runs it and driven from the
// test's: after each way a start or a run can end, the Close item, Escape and
// the title bar's close all give the dialog's one answer to "may it close".

#include <windows.h>
// windows.h first: the others build on its types.
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "app/win/resource_ids.h"
#include "app/win/updater_window.h"
#include "device/loopback_ports.h"
#include "support/run_end.h"
#include "support/update_fixture.h"
#include "tests/win/window_driver.h"

namespace corvane::app::win::testing {
namespace {

using corvane::testing::FastTiming;
using corvane::testing::ImageOf;
using corvane::testing::RunEnd;
using corvane::testing::SmallImage;
using corvane::testing::StartDeviceEndingIn;

const std::wstring kTitle = L"BRAX Corvane System v1.10 Updater";

// The window on a thread of its own, as a program's main thread runs it.
// Ends the window as a quitting thread does when the test has not.
class WindowThread {
public:
    WindowThread(midi::MidiBackend& backend, CVekUpdatorDlg::Options options) {
        m_thread = std::thread([this, &backend, options] {
            m_threadId = GetCurrentThreadId();
            m_window = std::make_unique<UpdaterWindow>(
                [this, &backend, options](DialogView& view, UiLoop& loop) {
                    auto dialog = std::make_unique<CVekUpdatorDlg>(backend, view, loop, options);
                    m_dialog = dialog.get();
                    return dialog;
                });
            m_created = true;
            m_window->RunModal();
            m_ended = true;
        });
        WaitUntil(
            [&] { return m_created && (m_hwnd = FindThreadWindowTitled(m_threadId, kTitle)); },
            60s);
    }
    ~WindowThread() {
        WaitUntil(
            [&] {
                PostThreadMessageW(m_threadId, WM_QUIT, 0, 0);
                return m_ended.load();
            },
            60s);
        m_thread.join();
    }
    WindowThread(const WindowThread&) = delete;
    WindowThread& operator=(const WindowThread&) = delete;

    HWND Window() const { return m_hwnd; }
    DWORD ThreadId() const { return m_threadId; }
    bool Ended() const { return m_ended; }

    // Runs `f` on the window's thread after everything queued there before,
    // messages posted to the window included; nullopt once the window is gone.
    template <typename F>
    std::optional<std::invoke_result_t<F, CVekUpdatorDlg&>> OnWindowThread(F f) {
        using Result = std::invoke_result_t<F, CVekUpdatorDlg&>;
        auto result = std::make_shared<std::promise<Result>>();
        auto future = result->get_future();
        m_window->Post([this, result, f] { result->set_value(f(*m_dialog)); });
        if (!WaitUntil([&] { return m_ended || future.wait_for(0s) == std::future_status::ready; },
                       60s) ||
            future.wait_for(0s) != std::future_status::ready) {
            return std::nullopt;
        }
        return future.get();
    }

private:
    std::thread m_thread;
    std::atomic<DWORD> m_threadId{0};
    std::atomic<bool> m_created{false};
    std::atomic<bool> m_ended{false};
    std::unique_ptr<UpdaterWindow> m_window;
    CVekUpdatorDlg* m_dialog = nullptr;  // the window's thread only
    HWND m_hwnd = nullptr;
};

struct Row {
    RunEnd end;
    const char* name;
    std::wstring box;
    std::wstring status;
    bool mayClose;
};

class UpdaterWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveDisplay()) {
            GTEST_SKIP() << "no display";
        }
        // The progress bar is one of the common controls.
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
        InitCommonControlsEx(&controls);
    }
};

TEST_F(UpdaterWindowTest, EscapeAndTheTitleBarsCloseEndTheWindowExactlyWhenTheDialogLetsThem) {
    const Row rows[] = {
        {RunEnd::kOutputRefused, "output refused", L"Can't open MIDI Out device.", L"", true},
        {RunEnd::kInputRefused, "input refused", L"Can't open MIDI In device.", L"", true},
        {RunEnd::kFailed, "failed", L"Transfer error occurred.", L"", true},
        {RunEnd::kCompleted, "completed", L"", L"Firmware update completed.", true},
        {RunEnd::kWaiting, "waiting for the device", L"", L"Ready for firmware update!", true},
        {RunEnd::kRunning, "running", L"", L"", false},
    };
    for (const Row& row : rows) {
        for (const bool byEscape : {true, false}) {
            SCOPED_TRACE(std::string(row.name) + (byEscape ? ", Escape" : ", title bar"));
            midi::LoopbackBackend backend;
            const auto device = StartDeviceEndingIn(backend, row.end);
            CVekUpdatorDlg::Options options;
            options.timing = FastTiming();
            // The running row's run waits for the identity reply until the window goes.
            options.timing.identityWait = std::chrono::minutes(10);
            options.image = ImageOf(SmallImage());
            {
                WindowThread window(backend, options);
                HWND hwnd = window.Window();
                ASSERT_NE(hwnd, nullptr);

                // As a keyboard user presses it: with the focus on it.
                window.OnWindowThread(
                    [hwnd](CVekUpdatorDlg&) { return SetFocus(Item(hwnd, IDOK)) != nullptr; });
                Press(hwnd, IDOK);
                std::vector<std::wstring> boxes;
                HWND answered = nullptr;
                const std::vector<std::wstring> expectedBoxes =
                    row.box.empty() ? std::vector<std::wstring>{} : std::vector{row.box};
                ASSERT_TRUE(WaitUntil(
                    [&] {
                        HWND box = FindThreadWindowTitled(window.ThreadId(), L"Error");
                        if (box != nullptr) {
                            if (box != answered) {
                                boxes.push_back(Text(Item(box, 0xFFFF)));
                                answered = box;
                            }
                            PostMessageW(box, WM_COMMAND, IDOK, 0);
                            return false;
                        }
                        return boxes == expectedBoxes &&
                               (row.status.empty() || Text(Item(hwnd, IDC_STATUS)) == row.status) &&
                               (IsWindowEnabled(Item(hwnd, IDCANCEL)) != FALSE) == row.mayClose;
                    },
                    60s));

                const auto mayClose = window.OnWindowThread([hwnd](CVekUpdatorDlg& dialog) {
                    const UINT item =
                        GetMenuState(GetSystemMenu(hwnd, FALSE), SC_CLOSE, MF_BYCOMMAND);
                    return std::pair{dialog.CanClose(), (item & MF_GRAYED) == 0};
                });
                EXPECT_EQ(mayClose, std::pair(row.mayClose, row.mayClose));
                // The controls a run disables took the focus with them: it
                // stays in the window, on a control a keyboard can use.
                const auto focus = window.OnWindowThread([](CVekUpdatorDlg&) {
                    HWND focused = GetFocus();
                    return focused != nullptr && IsWindowEnabled(focused) != FALSE;
                });
                EXPECT_EQ(focus, true);
                if (byEscape) {
                    PostMessageW(hwnd, WM_KEYDOWN, VK_ESCAPE, 0);
                } else {
                    PostMessageW(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
                }
                // Runs after the key or the command, unless they ended the window.
                window.OnWindowThread([](CVekUpdatorDlg&) { return 0; });
                EXPECT_EQ(window.Ended(), row.mayClose);
            }
        }
    }
}

}  // namespace
}  // namespace corvane::app::win::testing
