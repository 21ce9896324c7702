#include "app/win/updater_window.h"

#include <commctrl.h>

#include "app/win/resource_ids.h"
#include "midi/utf16_win.h"

namespace corvane::app::win {

namespace {

using midi::Utf16FromUtf8;

// Wakes the window's thread to run queued tasks.
constexpr UINT kRunTasks = WM_APP + 1;
constexpr UINT_PTR kFirstDelayedTimer = 100;

HINSTANCE Instance() {
    return GetModuleHandleW(nullptr);
}

}  // namespace

UpdaterWindow::UpdaterWindow(LogicFactory makeLogic)
    : m_makeLogic(std::move(makeLogic)),
      m_uiThread(GetCurrentThreadId()),
      m_nextTimer(kFirstDelayedTimer) {}

UpdaterWindow::~UpdaterWindow() {
    m_logic.reset();
    if (m_bigIcon != nullptr) {
        DestroyIcon(m_bigIcon);
    }
    if (m_smallIcon != nullptr) {
        DestroyIcon(m_smallIcon);
    }
}

void UpdaterWindow::RunModal() {
    DialogBoxParamW(Instance(), MAKEINTRESOURCEW(IDD_UPDATER_DIALOG), nullptr,
                    &UpdaterWindow::DialogProc, reinterpret_cast<LPARAM>(this));
    // Stops the reply timer and waits for the last update run, which the
    // window's destruction has released.
    m_logic.reset();
}

INT_PTR CALLBACK UpdaterWindow::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<UpdaterWindow*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, lParam);
        self->OnInitDialog(hwnd);
        return TRUE;  // the first tab stop, the MIDI IN list, gets the focus
    }
    auto* self = reinterpret_cast<UpdaterWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    return self == nullptr ? FALSE : self->Handle(message, wParam, lParam);
}

void UpdaterWindow::OnInitDialog(HWND hwnd) {
    m_hwnd = hwnd;
    m_bigIcon =
        static_cast<HICON>(LoadImageW(Instance(), MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                      GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
    m_smallIcon = static_cast<HICON>(LoadImageW(Instance(), MAKEINTRESOURCEW(IDR_MAINFRAME),
                                                IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                GetSystemMetrics(SM_CYSMICON), 0));
    SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_bigIcon));
    SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_smallIcon));

    m_logic = m_makeLogic(*this, *this);
    m_logic->OnInitDialog();

    std::lock_guard lock(m_tasksMutex);
    m_target = hwnd;
    if (!m_tasks.empty()) {
        PostMessageW(hwnd, kRunTasks, 0, 0);
    }
}

INT_PTR UpdaterWindow::Handle(UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_COMMAND:
            OnCommand(LOWORD(wParam));
            return TRUE;
        case WM_CLOSE:
            // The Close command, the caption's close button and any other
            // close request; what they show greyed is no rule of their own.
            Cancel();
            return TRUE;
        case WM_DEVICECHANGE:
            if (m_logic && !m_destroyed) {
                m_logic->OnDeviceChange();
            }
            return FALSE;  // and on to the default handling, unchanged
        case WM_TIMER:
            OnTimer(static_cast<UINT_PTR>(wParam));
            return TRUE;
        case kRunTasks:
            RunQueuedTasks();
            return TRUE;
        case WM_QUERYDRAGICON:
            SetWindowLongPtrW(m_hwnd, DWLP_MSGRESULT, reinterpret_cast<LONG_PTR>(m_bigIcon));
            return TRUE;
        case WM_DESTROY: {
            DestroyOnce();
            for (const auto& [id, task] : m_delayed) {
                KillTimer(m_hwnd, id);
            }
            m_delayed.clear();
            std::lock_guard lock(m_tasksMutex);
            m_target = nullptr;
            m_tasks.clear();
            return FALSE;
        }
        default:
            return FALSE;
    }
}

void UpdaterWindow::OnCommand(int id) {
    if (!m_logic || m_destroyed) {
        return;
    }
    switch (id) {
        case IDOK:
            // Execute, or Enter while it has the focus, starts an update and
            // never ends the dialog.
            m_logic->OnExecute();
            break;
        case IDCANCEL:
            // The Exit button and the Escape key, as in any dialog.
            Cancel();
            break;
        case IDC_RESCAN:
            m_logic->OnRescanDevice();
            break;
        default:
            break;
    }
}

void UpdaterWindow::OnTimer(UINT_PTR id) {
    const auto it = m_delayed.find(id);
    if (it == m_delayed.end()) {
        return;
    }
    KillTimer(m_hwnd, id);
    Task task = std::move(it->second);
    m_delayed.erase(it);
    task();
}

void UpdaterWindow::RunQueuedTasks() {
    // One at a time: a task that opens a box runs the box's message loop,
    // which takes the next tasks in order.
    while (true) {
        Task task;
        {
            std::lock_guard lock(m_tasksMutex);
            if (m_tasks.empty()) {
                return;
            }
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        task();
    }
}

void UpdaterWindow::Cancel() {
    if (!m_logic || m_logic->CanClose()) {
        EndDialogOnce();
    }
}

void UpdaterWindow::EndDialogOnce() {
    DestroyOnce();
    EndDialog(m_hwnd, IDCANCEL);
}

void UpdaterWindow::DestroyOnce() {
    if (!m_destroyed && m_logic) {
        m_destroyed = true;
        m_logic->OnDestroy();
    }
}

HWND UpdaterWindow::Item(Control control) const {
    return GetDlgItem(m_hwnd, static_cast<int>(control));
}

void UpdaterWindow::SetTitle(const std::string& title) {
    SetWindowTextW(m_hwnd, Utf16FromUtf8(title).c_str());
}

void UpdaterWindow::EnableControl(Control control, bool enable) {
    HWND item = Item(control);
    if (item == nullptr) {
        return;
    }
    // A control disabled while it has the focus takes it away, and a keyboard
    // user loses the window: it goes to the progress bar first, which stays
    // enabled and which a screen reader then reads.
    if (!enable && GetFocus() == item) {
        SendMessageW(m_hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(Control::kProgress)),
                     TRUE);
    }
    EnableWindow(item, enable ? TRUE : FALSE);
}

void UpdaterWindow::ShowControl(Control control, bool show) {
    if (HWND item = Item(control)) {
        ShowWindow(item, show ? SW_SHOW : SW_HIDE);
    }
}

void UpdaterWindow::SetControlText(Control control, const std::string& text) {
    if (HWND item = Item(control)) {
        SetWindowTextW(item, Utf16FromUtf8(text).c_str());
    }
}

void UpdaterWindow::SetProgressRange(int lower, int upper) {
    SendMessageW(Item(Control::kProgress), PBM_SETRANGE32, static_cast<WPARAM>(lower),
                 static_cast<LPARAM>(upper));
}

void UpdaterWindow::SetProgressPos(int position) {
    SendMessageW(Item(Control::kProgress), PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void UpdaterWindow::EnableCloseCommand(bool enable) {
    // Greying the Close item greys the caption's close button too.
    EnableMenuItem(GetSystemMenu(m_hwnd, FALSE), SC_CLOSE,
                   MF_BYCOMMAND | (enable ? MF_ENABLED : MF_GRAYED));
}

void UpdaterWindow::ResetList(Control list) {
    SendMessageW(Item(list), CB_RESETCONTENT, 0, 0);
}

void UpdaterWindow::AddListEntry(Control list, const std::string& text) {
    const std::wstring wide = Utf16FromUtf8(text);
    SendMessageW(Item(list), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
}

void UpdaterWindow::SetListSelection(Control list, int index) {
    SendMessageW(Item(list), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int UpdaterWindow::ListSelection(Control list) const {
    const LRESULT selection = SendMessageW(Item(list), CB_GETCURSEL, 0, 0);
    return selection == CB_ERR ? -1 : static_cast<int>(selection);
}

void UpdaterWindow::ShowErrorBox(const std::string& text, const std::string& caption) {
    MessageBoxW(m_hwnd, Utf16FromUtf8(text).c_str(), Utf16FromUtf8(caption).c_str(),
                MB_OK | MB_ICONHAND);
}

void UpdaterWindow::Post(Task task) {
    std::lock_guard lock(m_tasksMutex);
    m_tasks.push_back(std::move(task));
    if (m_target != nullptr) {
        PostMessageW(m_target, kRunTasks, 0, 0);
    }
}

void UpdaterWindow::PostDelayed(std::chrono::milliseconds delay, Task task) {
    if (!IsUiThread()) {
        Post([this, delay, task = std::move(task)]() mutable {
            PostDelayed(delay, std::move(task));
        });
        return;
    }
    if (m_hwnd == nullptr || m_destroyed) {
        return;
    }
    const UINT_PTR id = m_nextTimer++;
    m_delayed.emplace(id, std::move(task));
    SetTimer(m_hwnd, id, static_cast<UINT>(delay.count()), nullptr);
}

bool UpdaterWindow::IsUiThread() const {
    return GetCurrentThreadId() == m_uiThread;
}

}  // namespace corvane::app::win
