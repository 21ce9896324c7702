#include "tools/stop_signals.h"

#include <windows.h>

#include <atomic>

namespace corvane::tools {

namespace {

// Signalled by the console's control events; reset by the wait that takes it.
// Made before any thread that waits on it.
HANDLE StopEvent() {
    static const HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    return event;
}

// Set before the stop event for a request that ends the process; stays set.
std::atomic<bool> g_ending{false};

// Set once the program's own stop has run; stays set.
HANDLE DoneEvent() {
    static const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return event;
}

BOOL WINAPI OnConsoleControl(DWORD event) {
    return OnConsoleEvent(event) ? TRUE : FALSE;
}

}  // namespace

bool OnConsoleEvent(unsigned long event, std::chrono::milliseconds grace) {
    const bool ending =
        event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
    if (ending) {
        g_ending = true;
    }
    SetEvent(StopEvent());
    if (ending) {
        // The process ends when this returns, or when the system's grace
        // ends; returning first leaves the ending to the system's usual
        // way rather than a kill. A program that ends first ends this thread
        // with it.
        WaitForSingleObject(DoneEvent(), static_cast<DWORD>(grace.count()));
    }
    return true;  // handled: the program ends its run itself
}

void BlockStopSignals() {
    StopEvent();
    DoneEvent();
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

StopRequest WaitForStopSignal(std::chrono::milliseconds timeout) {
    const HANDLE event = StopEvent();
    if (event == nullptr) {
        Sleep(static_cast<DWORD>(timeout.count()));
        return StopRequest::kNone;
    }
    if (WaitForSingleObject(event, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
        return StopRequest::kNone;
    }
    return g_ending ? StopRequest::kEnd : StopRequest::kStop;
}

void StopDone() {
    SetEvent(DoneEvent());
}

}  // namespace corvane::tools
