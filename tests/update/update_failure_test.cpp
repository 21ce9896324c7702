// Every way a run fails ends with its box, the controls given back and no
// claim of success; the retries stop where they should.

#include <gtest/gtest.h>

#include "support/update_fixture.h"

namespace corvane::testing {
namespace {

using device::Fault;
using device::RequestKind;

struct FailureRow {
    const char* name;
    std::vector<Fault> faults;
    const char* box;
    RequestKind counted = RequestKind::kIdentity;
    int expectedRequests = 1;  // of the counted kind

    friend void PrintTo(const FailureRow& row, std::ostream* os) { *os << row.name; }
};

update::Timing RowTiming() {
    update::Timing t = FastTiming();
    // Short enough for 31 time-outs in a row, long enough that an answer
    // merely slowed by a loaded machine does not time out: after each
    // time-out the answer to the version query that follows must come within
    // it too.
    t.blockWait = std::chrono::milliseconds(150);
    return t;
}

class UpdateFailureTest : public UpdateFixture, public ::testing::WithParamInterface<FailureRow> {};

TEST_P(UpdateFailureTest, EndsWithItsBox) {
    device::DeviceConfig config;
    config.faults = GetParam().faults;
    RunUpdate(config, RowTiming(), ImageOf(SmallImage()));
    ExpectFailedWith(GetParam().box);
    EXPECT_EQ(m_device->Counters().Requests(GetParam().counted), GetParam().expectedRequests);
    if (GetParam().counted != RequestKind::kClosing) {
        EXPECT_EQ(m_device->Counters().Requests(RequestKind::kClosing), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, UpdateFailureTest,
    ::testing::Values(FailureRow{"IdentityUnanswered",
                                 {Fault::Drop(RequestKind::kIdentity, 1)},
                                 "Time out error(1)"},
                      FailureRow{"IdentityRefused",
                                 {Fault::Refuse(RequestKind::kIdentity, 1)},
                                 "Illegal device connected."},
                      FailureRow{"OpeningUnanswered",
                                 {Fault::Drop(RequestKind::kOpening, 1)},
                                 "Time out error(1)",
                                 RequestKind::kOpening,
                                 1},
                      FailureRow{"OpeningRefused",
                                 {Fault::Refuse(RequestKind::kOpening, 1)},
                                 "Transfer error occurred.",
                                 RequestKind::kOpening,
                                 1},
                      FailureRow{"PermissionRefused",
                                 {Fault::Refuse(RequestKind::kPermission, 1)},
                                 "Cannot be updated to this version.",
                                 RequestKind::kPrepare,
                                 0},
                      FailureRow{"PermissionUnanswered",
                                 {Fault::Drop(RequestKind::kPermission, 1)},
                                 "Cannot be updated to this version.",
                                 RequestKind::kPrepare,
                                 0},
                      FailureRow{"PrepareUnanswered",
                                 {Fault::Drop(RequestKind::kPrepare, 1)},
                                 "Time out error(1)",
                                 RequestKind::kErase,
                                 0},
                      FailureRow{"PrepareLowBattery",
                                 {Fault::Refuse(RequestKind::kPrepare, 1, 0x65)},
                                 "Low Battery",
                                 RequestKind::kErase,
                                 0},
                      FailureRow{"PrepareOtherStatus",
                                 {Fault::Refuse(RequestKind::kPrepare, 1, 100)},
                                 "Transfer error occurred.",
                                 RequestKind::kErase,
                                 0},
                      FailureRow{"EraseUnanswered",
                                 {Fault::Drop(RequestKind::kErase, 1)},
                                 "Time out error(3)",
                                 RequestKind::kErase,
                                 1},
                      FailureRow{"EraseRefusedSevenTimes",
                                 {Fault::Refuse(RequestKind::kErase, 1).Times(7)},
                                 "Transfer error occurred.",
                                 RequestKind::kErase,
                                 7},
                      FailureRow{"BlockUnanswered32Times",
                                 {Fault::Drop(RequestKind::kBlockWrite, 1).Times(32)},
                                 "Time out error(2)",
                                 RequestKind::kBlockWrite,
                                 32},
                      FailureRow{"BlockRefused32Times",
                                 {Fault::Refuse(RequestKind::kBlockWrite, 2).Times(32)},
                                 "Transfer error occurred.",
                                 RequestKind::kBlockWrite,
                                 33},
                      // Refusals and time-outs count together; the box names the last.
                      FailureRow{"BlockRefusedThenUnanswered",
                                 {Fault::Refuse(RequestKind::kBlockWrite, 1).Times(20),
                                  Fault::Drop(RequestKind::kBlockWrite, 21).Times(12)},
                                 "Time out error(2)",
                                 RequestKind::kBlockWrite,
                                 32},
                      FailureRow{"ClosingUnanswered",
                                 {Fault::Drop(RequestKind::kClosing, 1)},
                                 "Transfer error occurred.",
                                 RequestKind::kClosing,
                                 1}),
    [](const auto& info) { return std::string(info.param.name); });

// The rows whose check differs from the common one.
class UpdateOutcomeTest : public UpdateFixture {};

TEST_F(UpdateOutcomeTest, IdentityRequestThatCannotBeSentSaysTheOutputWillNotOpen) {
    StartDevice();
    OpenDialog(FastTiming(), ImageOf(SmallImage()));
    m_backend.FailSends(m_backend.OutputId(0), true);
    Execute();
    ASSERT_TRUE(m_harness.WaitIdle());
    ExpectFailedWith("Can't open MIDI Out device.");
    EXPECT_EQ(m_device->Counters().Requests(RequestKind::kIdentity), 0);
}

TEST_F(UpdateOutcomeTest, UnknownDeviceIsRefusedButKeepsItsModelByte) {
    device::DeviceConfig config;
    config.identity = {0x6E, 0x00, 0x2A, 0x00};
    RunUpdate(config, FastTiming(), ImageOf(SmallImage()));
    ExpectFailedWith("Illegal device connected.");
    EXPECT_EQ(Dialog().Messenger().ModelByte(), 0x6E);
    EXPECT_EQ(m_device->Counters().Requests(RequestKind::kOpening), 0);
}

TEST_F(UpdateOutcomeTest, TheOtherKnownDeviceIsAccepted) {
    device::DeviceConfig config;
    config.identity = {0x6E, 0x00, 0x29, 0x00};
    RunUpdate(config, FastTiming(), ImageOf(SmallImage()));
    ExpectCompleted();
}

TEST_F(UpdateOutcomeTest, UpdateTypeTheDeviceDoesNotPermit) {
    device::DeviceConfig config;
    config.permittedTypes = std::vector<std::uint32_t>{2, 3};
    RunUpdate(config, FastTiming(), ImageOf(SmallImage()));
    ExpectFailedWith("Cannot be updated to this version.");
}

TEST_F(UpdateOutcomeTest, DamagedImageIsRefusedAfterTheVersionQuery) {
    std::vector<std::uint8_t> image = SmallImage();
    image[256 + 4] ^= 0x01;  // INFO's section header magic
    RunUpdate({}, FastTiming(), ImageOf(image));
    ExpectFailedWith("Illegal device connected.");
    EXPECT_EQ(m_device->Counters().Requests(RequestKind::kVersion), 1);
    EXPECT_EQ(m_device->Counters().Requests(RequestKind::kPermission), 0);
}

TEST_F(UpdateOutcomeTest, NoImageAtAllIsRefused) {
    RunUpdate({}, FastTiming(), ImageOf({}));
    ExpectFailedWith("Illegal device connected.");
}

TEST_F(UpdateOutcomeTest, UnansweredVersionQueryDoesNotStopTheRun) {
    device::DeviceConfig config;
    config.faults.push_back(Fault::Drop(RequestKind::kVersion, 1));
    RunUpdate(config, FastTiming(), ImageOf(SmallImage()));
    ExpectCompleted();
}

TEST_F(UpdateOutcomeTest, EraseRefusedSixTimesSucceedsAtTheSeventh) {
    device::DeviceConfig config;
    config.faults.push_back(Fault::Refuse(RequestKind::kErase, 1).Times(6));
    RunUpdate(config, FastTiming(), ImageOf(SmallImage()));
    ExpectCompleted();
    EXPECT_EQ(m_device->Counters().Requests(RequestKind::kErase), 7 + 1);
}

TEST_F(UpdateOutcomeTest, BlockUnanswered31TimesIsWrittenAtThe32ndAndTheCountStartsAgain) {
    device::DeviceConfig config;
    config.faults.push_back(Fault::Drop(RequestKind::kBlockWrite, 1).Times(31));
    config.faults.push_back(Fault::Refuse(RequestKind::kBlockWrite, 33).Times(31));
    // No failure to spare: every version query after a time-out must be
    // answered within the wait, also on a machine busy with other tests.
    update::Timing timing = RowTiming();
    timing.blockWait = std::chrono::milliseconds(300);
    RunUpdate(config, timing, ImageOf(SmallImage(1)));
    ExpectCompleted();
    // Two MAIN blocks (one short) and INFO's: 32 + 32 + 1 sendings.
    EXPECT_EQ(m_device->Counters().Requests(RequestKind::kBlockWrite), 65);
}

TEST_F(UpdateOutcomeTest, RefusedClosingStillCompletes) {
    device::DeviceConfig config;
    config.faults.push_back(Fault::Refuse(RequestKind::kClosing, 1));
    RunUpdate(config, FastTiming(), ImageOf(SmallImage()));
    ExpectCompleted();
}

}  // namespace
}  // namespace corvane::testing
