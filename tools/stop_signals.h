#pragma once
// SIGINT and SIGTERM as events a program waits for, instead of handlers that
// interrupt whatever runs: the program blocks them before it starts any
// thread (threads inherit the mask) and then asks for them where it suits it.
// On Windows the console's control events stand for them.

#include <chrono>

namespace corvane::tools {

// Call on the main thread before any other thread exists.
void BlockStopSignals();

// Waits up to `timeout` for SIGINT or SIGTERM; true when one arrived.
bool WaitForStopSignal(std::chrono::milliseconds timeout);

// Says that the program has done its own stop. On Windows the system ends the
// process as soon as the handler of a console close (or log-off, shut-down)
// returns, so that handler waits for this; elsewhere it does nothing.
void StopDone();

#ifdef _WIN32
// What the console calls for each of its control events: a stop request for
// every one, which a close, log-off or shut-down also waits out until
// StopDone. Always true: the program ends its run itself.
bool OnConsoleEvent(unsigned long event);
#endif

}  // namespace corvane::tools
