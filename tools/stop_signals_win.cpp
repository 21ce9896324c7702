#include "tools/stop_signals.h"

#include <windows.h>

namespace corvane::tools {

namespace {

// Signalled by the console's Ctrl+C, Ctrl+Break and close events; reset by
// the wait that takes it. Made before any thread that waits on it.
HANDLE StopEvent() {
    static const HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    return event;
}

BOOL WINAPI OnConsoleControl(DWORD) {
    SetEvent(StopEvent());
    return TRUE;  // handled: the program ends its run itself
}

}  // namespace

void BlockStopSignals() {
    StopEvent();
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

bool WaitForStopSignal(std::chrono::milliseconds timeout) {
    const HANDLE event = StopEvent();
    if (event == nullptr) {
        Sleep(static_cast<DWORD>(timeout.count()));
        return false;
    }
    return WaitForSingleObject(event, static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0;
}

}  // namespace corvane::tools
