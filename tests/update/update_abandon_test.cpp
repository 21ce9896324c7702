// Closing the window in the middle of a run: whatever the worker waits for,
// it ends without a box and without touching the window again.

#include <gtest/gtest.h>

#include "support/update_fixture.h"

namespace corvane::testing {
namespace {

using device::Fault;
using device::RequestKind;

class UpdateAbandonTest : public UpdateFixture,
                          public ::testing::WithParamInterface<RequestKind> {};

TEST_P(UpdateAbandonTest, WindowDestructionEndsTheRunQuietly) {
    // The device keeps silent at the request under test, so the worker waits
    // there (with the product's own, long time-out) when the window goes.
    device::DeviceConfig config;
    config.faults.push_back(Fault::Drop(GetParam(), 1));
    StartDevice(config);
    OpenDialog(update::Timing{}, ImageOf(SmallImage()));
    Execute();
    ASSERT_TRUE(m_device->WaitForRequests(GetParam(), 1, std::chrono::milliseconds(10000)));

    const auto logBefore = View().Log();
    m_harness.Ui([&] { Dialog().OnDestroy(); });
    EXPECT_TRUE(m_harness.WaitIdle());
    EXPECT_TRUE(View().Boxes().empty());
    EXPECT_EQ(View().Log(), logBefore);
    EXPECT_EQ(Dialog().Replies().Status(), protocol::kStatusAbandon);
}

INSTANTIATE_TEST_SUITE_P(EveryWait, UpdateAbandonTest,
                         ::testing::Values(RequestKind::kIdentity, RequestKind::kOpening,
                                           RequestKind::kVersion, RequestKind::kPermission,
                                           RequestKind::kPrepare, RequestKind::kErase,
                                           RequestKind::kBlockWrite, RequestKind::kClosing),
                         [](const auto& info) {
                             return std::to_string(static_cast<int>(info.param));
                         });

TEST_F(UpdateAbandonTest, DestroyingTheDialogDuringAPauseDoesNotWaitItOut) {
    update::Timing timing = FastTiming();
    timing.afterClosing = std::chrono::minutes(10);  // a test run would never see its end
    StartDevice();
    OpenDialog(timing, ImageOf(SmallImage()));
    Execute();
    ASSERT_TRUE(
        m_device->WaitForRequests(RequestKind::kClosing, 1, std::chrono::milliseconds(10000)));
    m_harness.Close();  // joins the worker
    EXPECT_TRUE(View().Boxes().empty());
    EXPECT_NE(View().Text(app::Control::kStatus), "Firmware update completed.");
}

TEST_F(UpdateAbandonTest, AWorkerWaitingForTheWindowIsReleasedWhenItCloses) {
    device::DeviceConfig config;
    config.faults.push_back(Fault::Drop(RequestKind::kOpening, 1));
    update::Timing timing = FastTiming();
    timing.openingWait = std::chrono::milliseconds(20);
    StartDevice(config);
    OpenDialog(timing, ImageOf(SmallImage()));
    Execute();
    // Keep the window busy while the worker times out and asks for its box;
    // then the window goes before it could show it.
    m_harness.Ui([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        Dialog().OnDestroy();
    });
    EXPECT_TRUE(m_harness.WaitIdle());
    EXPECT_TRUE(View().Boxes().empty());
    EXPECT_TRUE(View().AllDisabled());
}

}  // namespace
}  // namespace corvane::testing
