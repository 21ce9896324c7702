#include "protocol/reply_ledger.h"

#include <gtest/gtest.h>

#include <thread>

namespace corvane::protocol {
namespace {

using std::chrono::hours;
using std::chrono::milliseconds;
using End = ReplyLedger::End;

TEST(ReplyLedger, RepliesAreTakenInTheOrderTheyCame) {
    ReplyLedger ledger;
    EXPECT_EQ(ledger.Take(milliseconds(1)).end, End::kTimedOut);
    ledger.Record(7, ReplyKind::kResult);
    ledger.Record(0, ReplyKind::kVersion);
    const ReplyLedger::Taken first = ledger.Take(hours(1));
    EXPECT_EQ(first.end, End::kReply);
    EXPECT_EQ(first.reply.number, 1u);
    EXPECT_EQ(first.reply.status, 7);
    EXPECT_EQ(ledger.Take(hours(1)).reply.kind, ReplyKind::kVersion);

    std::thread device([&] { ledger.Record(5, ReplyKind::kResult); });
    const ReplyLedger::Taken third = ledger.Take(hours(1));
    device.join();
    EXPECT_EQ(third.end, End::kReply);
    EXPECT_EQ(third.reply.number, 3u);
    EXPECT_EQ(ledger.Last().number, 3u);
}

// A device that floods the updater with replies is not believed: past the
// capacity nothing says which request a reply answers any more.
TEST(ReplyLedger, ClearForgetsWhatWaitsAndAnOverflow) {
    ReplyLedger ledger;
    for (std::size_t i = 0; i <= ReplyLedger::kCapacity; ++i) {
        ledger.Record(0, ReplyKind::kResult);
    }
    EXPECT_EQ(ledger.Take(hours(1)).end, End::kOverflowed);
    ledger.Clear();
    EXPECT_EQ(ledger.Take(milliseconds(1)).end, End::kTimedOut);
    EXPECT_EQ(ledger.Last().number, ReplyLedger::kCapacity + 1);
}

// Abandoning is state, not a signal: a wait that begins after it ends at
// once, and so does one already running, whatever its time-out.
TEST(ReplyLedger, AbandonEndsWaitsAndPausesBeforeAndAfterIt) {
    ReplyLedger ledger;
    std::thread waiter([&] { EXPECT_EQ(ledger.Take(hours(1)).end, End::kAbandoned); });
    std::thread sleeper([&] { EXPECT_FALSE(ledger.Sleep(hours(1))); });
    ledger.Abandon();
    waiter.join();
    sleeper.join();
    ledger.Record(0, ReplyKind::kResult);
    EXPECT_EQ(ledger.Take(hours(1)).end, End::kAbandoned);
    EXPECT_FALSE(ledger.Sleep(hours(1)));
    EXPECT_TRUE(ledger.Abandoned());
}

}  // namespace
}  // namespace corvane::protocol
