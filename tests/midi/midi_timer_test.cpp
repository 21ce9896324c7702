#include "midi/midi_timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace corvane::midi {
namespace {

using namespace std::chrono_literals;

struct Ticks {
    std::atomic<int> count{0};
    std::atomic<int> inside{0};
    std::atomic<int> mostInside{0};
    std::chrono::milliseconds work{0};
};

void CountTick(std::uint32_t, std::uint32_t, std::uintptr_t user, std::uintptr_t reserved1,
               std::uintptr_t reserved2) {
    auto* ticks = reinterpret_cast<Ticks*>(user);
    const int now = ++ticks->inside;
    int most = ticks->mostInside;
    while (now > most && !ticks->mostInside.compare_exchange_weak(most, now)) {
    }
    if (ticks->work.count() > 0) {
        std::this_thread::sleep_for(ticks->work);
    }
    if (reserved1 == 0 && reserved2 == 0) {
        ++ticks->count;
    }
    --ticks->inside;
}

std::uintptr_t Context(Ticks& ticks) {
    return reinterpret_cast<std::uintptr_t>(&ticks);
}

// Waits for at least n ticks, at most two seconds.
bool WaitForTicks(const std::atomic<int>& count, int n) {
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (count < n) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

TEST(MidiTimer, StoppingAnIdleTimerReturnsOne) {
    CDxMTimer timer;
    EXPECT_EQ(timer.Stop(), 1);
    EXPECT_EQ(timer.Stop(), 1);
}

TEST(MidiTimer, RunningTimerTicksWithItsContextUntilStopped) {
    Ticks ticks;
    CDxMTimer timer;
    EXPECT_NE(timer.Start(1, CountTick, Context(ticks)), 0u);
    ASSERT_TRUE(WaitForTicks(ticks.count, 5));
    EXPECT_EQ(timer.Stop(), 1);
    const int stoppedAt = ticks.count;
    std::this_thread::sleep_for(10ms);
    EXPECT_EQ(ticks.count, stoppedAt);
}

TEST(MidiTimer, StartingAgainReplacesTheRunningTimer) {
    Ticks old;
    Ticks current;
    CDxMTimer timer;
    const auto firstId = timer.Start(1, CountTick, Context(old));
    ASSERT_TRUE(WaitForTicks(old.count, 2));
    const auto secondId = timer.Start(1, CountTick, Context(current));
    EXPECT_NE(secondId, 0u);
    EXPECT_NE(secondId, firstId);
    const int oldAtReplace = old.count;
    ASSERT_TRUE(WaitForTicks(current.count, 5));
    EXPECT_EQ(old.count, oldAtReplace);
}

class CountingTimer : public CDxMTimer {
public:
    ~CountingTimer() override { Stop(); }  // no tick may reach a half-destroyed object
    void OnTimerEvent() override { ++count; }
    std::atomic<int> count{0};
};

TEST(MidiTimer, WithoutCallbackTicksGoToOnTimerEvent) {
    CountingTimer timer;
    EXPECT_NE(timer.Start(1, nullptr, 0), 0u);
    EXPECT_TRUE(WaitForTicks(timer.count, 3));
}

TEST(MidiTimer, SlowTicksDelayTheNextInsteadOfOverlapping) {
    Ticks ticks;
    ticks.work = 3ms;
    CDxMTimer timer;
    timer.Start(1, CountTick, Context(ticks));
    ASSERT_TRUE(WaitForTicks(ticks.count, 6));
    timer.Stop();
    EXPECT_EQ(ticks.mostInside, 1);
}

TEST(MidiTimer, DestructionStopsTheTimer) {
    Ticks ticks;
    {
        CDxMTimer timer;
        timer.Start(1, CountTick, Context(ticks));
        ASSERT_TRUE(WaitForTicks(ticks.count, 2));
    }
    const int afterDestruction = ticks.count;
    EXPECT_EQ(ticks.inside, 0);
    std::this_thread::sleep_for(10ms);
    EXPECT_EQ(ticks.count, afterDestruction);
}

// Timers may share one ticking thread: many started and stopped at once from
// several threads each tick their own context, and a stop waits for its tick.
TEST(MidiTimer, TimersStartedAndStoppedTogetherTickTheirOwnContext) {
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([t, &failures] {
            for (int round = 0; round < 10; ++round) {
                Ticks ticks;
                CDxMTimer timer;
                // Periods apart, so that the shared wait ends on different timers.
                timer.Start(1 + static_cast<std::uint32_t>((t + round) % 3) * 2, CountTick,
                            Context(ticks));
                if (!WaitForTicks(ticks.count, 2)) {
                    ++failures;
                }
                timer.Stop();
                if (ticks.inside != 0) {
                    ++failures;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, 0);
}

}  // namespace
}  // namespace corvane::midi
