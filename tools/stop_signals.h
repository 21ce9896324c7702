#pragma once
// SIGINT and SIGTERM as events a program waits for, instead of handlers that
// interrupt whatever runs: the program blocks them before it starts any
// thread (threads inherit the mask) and then asks for them where it suits it.
// On Windows the console's control events stand for them.

#include <chrono>

namespace corvane::tools {

// Call on the main thread before any other thread exists.
void BlockStopSignals();

enum class StopRequest {
    kNone,
    kStop,  // SIGINT, SIGTERM, Ctrl+C: the program ends its work as it sees fit
    // The console closes, the user logs off or the system shuts down: the
    // process is ended a few seconds after it is told, whatever it does.
    kEnd,
};

// Waits up to `timeout` for a stop request; kNone when none arrived.
StopRequest WaitForStopSignal(std::chrono::milliseconds timeout);

// Says that the program has done its own stop. On Windows the system ends the
// process as soon as the handler of a console close (or log-off, shut-down)
// returns, so that handler waits for this; elsewhere it does nothing.
void StopDone();

#ifdef _WIN32
// Below the five seconds the system grants a console's close: the program's
// own stop may take this long before the process is left to end.
inline constexpr std::chrono::milliseconds kEndGrace{4000};

// What the console calls for each of its control events: a stop request for
// every one, which a close, log-off or shut-down also waits out until
// StopDone, for `grace` at most. Always true: the program ends its run itself.
bool OnConsoleEvent(unsigned long event, std::chrono::milliseconds grace = kEndGrace);
#endif

}  // namespace corvane::tools
