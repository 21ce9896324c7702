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
    EXPECT_EQ(WaitForStopSignal(10s), StopRequest::kStop);
}

// Before the program has ever reported its stop (the next case does): a stop
// that takes longer than the system's grace leaves the handler no less
// bounded, and the program is told that the process ends.
TEST(ConsoleEvents, ACloseWaitsForTheProgramNoLongerThanItsGrace) {
    BlockStopSignals();
    EXPECT_TRUE(OnConsoleEvent(CTRL_CLOSE_EVENT, 10ms));
    EXPECT_EQ(WaitForStopSignal(10s), StopRequest::kEnd);
}

TEST(ConsoleEvents, ACloseReturnsOnlyOnceTheProgramHasStopped) {
    BlockStopSignals();
    std::atomic<bool> stopped{false};
    bool stoppedWhenReturned = false;
    std::thread console([&] {
        EXPECT_TRUE(OnConsoleEvent(CTRL_CLOSE_EVENT, 10min));
        stoppedWhenReturned = stopped;
    });
    EXPECT_EQ(WaitForStopSignal(10s), StopRequest::kEnd);
    stopped = true;
    StopDone();
    console.join();
    EXPECT_TRUE(stoppedWhenReturned);
}

}  // namespace
}  // namespace corvane::tools
