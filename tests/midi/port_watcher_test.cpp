#include "midi/port_watcher.h"

#include <gtest/gtest.h>

#include <mutex>

#include "midi/auto_reset_event.h"
#include "midi/loopback_backend.h"

namespace corvane::midi {
namespace {

using namespace std::chrono_literals;

class PortWatcherTest : public ::testing::Test {
protected:
    LoopbackBackend backend;
    PortDirectory ports{backend};
    AutoResetEvent changed;
    std::atomic<int> calls{0};
    std::mutex seenMutex;
    std::vector<PortChange> seen;  // guarded by seenMutex
    PortWatcher watcher{ports,
                        [this](const std::vector<PortChange>& changes) {
                            {
                                std::lock_guard lock(seenMutex);
                                seen.insert(seen.end(), changes.begin(), changes.end());
                            }
                            ++calls;
                            changed.Set();
                        },
                        2ms};
};

TEST_F(PortWatcherTest, QuietWhileNothingChanges) {
    backend.AddInput("Present before Start");
    watcher.Start();
    EXPECT_EQ(changed.Wait(30ms), WaitResult::kTimedOut);
    EXPECT_EQ(calls, 0);
}

TEST_F(PortWatcherTest, ReportsArrivalAndRemovalOnEitherList) {
    watcher.Start();
    backend.AddOutput("Device");
    ASSERT_EQ(changed.Wait(2000ms), WaitResult::kSignalled);
    const auto in = backend.AddInput("Device");
    ASSERT_EQ(changed.Wait(2000ms), WaitResult::kSignalled);
    backend.Remove(in);
    ASSERT_EQ(changed.Wait(2000ms), WaitResult::kSignalled);
    // One call per change, not one per look.
    EXPECT_EQ(changed.Wait(20ms), WaitResult::kTimedOut);
    EXPECT_EQ(calls, 3);
    const Port device{"Device", "", "name:Device"};
    std::lock_guard lock(seenMutex);
    EXPECT_EQ(seen, (std::vector<PortChange>{{PortChange::kAdded, PortList::kOutput, device},
                                             {PortChange::kAdded, PortList::kInput, device},
                                             {PortChange::kRemoved, PortList::kInput, device}}));
}

TEST_F(PortWatcherTest, RenamedPortCountsAsAChange) {
    const auto port = backend.AddInput("Old");
    watcher.Start();
    backend.Remove(port);
    backend.AddInput("New");
    EXPECT_EQ(changed.Wait(2000ms), WaitResult::kSignalled);
}

TEST_F(PortWatcherTest, NothingIsReportedAfterStop) {
    watcher.Start();
    watcher.Stop();
    backend.AddInput("Late");
    EXPECT_EQ(changed.Wait(20ms), WaitResult::kTimedOut);
    EXPECT_EQ(calls, 0);

    // A restart compares with a fresh look.
    watcher.Start();
    EXPECT_EQ(changed.Wait(20ms), WaitResult::kTimedOut);
    backend.AddOutput("Later");
    EXPECT_EQ(changed.Wait(2000ms), WaitResult::kSignalled);
}

// A device that goes and comes back between two looks leaves the lists as
// they were: its held ports going counts as the change, once.
TEST(PortWatcherHeldTest, AHeldPortGoingCountsOnceAsAChange) {
    LoopbackBackend backend;
    PortDirectory ports(backend);
    AutoResetEvent changed;
    std::atomic<int> calls{0};
    std::atomic<bool> gone{false};
    PortWatcher watcher(
        ports,
        [&](const std::vector<PortChange>&) {
            ++calls;
            changed.Set();
        },
        2ms, [&] { return gone.load(); });
    watcher.Start();
    gone = true;
    ASSERT_EQ(changed.Wait(2000ms), WaitResult::kSignalled);
    EXPECT_EQ(changed.Wait(20ms), WaitResult::kTimedOut);
    gone = false;  // the owner opened the ports again
    EXPECT_EQ(changed.Wait(20ms), WaitResult::kTimedOut);
    gone = true;
    ASSERT_EQ(changed.Wait(2000ms), WaitResult::kSignalled);
    EXPECT_EQ(calls, 2);
}

}  // namespace
}  // namespace corvane::midi
