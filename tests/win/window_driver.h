#pragma once
// Drives the updater's programs from outside, as a user would, for the tests
// that run under Wine on a virtual display: starts a program, finds its
// windows, reads and presses their controls, and takes screenshots.

#include <windows.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace corvane::app::win::testing {

using namespace std::chrono_literals;

// False where no display is reachable: the window tests are then skipped.
bool HaveDisplay();

class Program {
public:
    // Starts `path` (a Unix path under Wine) with `arguments`.
    Program(const std::string& path, const std::wstring& arguments = L"");
    ~Program();  // ends the process when it still runs
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool Started() const { return m_process.hProcess != nullptr; }
    DWORD Id() const { return m_process.dwProcessId; }
    // The process's exit code once it ended within `timeout`.
    std::optional<DWORD> WaitForExit(std::chrono::milliseconds timeout);
    // A visible top-level window of the process with this exact title, or null.
    HWND FindWindowTitled(const std::wstring& title) const;

private:
    PROCESS_INFORMATION m_process{};
};

// Opens the file at the Windows path `path` as a double click in Explorer
// does: a shortcut starts its target. False when the shell refused it.
bool OpenWithShell(const std::wstring& path);
// A visible top-level window of any process with this exact title, or null.
HWND FindAnyWindowTitled(const std::wstring& title);
// A visible top-level window of the thread with this exact title, or null.
HWND FindThreadWindowTitled(DWORD threadId, const std::wstring& title);

// Polls `condition` until it holds or `timeout` passes; true when it held.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

std::wstring Text(HWND window);
HWND Item(HWND dialog, int id);
// Presses the push button `id` of `dialog`, as a click does.
void Press(HWND dialog, int id);
// Returns once the window's thread has handled everything sent before.
void Sync(HWND window);
// Writes what the screen shows of the window, frame included, as a 24-bit
// BMP; returns the number of distinct colours seen (0 when nothing was written).
int Screenshot(HWND window, const std::string& path);

}  // namespace corvane::app::win::testing
