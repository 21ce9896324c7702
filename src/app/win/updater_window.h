#pragma once
// The updater's window on Windows: the native modal dialog of template 103,
// shown and changed for the window's logic through DialogView, with the
// dialog's own message loop as the logic's UiLoop. Calls from other threads
// are queued and run on the window's thread, one at a time, in order.

#include <windows.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/dialog_view.h"
#include "app/ui_loop.h"
#include "app/updater_dialog.h"

namespace corvane::app::win {

class UpdaterWindow final : public DialogView, public UiLoop {
public:
    // Builds the logic once the dialog's controls exist.
    using LogicFactory = std::function<std::unique_ptr<CVekUpdatorDlg>(DialogView&, UiLoop&)>;

    // Besides the system's device-change notices the logic looks at the port
    // lists itself: a device of an in-process MIDI system comes and goes
    // without the system knowing.
    explicit UpdaterWindow(LogicFactory makeLogic);
    ~UpdaterWindow() override;
    UpdaterWindow(const UpdaterWindow&) = delete;
    UpdaterWindow& operator=(const UpdaterWindow&) = delete;

    // Runs the dialog until it ends; the logic is gone when this returns.
    void RunModal();

    // DialogView.
    void SetTitle(const std::string& title) override;
    void EnableControl(Control control, bool enable) override;
    void ShowControl(Control control, bool show) override;
    void SetControlText(Control control, const std::string& text) override;
    void SetProgressRange(int lower, int upper) override;
    void SetProgressPos(int position) override;
    void EnableCloseCommand(bool enable) override;
    void ResetList(Control list) override;
    void AddListEntry(Control list, const std::string& text) override;
    void SetListSelection(Control list, int index) override;
    int ListSelection(Control list) const override;
    void ShowErrorBox(const std::string& text, const std::string& caption) override;

    // UiLoop.
    void Post(Task task) override;
    void PostDelayed(std::chrono::milliseconds delay, Task task) override;
    bool IsUiThread() const override;

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void OnInitDialog(HWND hwnd);
    void OnCommand(int id);
    void OnTimer(UINT_PTR id);
    void RunQueuedTasks();
    // Ends the dialog unless the logic says it may not close.
    void Cancel();
    void EndDialogOnce();
    void DestroyOnce();
    HWND Item(Control control) const;

    const LogicFactory m_makeLogic;
    const DWORD m_uiThread;

    // The window's thread only.
    HWND m_hwnd = nullptr;
    std::unique_ptr<CVekUpdatorDlg> m_logic;
    bool m_destroyed = false;
    HICON m_bigIcon = nullptr;
    HICON m_smallIcon = nullptr;
    UINT_PTR m_nextTimer;
    std::map<UINT_PTR, Task> m_delayed;

    // Guards m_tasks and m_target: the window to wake, null once it is gone.
    std::mutex m_tasksMutex;
    std::deque<Task> m_tasks;
    HWND m_target = nullptr;
};

}  // namespace corvane::app::win
