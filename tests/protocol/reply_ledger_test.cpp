#include "protocol/reply_ledger.h"

#include <gtest/gtest.h>

#include <thread>

namespace corvane::protocol {
namespace {

using std::chrono::hours;
using std::chrono::milliseconds;
using End = ReplyLedger::End;

TEST(ReplyLedger, AWaitEndsWithTheReplyThatReachedItsCount) {
    ReplyLedger ledger;
    EXPECT_EQ(ledger.WaitFor(1, milliseconds(1)).end, End::kTimedOut);
    ledger.Record(7, ReplyKind::kResult);
    ledger.Record(0, ReplyKind::kVersion);
    // A count already passed ends the wait at once; the snapshot shows how far.
    const ReplyLedger::Snapshot passed = ledger.WaitFor(1, hours(1));
    EXPECT_EQ(passed.end, End::kReached);
    EXPECT_EQ(passed.last.number, 2u);
    EXPECT_EQ(passed.last.kind, ReplyKind::kVersion);

    std::thread device([&] { ledger.Record(5, ReplyKind::kResult); });
    const ReplyLedger::Snapshot third = ledger.WaitFor(3, hours(1));
    device.join();
    EXPECT_EQ(third.end, End::kReached);
    EXPECT_EQ(third.last.number, 3u);
    EXPECT_EQ(third.last.status, 5);
}

// Abandoning is state, not a signal: a wait that begins after it ends at
// once, and so does one already running, whatever its time-out.
TEST(ReplyLedger, AbandonEndsWaitsBeforeAndAfterIt) {
    ReplyLedger ledger;
    std::thread waiter([&] { EXPECT_EQ(ledger.WaitFor(1, hours(1)).end, End::kAbandoned); });
    ledger.Abandon();
    waiter.join();
    EXPECT_EQ(ledger.WaitFor(1, hours(1)).end, End::kAbandoned);
    ledger.Record(0, ReplyKind::kResult);
    EXPECT_EQ(ledger.WaitFor(1, hours(1)).end, End::kAbandoned);
    EXPECT_TRUE(ledger.Abandoned());
}

}  // namespace
}  // namespace corvane::protocol
