#pragma once
// SIGINT and SIGTERM as events a program waits for, instead of handlers that
// interrupt whatever runs: the program blocks them before it starts any
// thread (threads inherit the mask) and then asks for them where it suits it.

#include <chrono>

namespace corvane::tools {

// Call on the main thread before any other thread exists.
void BlockStopSignals();

// Waits up to `timeout` for SIGINT or SIGTERM; true when one arrived.
bool WaitForStopSignal(std::chrono::milliseconds timeout);

}  // namespace corvane::tools
