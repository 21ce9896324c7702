#include "device/simulated_device.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "device/device_messages.h"
#include "device/loopback_harness.h"

namespace corvane::device {
namespace {

using midi::Bytes;
using ::testing::Contains;
using testing::LoopbackHarness;
using ::testing::Not;

constexpr Millis kWait(2000);

Bytes Result(std::uint8_t status) {
    return {0xF0, 0x52, 0x00, 0x6E, 0x00, status, 0xF7};
}

TEST(SimulatedDeviceTest, AnswersTheIdentityRequestIntoTheReceiveList) {
    LoopbackHarness h;
    ASSERT_TRUE(h.OpenPorts());
    ASSERT_EQ(h.messenger.SendIdentityRequest(), 0);
    const auto reply = h.NextMessage(kWait);
    ASSERT_TRUE(reply);
    EXPECT_EQ(*reply, (Bytes{0xF0, 0x7E, 0x00, 0x06, 0x02, 0x52, 0x6E, 0x00, 0x28, 0x00, 0x01, 0x00,
                             0x00, 0x00, 0xF7}));
    EXPECT_EQ(h.device->Counters().Requests(RequestKind::kIdentity), 1);
    EXPECT_EQ(h.device->Transcript().front(), "> F0 7E 00 06 01 F7");
}

TEST(SimulatedDeviceTest, EraseAndBlockWriteChangeTheFlash) {
    LoopbackHarness h;
    ASSERT_TRUE(h.OpenPorts());
    h.messenger.SetDeviceIdentityCopy({0x6E, 0x00, 0x28, 0x00});
    const Bytes data(300, 0xA5);
    h.messenger.SendEraseRequest(0x2000, 300);
    EXPECT_EQ(h.NextMessage(kWait), Result(0x00));
    h.messenger.SendBlockWrite(data.data(), 0x2000, 300);
    EXPECT_EQ(h.NextMessage(kWait), Result(0x00));
    const Bytes flash = h.device->Flash();
    EXPECT_TRUE(std::equal(data.begin(), data.end(), flash.begin() + 0x2000));
}

TEST(SimulatedDeviceTest, DelayedAnswerDoesNotHoldBackLaterAnswers) {
    DeviceConfig config;
    config.faults = {Fault::Delay(RequestKind::kIdentity, 1, Millis(300))};
    LoopbackHarness h(config);
    ASSERT_TRUE(h.OpenPorts());
    h.messenger.SetDeviceIdentityCopy({0x6E, 0x00, 0x28, 0x00});
    h.messenger.SendIdentityRequest();
    h.messenger.SendOpeningRequest();
    EXPECT_EQ(h.NextMessage(kWait), Result(0x00));
    const auto identity = h.NextMessage(kWait);
    ASSERT_TRUE(identity);
    EXPECT_EQ(identity->size(), 15u);
}

TEST(SimulatedDeviceTest, VanishesAndComesBackInThePortLists) {
    DeviceConfig config;
    config.faults = {Fault::Vanish(RequestKind::kOpening, 1, Millis(100))};
    LoopbackHarness h(config);
    ASSERT_TRUE(h.OpenPorts());
    h.messenger.SendOpeningRequest();
    ASSERT_TRUE(h.device->WaitForPresence(false, kWait));
    EXPECT_THAT(h.backend.InputPortNames(), Not(Contains(h.portName)));
    EXPECT_THAT(h.backend.OutputPortNames(), Not(Contains(h.portName)));
    // The old connection is dead while the device is away.
    EXPECT_NE(h.messenger.SendIdentityRequest(), 0);

    ASSERT_TRUE(h.device->WaitForPresence(true, kWait));
    EXPECT_THAT(h.backend.InputPortNames(), Contains(h.portName));
    EXPECT_THAT(h.backend.OutputPortNames(), Contains(h.portName));
    ASSERT_TRUE(h.OpenPorts());
    h.messenger.SendIdentityRequest();
    const auto reply = h.NextMessage(kWait);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->size(), 15u);
}

TEST(SimulatedDeviceTest, RestartsIntoUpdateModeAndThenAnswersReady) {
    DeviceConfig config;
    config.prepareStatus = kPrepareRestart;
    config.restartDelay = Millis(100);
    LoopbackHarness h(config);
    ASSERT_TRUE(h.OpenPorts());
    h.messenger.SetDeviceIdentityCopy({0x6E, 0x00, 0x28, 0x00});
    h.messenger.SendPrepareRequest();
    // The answer leaves before the ports go.
    EXPECT_EQ(h.NextMessage(kWait), Result(0x0B));
    ASSERT_TRUE(h.device->WaitForPresence(false, kWait));
    ASSERT_TRUE(h.device->WaitForPresence(true, kWait));
    ASSERT_TRUE(h.OpenPorts());
    h.messenger.SendPrepareRequest();
    EXPECT_EQ(h.NextMessage(kWait), Result(0x00));
    EXPECT_TRUE(h.device->InUpdateMode());
}

TEST(SimulatedDeviceTest, StopsWithAnswersStillPending) {
    DeviceConfig config;
    config.faults = {Fault::Delay(RequestKind::kIdentity, 1, std::chrono::hours(1))};
    LoopbackHarness h(config);
    ASSERT_TRUE(h.OpenPorts());
    h.messenger.SendIdentityRequest();
    ASSERT_TRUE(h.device->WaitForRequests(RequestKind::kIdentity, 1, kWait));
    h.device.reset();
    EXPECT_THAT(h.backend.InputPortNames(), Not(Contains(h.portName)));
}

}  // namespace
}  // namespace corvane::device
