#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "device/device_messages.h"
#include "device/device_model.h"
#include "device/updater_requests.h"
#include "protocol/reply_handler.h"

namespace corvane::device {
namespace {

using midi::Bytes;
using ::testing::IsEmpty;
using testing::UpdaterRequests;

Bytes Result(std::uint8_t status) {
    return {0xF0, 0x52, 0x00, 0x6E, 0x00, status, 0xF7};
}

DeviceConfig WithFaults(std::vector<Fault> faults) {
    DeviceConfig config;
    config.faults = std::move(faults);
    return config;
}

// The status byte of each answer to `count` erase requests, -1 for none.
std::vector<int> EraseAnswers(DeviceModel& device, UpdaterRequests& requests, int count) {
    std::vector<int> statuses;
    for (int i = 0; i < count; ++i) {
        const Response r = device.Handle(requests.Erase(0, 16));
        statuses.push_back(r.messages.empty() ? -1 : r.messages.back().message[5]);
    }
    return statuses;
}

class DeviceFaultsTest : public ::testing::Test {
protected:
    UpdaterRequests requests;
};

TEST_F(DeviceFaultsTest, RefusesTheNthRequestOfItsKindOnlyWithoutCarryingItOut) {
    DeviceModel device(WithFaults({Fault::Refuse(RequestKind::kErase, 2, 0x07)}));
    // Other kinds do not move the erase count.
    device.Handle(requests.Opening());
    EXPECT_EQ(device.Handle(requests.Erase(0, 16)).messages.back().message, Result(0x00));
    device.Handle(requests.Write(0, Bytes(16, 0x00)));
    // The refused erase leaves the written zeros in place.
    EXPECT_EQ(device.Handle(requests.Erase(0, 16)).messages.back().message, Result(0x07));
    EXPECT_EQ(device.Flash()[0], 0x00);
    EXPECT_EQ(device.Handle(requests.Erase(0, 16)).messages.back().message, Result(0x00));
    EXPECT_EQ(device.Flash()[0], 0xFF);
}

TEST_F(DeviceFaultsTest, RefusesSeveralRequestsInARow) {
    DeviceModel device(WithFaults({Fault::Refuse(RequestKind::kErase, 1).Times(6)}));
    EXPECT_EQ(EraseAnswers(device, requests, 8), (std::vector<int>{1, 1, 1, 1, 1, 1, 0, 0}));
}

TEST_F(DeviceFaultsTest, DroppedAnswerStillCarriesTheRequestOut) {
    DeviceModel device(WithFaults({Fault::Drop(RequestKind::kBlockWrite, 1)}));
    device.Handle(requests.Erase(0, 16));
    const Bytes data(16, 0x42);
    EXPECT_THAT(device.Handle(requests.Write(0, data)).messages, IsEmpty());
    EXPECT_EQ(device.Flash()[15], 0x42);
    // The updater's repeat of the same block is taken.
    EXPECT_EQ(device.Handle(requests.Write(0, data)).messages.back().message, Result(0x00));
}

TEST_F(DeviceFaultsTest, DelayedAnswerCarriesItsDelay) {
    DeviceModel device(WithFaults({Fault::Delay(RequestKind::kClosing, 1, Millis(1500))}));
    const Response late = device.Handle(requests.Closing());
    ASSERT_EQ(late.messages.size(), 1u);
    EXPECT_EQ(late.messages[0].message, Result(0x00));
    EXPECT_EQ(late.messages[0].delay, Millis(1500));
    EXPECT_EQ(device.Handle(requests.Closing()).messages[0].delay, Millis(0));
}

TEST_F(DeviceFaultsTest, ExtraMessagesGoAroundTheAnswer) {
    const Bytes readBack = ReadBackReply(0x6E, Bytes{1, 2, 3});
    DeviceModel device(WithFaults({
        Fault::SendBefore(RequestKind::kOpening, 1, {IdentityRequest(), Notice(0x6E, 0x01)}),
        Fault::SendAfter(RequestKind::kOpening, 1, {readBack, Garbage()}),
        Fault::Delay(RequestKind::kOpening, 1, Millis(30)),
    }));
    const Response r = device.Handle(requests.Opening());
    ASSERT_EQ(r.messages.size(), 5u);
    EXPECT_EQ(r.messages[0].message, IdentityRequest());
    EXPECT_EQ(r.messages[0].delay, Millis(0));
    EXPECT_EQ(r.messages[1].message, Notice(0x6E, 0x01));
    EXPECT_EQ(r.messages[2].message, Result(0x00));
    EXPECT_EQ(r.messages[2].delay, Millis(30));
    EXPECT_EQ(r.messages[3].message, readBack);
    EXPECT_EQ(r.messages[3].delay, Millis(30));
    EXPECT_EQ(r.messages[4].message, Garbage());
}

TEST_F(DeviceFaultsTest, VanishLosesTheRequestAndTakesThePortsAway) {
    DeviceModel device(WithFaults({Fault::Vanish(RequestKind::kBlockWrite, 2, Millis(400))}));
    device.Handle(requests.Erase(0, 32));
    EXPECT_EQ(device.Handle(requests.Write(0, Bytes(16, 0x11))).messages.back().message,
              Result(0x00));
    const Response gone = device.Handle(requests.Write(16, Bytes(16, 0x22)));
    EXPECT_THAT(gone.messages, IsEmpty());
    EXPECT_EQ(gone.vanishFor, Millis(400));
    EXPECT_EQ(device.Flash()[16], 0xFF);
}

TEST_F(DeviceFaultsTest, ShareHitsAboutThatShareRepeatablyPerSeed) {
    const auto run = [&](std::uint32_t seed, double share) {
        DeviceConfig config = WithFaults({Fault::Refuse(RequestKind::kErase, 1).WithShare(share)});
        config.seed = seed;
        DeviceModel device(config);
        return EraseAnswers(device, requests, 400);
    };
    const auto refused = [](const std::vector<int>& answers) {
        return std::count(answers.begin(), answers.end(), 1);
    };
    const auto half = run(5, 0.5);
    EXPECT_GT(refused(half), 140);
    EXPECT_LT(refused(half), 260);
    EXPECT_EQ(run(5, 0.5), half);
    EXPECT_NE(run(6, 0.5), half);
    EXPECT_EQ(refused(run(5, 1.0)), 400);
}

TEST_F(DeviceFaultsTest, RestartingDeviceVanishesAfterItsAnswer) {
    DeviceConfig config;
    config.prepareStatus = kPrepareRestart;
    config.restartDelay = Millis(70);
    config.faults = {Fault::Refuse(RequestKind::kPrepare, 1)};
    DeviceModel device(config);
    // A refused prepare request does not restart the device.
    const Response refused = device.Handle(requests.Prepare());
    EXPECT_FALSE(refused.vanishFor);
    EXPECT_FALSE(device.InUpdateMode());
    const Response restart = device.Handle(requests.Prepare());
    EXPECT_EQ(restart.messages.back().message, Result(0x0B));
    EXPECT_EQ(restart.vanishFor, Millis(70));
}

TEST(DeviceMessagesTest, ReadBackReplyPassesTheUpdatersCheckUnlessSpoilt) {
    midi::LoopbackBackend backend;
    midi::CDxMidiOut out(backend);
    midi::CDxMidiIn in(backend);
    protocol::Messenger messenger(out);
    protocol::ReplyHandler handler(in, messenger);
    const Bytes data{0x80, 0x01, 0xFF, 0x7F, 0x00, 0x33, 0xC4, 0x10, 0x99};

    handler.Dispatch(ReadBackReply(0x6E, data, true));
    EXPECT_EQ(handler.ReadBackPosition(), 0u);

    handler.Dispatch(ReadBackReply(0x6E, data));
    EXPECT_EQ(handler.ReadBackData(), data);
}

}  // namespace
}  // namespace corvane::device
