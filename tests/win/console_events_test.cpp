// corvane-flash.exe's console events: the system ends the process as soon as
// the handler of a close returns, so that handler waits for the program's own
// stop. A test cannot make the system send a close; it calls the handler.

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tools/stop_signals.h"

namespace corvane::tools {
namespace {

using namespace std::chrono_literals;

TEST(ConsoleEvents, CtrlCAsksForAStopAndReturnsAtOnce) {
    BlockStopSignals();
    EXPECT_TRUE(OnConsoleEvent(CTRL_C_EVENT));
    EXPECT_TRUE(WaitForStopSignal(10s));
}

TEST(ConsoleEvents, ACloseReturnsOnlyOnceTheProgramHasStopped) {
    BlockStopSignals();
    std::atomic<bool> stopped{false};
    bool stoppedWhenReturned = false;
    std::thread console([&] {
        EXPECT_TRUE(OnConsoleEvent(CTRL_CLOSE_EVENT));
        stoppedWhenReturned = stopped;
    });
    EXPECT_TRUE(WaitForStopSignal(10s));
    stopped = true;
    StopDone();
    console.join();
    EXPECT_TRUE(stoppedWhenReturned);
}

}  // namespace
}  // namespace corvane::tools
