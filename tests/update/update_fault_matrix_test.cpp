// Every request against every way a device can fail it: each run ends either
// completed with the flash holding the image, or with its box and the
// controls given back. Never "completed" over a wrong flash, never stuck.

#include <gtest/gtest.h>

#include <map>
#include <optional>

#include "support/update_fixture.h"

namespace corvane::testing {
namespace {

using device::Fault;
using device::RequestKind;
using std::chrono::milliseconds;

enum class Play { kDrop, kRefuse, kStallShort, kStallLong, kTwice, kBadByte, kGarbage, kVanish };

constexpr const char* kCompleted = "";
constexpr const char* kTimeout1 = "Time out error(1)";
constexpr const char* kTimeout2 = "Time out error(2)";
constexpr const char* kTimeout3 = "Time out error(3)";
constexpr const char* kTransfer = "Transfer error occurred.";
constexpr const char* kIllegal = "Illegal device connected.";
constexpr const char* kCannot = "Cannot be updated to this version.";

update::Timing MatrixTiming() {
    update::Timing t;
    t.identityWait = t.openingWait = t.versionWait = t.permissionWait = t.prepareWait =
        t.eraseWait = t.closingWait = milliseconds(300);
    t.blockWait = milliseconds(100);
    t.retryPause = milliseconds(20);
    t.beforeSteps = milliseconds(5);
    t.afterClosing = milliseconds(100);
    t.restartDelay = milliseconds(50);
    return t;
}

milliseconds WaitOf(RequestKind kind, const update::Timing& t) {
    return kind == RequestKind::kBlockWrite ? t.blockWait : t.identityWait;
}

// Messages no device sends whole: cut short, a byte that is no data byte, a
// stray channel message, a SysEx without its end.
std::vector<midi::Bytes> Garbage() {
    return {{0xF0, 0x52, 0x00, 0x6E, 0x00, 0xF7},
            {0xF0, 0x52, 0x00, 0x6E, 0x00, 0xFF, 0xF7},
            {0x90, 0x40, 0x7F},
            {0xF0, 0x52, 0x00, 0x6E, 0x00, 0x00},
            {0xF0, 0x7E, 0x00, 0x06, 0x02, 0x41, 0x6E, 0x00, 0xA9, 0x00, 0xF7}};
}

Fault FaultFor(RequestKind kind, Play play, const update::Timing& t) {
    const milliseconds wait = WaitOf(kind, t);
    switch (play) {
        case Play::kDrop:
            return Fault::Drop(kind, 1);
        case Play::kRefuse:
            return Fault::Refuse(kind, 1);
        case Play::kStallShort:
            return Fault::Busy(kind, 1, wait / 2);
        case Play::kStallLong:
            // Well short of twice the wait: the request after a version query
            // that timed out must still be answered within its own wait.
            return Fault::Busy(kind, 1, wait * 5 / 4);
        case Play::kTwice:
            return Fault::Duplicate(kind, 1);
        case Play::kBadByte:
            return Fault::Corrupt(kind, 1, 0xFF);
        case Play::kGarbage:
            return Fault::SendBefore(kind, 1, Garbage());
        case Play::kVanish:
            return Fault::Vanish(kind, 1, milliseconds(50));
    }
    return {};
}

struct Row {
    RequestKind kind;
    Play play;
    const char* outcome;  // the box text, or kCompleted

    friend void PrintTo(const Row& row, std::ostream* os) {
        *os << static_cast<int>(row.kind) << "/" << static_cast<int>(row.play);
    }
};

// Identity, opening, version, permission, prepare, erase, block, closing.
const std::map<Play, std::array<const char*, 8>> kOutcomes{
    {Play::kDrop,
     {kTimeout1, kTimeout1, kCompleted, kCannot, kTimeout1, kTimeout3, kCompleted, kTransfer}},
    {Play::kRefuse,
     {kIllegal, kTransfer, kCompleted, kCannot, kTransfer, kCompleted, kCompleted, kCompleted}},
    // The device stalls, reading nothing, then answers everything in order.
    {Play::kStallShort,
     {kCompleted, kCompleted, kCompleted, kCompleted, kCompleted, kCompleted, kCompleted,
      kCompleted}},
    // Past the wait: a block is fenced and completes, the version arrives
    // late and is passed over, the other requests time out.
    {Play::kStallLong,
     {kTimeout1, kTimeout1, kCompleted, kCannot, kTimeout1, kTimeout3, kCompleted, kTransfer}},
    {Play::kTwice,
     {kTransfer, kTransfer, kTransfer, kTransfer, kTransfer, kTransfer, kTransfer, kTransfer}},
    // A message with a byte of 0x80 or more is no message: as if unanswered.
    {Play::kBadByte,
     {kTimeout1, kTimeout1, kCompleted, kCannot, kTimeout1, kTimeout3, kCompleted, kTransfer}},
    {Play::kGarbage,
     {kCompleted, kCompleted, kCompleted, kCompleted, kCompleted, kCompleted, kCompleted,
      kCompleted}},
    // Open connections to a vanished port stay dead: the run ends at once
    // with the box of the step's time-out (the version query's has none).
    {Play::kVanish,
     {kTimeout1, kTimeout1, kCannot, kCannot, kTimeout1, kTimeout3, kTimeout2, kTransfer}},
};

std::vector<Row> Rows() {
    std::vector<Row> rows;
    for (const auto& [play, outcomes] : kOutcomes) {
        for (std::size_t k = 0; k < device::kRequestKindCount; ++k) {
            rows.push_back(Row{static_cast<RequestKind>(k), play, outcomes[k]});
        }
    }
    return rows;
}

class UpdateFaultMatrixTest : public UpdateFixture, public ::testing::WithParamInterface<Row> {};

TEST_P(UpdateFaultMatrixTest, EndsCompletedWithTheImageOrWithItsBox) {
    const Row& row = GetParam();
    update::Timing timing = MatrixTiming();
    if (row.play == Play::kVanish) {
        // The product's waits: only noticing that the device went ends the
        // run before the harness gives up on it.
        const update::Timing product;
        timing.identityWait = timing.openingWait = timing.prepareWait = timing.closingWait =
            product.identityWait;
        timing.versionWait = timing.permissionWait = timing.eraseWait = product.eraseWait;
        timing.blockWait = product.blockWait;
    }
    const std::vector<std::uint8_t> image = SmallImage(2);
    device::DeviceConfig config;
    config.faults.push_back(FaultFor(row.kind, row.play, timing));
    RunUpdate(config, timing, ImageOf(image));

    if (std::string(row.outcome).empty()) {
        ExpectCompleted();
        EXPECT_TRUE(FlashHoldsImage(m_device->Flash(), image));
    } else {
        ExpectFailedWith(row.outcome);
    }
}

std::string RowName(const ::testing::TestParamInfo<Row>& info) {
    static const char* const kinds[] = {"Identity", "Opening", "Version", "Permission",
                                        "Prepare",  "Erase",   "Block",   "Closing"};
    static const char* const plays[] = {"Drop",  "Refuse",  "StallShort", "StallLong",
                                        "Twice", "BadByte", "Garbage",    "Vanish"};
    return std::string(kinds[static_cast<int>(info.param.kind)]) +
           plays[static_cast<int>(info.param.play)];
}

INSTANTIATE_TEST_SUITE_P(Matrix, UpdateFaultMatrixTest, ::testing::ValuesIn(Rows()), RowName);

// A block that stalls the device, alone or followed by a block whose answer
// is lost or refused, at a few lengths of the stall: fenced, then completed.
struct Stall {
    int blockWaits;  // the stall's length, in block waits
    std::optional<Play> next;

    friend void PrintTo(const Stall& stall, std::ostream* os) {
        *os << stall.blockWaits << "/" << (stall.next ? static_cast<int>(*stall.next) : -1);
    }
};

class UpdateStallTest : public UpdateFixture, public ::testing::WithParamInterface<Stall> {};

TEST_P(UpdateStallTest, CompletesWithTheImage) {
    const update::Timing timing = MatrixTiming();
    const std::vector<std::uint8_t> image = SmallImage(3);
    const int stalled = 2;
    device::DeviceConfig config;
    config.faults.push_back(
        Fault::Busy(RequestKind::kBlockWrite, stalled, timing.blockWait * GetParam().blockWaits));
    if (GetParam().next) {
        Fault next = FaultFor(RequestKind::kBlockWrite, *GetParam().next, timing);
        next.nth = stalled + 1;
        config.faults.push_back(next);
    }
    RunUpdate(config, timing, ImageOf(image));
    ExpectCompleted();
    EXPECT_TRUE(FlashHoldsImage(m_device->Flash(), image));
}

INSTANTIATE_TEST_SUITE_P(Stalls, UpdateStallTest,
                         ::testing::Values(Stall{3, Play::kDrop}, Stall{3, Play::kRefuse},
                                           Stall{10, std::nullopt}, Stall{10, Play::kDrop}));

// Behaviours where a fence's answer, or a version query's, never comes: the
// run must not take the next result for it.
struct Unfenced {
    const char* name;
    std::vector<Fault> faults;
    const char* outcome;
    std::optional<milliseconds> permissionWait;  // the product's, where the box must not wait it

    friend void PrintTo(const Unfenced& u, std::ostream* os) { *os << u.name; }
};

class UpdateUnfencedTest : public UpdateFixture, public ::testing::WithParamInterface<Unfenced> {};

TEST_P(UpdateUnfencedTest, EndsAsTheDevicesAnswersSay) {
    update::Timing timing = MatrixTiming();
    if (GetParam().permissionWait) {
        timing.permissionWait = *GetParam().permissionWait;
    }
    const std::vector<std::uint8_t> image = SmallImage(2);
    device::DeviceConfig config;
    config.faults = GetParam().faults;
    RunUpdate(config, timing, ImageOf(image));
    if (std::string(GetParam().outcome).empty()) {
        ExpectCompleted();
        EXPECT_TRUE(FlashHoldsImage(m_device->Flash(), image));
    } else {
        ExpectFailedWith(GetParam().outcome);
    }
}

// SmallImage(2): three MAIN blocks, then INFO's block, the last.
INSTANTIATE_TEST_SUITE_P(
    Fences, UpdateUnfencedTest,
    ::testing::Values(
        // The last block answered late, the fence's answer lost, the closing
        // request refused: any answer to it counts.
        Unfenced{"LostFenceAnswerThenClosingRefused",
                 {Fault::Busy(RequestKind::kBlockWrite, 4, milliseconds(250)),
                  Fault::Drop(RequestKind::kVersion, 2), Fault::Refuse(RequestKind::kClosing, 1)},
                 kCompleted,
                 std::nullopt},
        // A device that answers no version query while it writes, one block
        // answer lost: the block goes out again and is answered.
        Unfenced{"NoFenceAnswered",
                 {Fault::Drop(RequestKind::kVersion, 2).Times(1000),
                  Fault::Drop(RequestKind::kBlockWrite, 2)},
                 kCompleted,
                 std::nullopt},
        // The same with a late answer: nothing taken for the wrong block.
        Unfenced{"NoFenceAnsweredBlockLate",
                 {Fault::Drop(RequestKind::kVersion, 2).Times(1000),
                  Fault::Busy(RequestKind::kBlockWrite, 2, milliseconds(250)),
                  Fault::Drop(RequestKind::kBlockWrite, 4)},
                 kCompleted,
                 std::nullopt},
        // The version query unanswered, the permission refused: the box comes
        // at the refusal, not a permission wait later (the harness gives up
        // long before the product's 60 s).
        Unfenced{
            "LostVersionQueryThenRefusal",
            {Fault::Drop(RequestKind::kVersion, 1), Fault::Refuse(RequestKind::kPermission, 1)},
            kCannot,
            milliseconds(60000)}),
    [](const ::testing::TestParamInfo<Unfenced>& info) { return std::string(info.param.name); });

// Answers that come out of order are beyond what a device does; they may
// fail the update, but never complete it over a hole: a block answered late
// while the fence after it is answered at once, then a later block refused.
TEST_F(UpdateStallTest, AnswersOutOfOrderNeverCompleteOverAHole) {
    update::Timing timing = MatrixTiming();
    // The last look for an answer left over, long enough for the late one to
    // show on a loaded machine.
    timing.afterClosing = milliseconds(1000);
    const std::vector<std::uint8_t> image = SmallImage(3);
    device::DeviceConfig config;
    config.faults.push_back(Fault::Delay(RequestKind::kBlockWrite, 1, timing.blockWait * 3));
    config.faults.push_back(Fault::Refuse(RequestKind::kBlockWrite, 4));
    RunUpdate(config, timing, ImageOf(image));
    if (View().Text(app::Control::kStatus) == "Firmware update completed.") {
        ExpectCompleted();
        EXPECT_TRUE(FlashHoldsImage(m_device->Flash(), image));
    } else {
        ExpectFailedWith(kTransfer);
    }
}

// The last MAIN block answered late, INFO's block refused for good: the
// closing request's wait must not take INFO's refusal for its answer.
TEST_F(UpdateStallTest, InfosRefusalIsNotTakenForTheClosingAnswer) {
    const update::Timing timing = MatrixTiming();
    const std::vector<std::uint8_t> image = SmallImage(2);
    const int lastMainBlock = 3;
    device::DeviceConfig config;
    config.faults.push_back(
        Fault::Busy(RequestKind::kBlockWrite, lastMainBlock, timing.blockWait * 5 / 2));
    config.faults.push_back(Fault::Refuse(RequestKind::kBlockWrite, lastMainBlock + 1).Times(100));
    RunUpdate(config, timing, ImageOf(image));
    ExpectFailedWith(kTransfer);
    EXPECT_FALSE(FlashHoldsImage(m_device->Flash(), image));
}

}  // namespace
}  // namespace corvane::testing
