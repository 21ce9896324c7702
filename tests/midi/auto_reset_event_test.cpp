#include "midi/auto_reset_event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace corvane::midi {
namespace {

using namespace std::chrono_literals;

TEST(AutoResetEvent, SignalWithNobodyWaitingReleasesOnlyTheNextWait) {
    AutoResetEvent event;
    event.Set();
    event.Set();  // signals do not add up
    EXPECT_EQ(event.Wait(0ms), WaitResult::kSignalled);
    EXPECT_EQ(event.Wait(0ms), WaitResult::kTimedOut);
}

TEST(AutoResetEvent, ResetClearsAPendingSignal) {
    AutoResetEvent event;
    event.Set();
    event.Reset();
    EXPECT_EQ(event.Wait(0ms), WaitResult::kTimedOut);
}

TEST(AutoResetEvent, UnsignalledWaitTimesOut) {
    AutoResetEvent event;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(event.Wait(20ms), WaitResult::kTimedOut);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 20ms);
}

TEST(AutoResetEvent, OneSetReleasesOneOfTwoWaiters) {
    AutoResetEvent event;
    std::atomic<int> signalled{0};
    std::atomic<int> timedOut{0};
    auto wait = [&] {
        if (event.Wait(300ms) == WaitResult::kSignalled) {
            ++signalled;
        } else {
            ++timedOut;
        }
    };
    std::thread a(wait);
    std::thread b(wait);
    std::this_thread::sleep_for(20ms);
    event.Set();
    a.join();
    b.join();
    EXPECT_EQ(signalled, 1);
    EXPECT_EQ(timedOut, 1);
}

TEST(AutoResetEvent, WaiterSeesWhatTheSignallerWroteBeforeSet) {
    AutoResetEvent event;
    int payload = 0;  // plain on purpose: Set/Wait must order it
    std::thread signaller([&] {
        payload = 42;
        event.Set();
    });
    ASSERT_EQ(event.Wait(2000ms), WaitResult::kSignalled);
    EXPECT_EQ(payload, 42);
    signaller.join();
}

}  // namespace
}  // namespace corvane::midi
