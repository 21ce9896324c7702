#include "tools/stop_signals.h"

#include <windows.h>

namespace corvane::tools {

namespace {

// Signalled by the console's control events; reset by the wait that takes it.
// Made before any thread that waits on it.
HANDLE StopEvent() {
    static const HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    return event;
}

// Set once the program's own stop has run; stays set.
HANDLE DoneEvent() {
    static const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return event;
}

BOOL WINAPI OnConsoleControl(DWORD event) {
    return OnConsoleEvent(event) ? TRUE : FALSE;
}

}  // namespace

bool OnConsoleEvent(unsigned long event) {
    SetEvent(StopEvent());
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        // The process ends when this returns. The system's own grace time
        // (five seconds for a close) bounds the wait; a program that ends
        // first ends this thread with it.
        WaitForSingleObject(DoneEvent(), INFINITE);
    }
    return true;  // handled: the program ends its run itself
}

void BlockStopSignals() {
    StopEvent();
    DoneEvent();
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

void StopDone() {
    SetEvent(DoneEvent());
}

}  // namespace corvane::tools
