#include "tools/stop_signals.h"

#include <signal.h>

#include <ctime>

namespace corvane::tools {

namespace {

sigset_t StopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

}  // namespace

void BlockStopSignals() {
    const sigset_t signals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

StopRequest WaitForStopSignal(std::chrono::milliseconds timeout) {
    const sigset_t signals = StopSignals();
    timespec wait{};
    wait.tv_sec = static_cast<std::time_t>(timeout.count() / 1000);
    wait.tv_nsec = static_cast<long>(timeout.count() % 1000) * 1000000L;
    return sigtimedwait(&signals, nullptr, &wait) > 0 ? StopRequest::kStop : StopRequest::kNone;
}

void StopDone() {}

}  // namespace corvane::tools
