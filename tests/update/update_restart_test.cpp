// A device that must restart into its update mode: the window asks the user
// to replug it, waits for its ports to come back, and carries on by itself.

#include <gtest/gtest.h>

#include <algorithm>

#include "support/update_fixture.h"

namespace corvane::testing {
namespace {

using app::Control;
using device::RequestKind;

class UpdateRestartTest : public UpdateFixture {
protected:
    // Runs until the device has asked for the restart and the window waits.
    // With `holdDelayed` the restart waits until the test runs it. The test
    // tells the dialog of device changes itself unless the dialog is to look
    // at the port lists every `look`.
    void RunUntilWaitingForTheDevice(std::chrono::milliseconds away, bool holdDelayed = false,
                                     std::chrono::milliseconds look = {}) {
        device::DeviceConfig config;
        config.prepareStatus = device::kPrepareRestart;
        config.restartDelay = away;
        StartDevice(config);
        update::Timing timing = FastTiming();
        timing.portListLook = look;
        OpenDialog(timing, ImageOf(SmallImage()), holdDelayed);
        Execute();
        ASSERT_TRUE(DialogHarness::WaitFor([&] { return Dialog().RestartPending(); }));
        ASSERT_TRUE(m_harness.WaitIdle());
    }
    void DeviceChanged() {
        m_harness.Ui([&] { Dialog().OnDeviceChange(); });
    }
    // No run to start or steer, but the user may give up the wait.
    void ExpectWaitingControls() {
        for (Control c :
             {Control::kExecute, Control::kRescan, Control::kMidiIn, Control::kMidiOut}) {
            EXPECT_FALSE(View().Enabled(c)) << static_cast<int>(c);
        }
        EXPECT_TRUE(View().Enabled(Control::kExit));
        EXPECT_TRUE(View().CloseEnabled());
        EXPECT_TRUE(m_harness.Ui([&] { return Dialog().CanClose(); }));
    }
};

TEST_F(UpdateRestartTest, WaitingStateAsksForTheReplug) {
    RunUntilWaitingForTheDevice(std::chrono::minutes(10));
    EXPECT_EQ(View().Text(Control::kStatus), "Ready for firmware update!");
    EXPECT_EQ(View().Text(Control::kHint), "Please restart the device.");
    EXPECT_TRUE(View().Shown(Control::kPicRestart));
    ExpectWaitingControls();
    EXPECT_FALSE(Dialog().Running());
    EXPECT_TRUE(View().Boxes().empty());
}

TEST_F(UpdateRestartTest, ADeviceChangeWhileTheDeviceIsAwayChangesNothing) {
    RunUntilWaitingForTheDevice(std::chrono::minutes(10));
    ASSERT_TRUE(m_device->WaitForPresence(false, std::chrono::milliseconds(5000)));
    DeviceChanged();
    EXPECT_TRUE(DialogHarness::WaitFor([&] { return View().List(Control::kMidiIn).empty(); },
                                       std::chrono::milliseconds(5000)));
    EXPECT_TRUE(Dialog().RestartPending());
    ExpectWaitingControls();
    EXPECT_EQ(m_device->Counters().Requests(RequestKind::kIdentity), 1);
}

// Closing gives up the wait: a restart planned before the close does nothing.
TEST_F(UpdateRestartTest, ClosingWhileWaitingCancelsThePlannedRestart) {
    RunUntilWaitingForTheDevice(std::chrono::milliseconds(1), true);
    ASSERT_TRUE(m_device->WaitForPresence(true, std::chrono::milliseconds(5000)));
    DeviceChanged();
    const std::size_t planned = m_harness.Held().Delays().size();
    ASSERT_GE(planned, 1u);
    ASSERT_TRUE(m_harness.Ui([&] { return Dialog().CanClose(); }));
    m_harness.Ui([&] { Dialog().OnDestroy(); });
    EXPECT_FALSE(Dialog().RestartPending());
    for (std::size_t i = 0; i < planned; ++i) {
        m_harness.RunHeld(i);
    }
    EXPECT_TRUE(m_harness.Ui([&] { return Dialog().WorkerIdle() && !Dialog().Running(); }));
    EXPECT_EQ(m_device->Counters().Requests(RequestKind::kIdentity), 1);
    EXPECT_TRUE(View().Boxes().empty());
}

// The unplug and the replug each change the port lists; the device is spoken
// to only once the full settle delay has passed after the last change. (A
// device gone before the wait began has had a restart planned already.)
TEST_F(UpdateRestartTest, TheRestartWaitsForTheLastPortChange) {
    RunUntilWaitingForTheDevice(std::chrono::milliseconds(1), true);
    ASSERT_TRUE(m_device->WaitForPresence(true, std::chrono::milliseconds(5000)));
    DeviceChanged();
    DeviceChanged();
    const auto delays = m_harness.Held().Delays();
    ASSERT_GE(delays.size(), 2u);
    EXPECT_EQ(std::count(delays.begin(), delays.end(), FastTiming().restartDelay),
              static_cast<std::ptrdiff_t>(delays.size()));

    // The earlier changes' delays are up, the last one's is not.
    for (std::size_t i = 0; i + 1 < delays.size(); ++i) {
        m_harness.RunHeld(i);
    }
    EXPECT_TRUE(Dialog().RestartPending());
    EXPECT_EQ(m_device->Counters().Requests(RequestKind::kIdentity), 1);

    // The restarted run holds the window as any run does.
    auto restart = m_harness.Held().Take(delays.size() - 1);
    EXPECT_FALSE(m_harness.Ui([&] {
        restart();
        return View().CloseEnabled() || Dialog().CanClose();
    }));
    ASSERT_TRUE(DialogHarness::WaitFor([&] {
        return m_device->Counters().Requests(RequestKind::kIdentity) == 2 &&
               m_harness.Ui([&] { return Dialog().WorkerIdle() && !Dialog().Running(); });
    }));
    ExpectCompleted();
    EXPECT_FALSE(Dialog().RestartPending());
}

// Also when the device is back before the next look at the lists, which then
// show no change: its open ports tell that it went.
class UpdateRestartAwayTest : public UpdateRestartTest,
                              public ::testing::WithParamInterface<int> {};

TEST_P(UpdateRestartAwayTest, PortsVanishAndReturnThenTheUpdateCarriesOnByItself) {
    const std::chrono::milliseconds away{GetParam()};
    RunUntilWaitingForTheDevice(away, false, std::chrono::milliseconds(20) + away / 2);
    ASSERT_TRUE(DialogHarness::WaitFor([&] {
        return m_device->Counters().Requests(RequestKind::kIdentity) == 2 &&
               m_harness.Ui([&] { return Dialog().WorkerIdle() && !Dialog().Running(); });
    }));
    ExpectCompleted();
    EXPECT_FALSE(Dialog().RestartPending());
    EXPECT_TRUE(m_device->InUpdateMode());
    EXPECT_EQ(m_device->Counters().Requests(RequestKind::kPrepare), 2);
}

INSTANTIATE_TEST_SUITE_P(AwayFor, UpdateRestartAwayTest, ::testing::Values(300, 1));

TEST_F(UpdateRestartTest, SeveralNotificationsStartOneRunAndTheWindowStaysResponsive) {
    RunUntilWaitingForTheDevice(std::chrono::milliseconds(1));
    ASSERT_TRUE(m_device->WaitForPresence(true, std::chrono::milliseconds(5000)));
    for (int i = 0; i < 5; ++i) {
        DeviceChanged();
    }
    ASSERT_TRUE(DialogHarness::WaitFor([&] {
        return !Dialog().RestartPending() &&
               m_harness.Ui([&] { return Dialog().WorkerIdle() && !Dialog().Running(); });
    }));
    ExpectCompleted();
    EXPECT_EQ(m_device->Counters().Requests(RequestKind::kIdentity), 2);
}

TEST_F(UpdateRestartTest, TheWaitBeforeTheRestartDoesNotFreezeTheWindow) {
    device::DeviceConfig config;
    config.prepareStatus = device::kPrepareRestart;
    config.restartDelay = std::chrono::milliseconds(1);
    StartDevice(config);
    update::Timing timing = FastTiming();
    timing.restartDelay = std::chrono::minutes(10);
    OpenDialog(timing, ImageOf(SmallImage()));
    Execute();
    ASSERT_TRUE(DialogHarness::WaitFor([&] { return Dialog().RestartPending(); }));
    DeviceChanged();
    // Were the wait a sleep on the window's thread, this would hang.
    EXPECT_TRUE(m_harness.Ui([&] { return Dialog().RestartPending(); }));
    EXPECT_EQ(m_device->Counters().Requests(RequestKind::kIdentity), 1);
}

TEST_F(UpdateRestartTest, APortThatWillNotOpenGivesTheControlsBack) {
    RunUntilWaitingForTheDevice(std::chrono::milliseconds(1));
    ASSERT_TRUE(m_device->WaitForPresence(true, std::chrono::milliseconds(5000)));
    m_backend.RefuseOpen(m_backend.OutputId(0), true);
    DeviceChanged();
    ASSERT_TRUE(DialogHarness::WaitFor([&] { return !View().Boxes().empty(); }));
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Can't open MIDI Out device."});
    ASSERT_TRUE(DialogHarness::WaitFor([&] { return View().AllEnabled(); }));
    EXPECT_TRUE(View().CloseEnabled());
    EXPECT_FALSE(Dialog().RestartPending());
    EXPECT_TRUE(Dialog().CanClose());
}

}  // namespace
}  // namespace corvane::testing
