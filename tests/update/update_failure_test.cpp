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

// No row's box comes at a block's time-out (those are counted on the driven
// clock), so no block answer here may miss its wait, however loaded the
// machine: one that did would add a fence and a resend to the counts.
update::Timing RowTiming() {
    update::Timing t = FastTiming();
    t.blockWait = std::chrono::seconds(30);
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
                      FailureRow{"BlockRefused32Times",
                                 {Fault::Refuse(RequestKind::kBlockWrite, 2).Times(32)},
                                 "Transfer error occurred.",
                                 RequestKind::kBlockWrite,
                                 33},
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

TEST_F(UpdateOutcomeTest, RefusedClosingStillCompletes) {
    device::DeviceConfig config;
    config.faults.push_back(Fault::Refuse(RequestKind::kClosing, 1));
    RunUpdate(config, FastTiming(), ImageOf(SmallImage()));
    ExpectCompleted();
}

}  // namespace
}  // namespace corvane::testing
