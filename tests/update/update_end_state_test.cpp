// The end of a run is one step for the window: nothing the user does can
// come between its parts.

#include <gtest/gtest.h>

#include "support/update_fixture.h"

namespace corvane::testing {
namespace {

class UpdateEndStateTest : public UpdateFixture {
protected:
    // A user who clicks Execute the moment it is enabled: the click is
    // queued behind what the window is doing and lands only if Execute is
    // still enabled by then.
    void ClickExecuteWheneverEnabled() {
        View().OnEnable([this](Control c, bool enable) {
            if (c == Control::kExecute && enable) {
                m_harness.Loop().Post([this] {
                    if (View().Enabled(Control::kExecute)) {
                        ++m_clicks;
                        Dialog().OnExecute();
                    }
                });
            }
        });
    }
    int m_clicks = 0;  // user-interface thread only
};

TEST_F(UpdateEndStateTest, AClickQueuedAtCompletionFindsExecuteDisabled) {
    ClickExecuteWheneverEnabled();
    RunUpdate({}, FastTiming(), ImageOf(SmallImage()));
    ASSERT_TRUE(m_harness.WaitIdle());
    EXPECT_EQ(m_harness.Ui([&] { return m_clicks; }), 0);
    EXPECT_EQ(m_device->Counters().Requests(device::RequestKind::kIdentity), 1);
    ExpectCompleted();
}

TEST_F(UpdateEndStateTest, AClickQueuedWhenTheDeviceMustRestartFindsExecuteDisabled) {
    ClickExecuteWheneverEnabled();
    device::DeviceConfig config;
    config.prepareStatus = device::kPrepareRestart;
    config.restartDelay = device::kForever;
    RunUpdate(config, FastTiming(), ImageOf(SmallImage()));
    ASSERT_TRUE(m_harness.WaitIdle());
    EXPECT_EQ(m_harness.Ui([&] { return m_clicks; }), 0);
    EXPECT_EQ(m_device->Counters().Requests(device::RequestKind::kIdentity), 1);
    EXPECT_TRUE(Dialog().RestartPending());
    EXPECT_EQ(View().Text(Control::kStatus), "Ready for firmware update!");
}

}  // namespace
}  // namespace corvane::testing
