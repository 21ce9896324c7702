#include "device/device_model.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>

#include "device/device_messages.h"
#include "device/updater_requests.h"
#include "protocol/message_set.h"

namespace corvane::device {
namespace {

using midi::Bytes;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::UpdaterRequests;

// The one message a response sends, empty when it sends none or several.
Bytes Only(const Response& r) {
    return r.messages.size() == 1 ? r.messages[0].message : Bytes{};
}

Bytes Result(std::uint8_t status) {
    return {0xF0, 0x52, 0x00, 0x6E, 0x00, status, 0xF7};
}

std::vector<std::uint8_t> Pattern(std::size_t n, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> data(n);
    for (auto& b : data) {
        b = static_cast<std::uint8_t>(random());
    }
    return data;
}

class DeviceModelTest : public ::testing::Test {
protected:
    UpdaterRequests requests;
};

TEST_F(DeviceModelTest, AnswersEachRequestAsTheUpdaterReadsIt) {
    DeviceModel device({});
    EXPECT_EQ(Only(device.Handle(requests.Identity())),
              (Bytes{0xF0, 0x7E, 0x00, 0x06, 0x02, 0x52, 0x6E, 0x00, 0x28, 0x00, 0x01, 0x00, 0x00,
                     0x00, 0xF7}));
    EXPECT_EQ(Only(device.Handle(requests.Opening())), Result(0x00));
    EXPECT_EQ(Only(device.Handle(requests.Version())),
              (Bytes{0xF0, 0x52, 0x00, 0x6E, 0x64, 0x45, 0x01, 0x00, 0x00, 0x00, 0x00, 0xF7}));
    EXPECT_EQ(Only(device.Handle(requests.Permission(1))), Result(0x00));
    EXPECT_EQ(Only(device.Handle(requests.Prepare())), Result(0x00));
    EXPECT_EQ(Only(device.Handle(requests.Closing())), Result(0x00));
    // The identity request is answered whatever device ID it carries.
    EXPECT_EQ(Only(device.Handle(Bytes{0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7})).size(), 15u);
}

TEST_F(DeviceModelTest, ConfiguredIdentityAndVersionShowInTheAnswers) {
    DeviceConfig config;
    config.identity = {0x6E, 0x00, 0x29, 0x00};
    config.version = {0x02, 0x03, 0x04, 0x05};
    config.identity[0] = 0x11;
    DeviceModel device(config);
    EXPECT_EQ(Only(device.Handle(requests.Identity())),
              (Bytes{0xF0, 0x7E, 0x00, 0x06, 0x02, 0x52, 0x11, 0x00, 0x29, 0x00, 0x02, 0x03, 0x04,
                     0x05, 0xF7}));
    EXPECT_EQ(Only(device.Handle(requests.Version())),
              (Bytes{0xF0, 0x52, 0x00, 0x11, 0x64, 0x45, 0x02, 0x03, 0x04, 0x05, 0x00, 0xF7}));
    EXPECT_EQ(Only(device.Handle(requests.Opening())),
              (Bytes{0xF0, 0x52, 0x00, 0x11, 0x00, 0x00, 0xF7}));
}

TEST_F(DeviceModelTest, PermitsOnlyTheConfiguredUpdateTypes) {
    DeviceConfig config;
    config.permittedTypes = std::vector<std::uint32_t>{1, 200};
    DeviceModel device(config);
    EXPECT_EQ(Only(device.Handle(requests.Permission(1))), Result(0x00));
    EXPECT_EQ(Only(device.Handle(requests.Permission(200))), Result(0x00));
    EXPECT_EQ(Only(device.Handle(requests.Permission(2))), Result(0x01));
    EXPECT_EQ(Only(device.Handle(requests.Permission(128))), Result(0x01));

    config.permittedTypes = std::vector<std::uint32_t>{};
    DeviceModel refusesAll(config);
    EXPECT_EQ(Only(refusesAll.Handle(requests.Permission(1))), Result(0x01));
}

TEST_F(DeviceModelTest, PrepareAnswersTheConfiguredStatus) {
    for (std::uint8_t status : {kPrepareLowBattery, std::uint8_t{0x07}}) {
        DeviceConfig config;
        config.prepareStatus = status;
        DeviceModel device(config);
        for (int i = 0; i < 2; ++i) {
            const Response r = device.Handle(requests.Prepare());
            EXPECT_EQ(Only(r), Result(status));
            EXPECT_FALSE(r.vanishFor);
        }
    }
}

TEST_F(DeviceModelTest, RestartIsAnsweredOnceThenTheDeviceIsReady) {
    DeviceConfig config;
    config.prepareStatus = kPrepareRestart;
    config.restartDelay = Millis(250);
    DeviceModel device(config);
    EXPECT_FALSE(device.InUpdateMode());

    const Response restart = device.Handle(requests.Prepare());
    EXPECT_EQ(Only(restart), Result(0x0B));
    EXPECT_EQ(restart.vanishFor, Millis(250));
    EXPECT_TRUE(device.InUpdateMode());

    const Response ready = device.Handle(requests.Prepare());
    EXPECT_EQ(Only(ready), Result(0x00));
    EXPECT_FALSE(ready.vanishFor);
}

TEST_F(DeviceModelTest, FlashStartsWithOldFirmwareAndNoErasedByte) {
    DeviceModel device({});
    ASSERT_EQ(device.Flash().size(), 2u << 20);
    EXPECT_EQ(std::count(device.Flash().begin(), device.Flash().end(), 0xFF), 0);
    EXPECT_EQ(device.Flash()[0x1234], DeviceModel::OldFirmwareByte(0x1234));
}

TEST_F(DeviceModelTest, EraseThenWriteLandsTheData) {
    DeviceModel device({});
    EXPECT_EQ(Only(device.Handle(requests.Erase(0x149000, 8192))), Result(0x00));
    const auto first = Pattern(4096, 1);
    const auto second = Pattern(4096, 2);
    EXPECT_EQ(Only(device.Handle(requests.Write(0x149000, first))), Result(0x00));
    EXPECT_EQ(Only(device.Handle(requests.Write(0x14A000, second))), Result(0x00));

    const Bytes& flash = device.Flash();
    EXPECT_TRUE(std::equal(first.begin(), first.end(), flash.begin() + 0x149000));
    EXPECT_TRUE(std::equal(second.begin(), second.end(), flash.begin() + 0x14A000));
    EXPECT_EQ(flash[0x148FFF], DeviceModel::OldFirmwareByte(0x148FFF));
    EXPECT_EQ(flash[0x14B000], DeviceModel::OldFirmwareByte(0x14B000));
}

TEST_F(DeviceModelTest, ShortBlocksAndEmptyBlocksAreTaken) {
    DeviceModel device({});
    device.Handle(requests.Erase(0, 4097));
    const auto data = Pattern(4097, 3);
    EXPECT_EQ(Only(device.Handle(requests.Write(0, {data.begin(), data.begin() + 4096}))),
              Result(0x00));
    EXPECT_EQ(Only(device.Handle(requests.Write(4096, {data.back()}))), Result(0x00));
    EXPECT_EQ(Only(device.Handle(requests.Write(4097, {}))), Result(0x00));
    EXPECT_TRUE(std::equal(data.begin(), data.end(), device.Flash().begin()));
}

TEST_F(DeviceModelTest, WritesIntoUnerasedFlashAreRefused) {
    DeviceModel device({});
    const Bytes before = device.Flash();
    EXPECT_EQ(Only(device.Handle(requests.Write(0x1000, Pattern(16, 4)))), Result(0x01));
    // Erased only in part.
    device.Handle(requests.Erase(0x1000, 8));
    EXPECT_EQ(Only(device.Handle(requests.Write(0x1000, Pattern(16, 4)))), Result(0x01));
    EXPECT_TRUE(std::equal(before.begin() + 0x1008, before.end(), device.Flash().begin() + 0x1008));
}

TEST_F(DeviceModelTest, TheSameBlockAgainIsTakenOtherDataIsNot) {
    DeviceModel device({});
    device.Handle(requests.Erase(0, 4096));
    const auto data = Pattern(4096, 5);
    EXPECT_EQ(Only(device.Handle(requests.Write(0, data))), Result(0x00));
    EXPECT_EQ(Only(device.Handle(requests.Write(0, data))), Result(0x00));
    EXPECT_EQ(Only(device.Handle(requests.Write(0, Pattern(4096, 6)))), Result(0x01));
    EXPECT_TRUE(std::equal(data.begin(), data.end(), device.Flash().begin()));
}

TEST_F(DeviceModelTest, DamagedBlockWritesAreRefused) {
    DeviceModel device({});
    device.Handle(requests.Erase(0, 4096));
    const Bytes good = requests.Write(0, Pattern(100, 7));

    Bytes badCrc = good;
    badCrc[badCrc.size() - 3] ^= 0x01;
    EXPECT_EQ(Only(device.Handle(badCrc)), Result(0x01));

    Bytes badData = good;
    badData[protocol::BlockWrite::kDataOffset + 3] ^= 0x01;
    EXPECT_EQ(Only(device.Handle(badData)), Result(0x01));

    // One packed byte missing: the length field no longer fits the message.
    Bytes cut = good;
    cut.erase(cut.begin() + protocol::BlockWrite::kDataOffset);
    EXPECT_EQ(Only(device.Handle(cut)), Result(0x01));

    // Too short to hold even the header and the CRC.
    EXPECT_EQ(Only(device.Handle(Bytes{0xF0, 0x52, 0x00, 0x6E, 0x02, 0x00, 0xF7})), Result(0x01));

    EXPECT_EQ(std::count(device.Flash().begin(), device.Flash().begin() + 4096, 0xFF), 4096);
    EXPECT_EQ(Only(device.Handle(good)), Result(0x00));
}

TEST_F(DeviceModelTest, RequestsOutsideTheFlashAreRefused) {
    DeviceConfig config;
    config.flashSize = 0x10000;
    DeviceModel device(config);
    EXPECT_EQ(Only(device.Handle(requests.Erase(0xF000, 0x1000))), Result(0x00));
    EXPECT_EQ(Only(device.Handle(requests.Erase(0xF000, 0x1001))), Result(0x01));
    EXPECT_EQ(Only(device.Handle(requests.Erase(0x10000, 1))), Result(0x01));
    // Address plus length would wrap around 32 bits.
    EXPECT_EQ(Only(device.Handle(requests.Erase(0xFFFFFFFF, 2))), Result(0x01));
    EXPECT_EQ(Only(device.Handle(requests.Write(0xFFF0, Pattern(16, 8)))), Result(0x00));
    EXPECT_EQ(Only(device.Handle(requests.Write(0xFFF1, Pattern(16, 8)))), Result(0x01));
    EXPECT_EQ(Only(device.Handle(requests.Write(0xFFFFFFF0, Pattern(32, 8)))), Result(0x01));
}

TEST_F(DeviceModelTest, UnknownManufacturerFunctionsAreRefused) {
    DeviceModel device({});
    EXPECT_EQ(Only(device.Handle(Bytes{0xF0, 0x52, 0x00, 0x6E, 0x07, 0xF7})), Result(0x01));
    // A version message that is no query.
    EXPECT_EQ(Only(device.Handle(Bytes{0xF0, 0x52, 0x00, 0x6E, 0x64, 0x45, 0xF7})), Result(0x01));
    EXPECT_EQ(device.Counters().unknown, 2);
}

TEST_F(DeviceModelTest, WrongLengthRequestsAreRefused) {
    DeviceModel device({});
    EXPECT_EQ(Only(device.Handle(Bytes{0xF0, 0x52, 0x00, 0x6E, 0x52, 0x00, 0xF7})), Result(0x01));
    EXPECT_EQ(Only(device.Handle(Bytes{0xF0, 0x52, 0x00, 0x6E, 0x12, 0x01, 0xF7})), Result(0x01));
    EXPECT_EQ(Only(device.Handle(Bytes{0xF0, 0x52, 0x00, 0x6E, 0x0A, 0x00, 0xF7})), Result(0x01));
    EXPECT_EQ(device.Counters().Requests(RequestKind::kOpening), 1);
    EXPECT_EQ(device.Counters().Requests(RequestKind::kErase), 1);
}

TEST_F(DeviceModelTest, MessagesThatAreNoRequestGetNoAnswer) {
    DeviceModel device({});
    const std::vector<Bytes> ignored{
        Garbage(),
        ShortMessage(),
        {},
        {0xF0},
        {0xF0, 0x7E, 0x00, 0x06, 0x01},        // no end byte
        {0xF0, 0x52, 0x00, 0x6E, 0x81, 0xF7},  // a byte with bit 7 inside
        {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7},  // another Universal group
        {0xF0, 0x41, 0x00, 0x6E, 0x52, 0xF7},  // another manufacturer
        requests.Result(0x00),                 // the updater's acknowledgement
        requests.IdentityReply(),              // the updater's identity
    };
    for (const Bytes& m : ignored) {
        EXPECT_THAT(device.Handle(m).messages, IsEmpty()) << ToHex(m);
    }
    EXPECT_EQ(device.Counters().ignored, static_cast<int>(ignored.size()));
    EXPECT_EQ(device.Counters().unknown, 0);
}

TEST_F(DeviceModelTest, RandomBytesGetFramedAnswersOrNone) {
    DeviceConfig config;
    config.flashSize = 0x4000;
    config.keepTranscript = false;
    DeviceModel device(config);
    std::mt19937 random(11);
    for (int i = 0; i < 3000; ++i) {
        Bytes m(random() % 40);
        for (auto& b : m) {
            b = static_cast<std::uint8_t>(random() % 0x80);
        }
        // Mostly well framed, mostly manufacturer messages, to reach the handlers.
        if (!m.empty() && random() % 8 != 0) {
            m.front() = 0xF0;
            m.back() = 0xF7;
            if (m.size() > 1 && random() % 4 != 0) {
                m[1] = 0x52;
            }
        }
        for (const Outgoing& out : device.Handle(m).messages) {
            ASSERT_GE(out.message.size(), 6u);
            EXPECT_EQ(out.message.front(), 0xF0);
            EXPECT_EQ(out.message.back(), 0xF7);
        }
    }
}

TEST_F(DeviceModelTest, TranscriptListsWhatCameInAndWentOut) {
    DeviceModel device({});
    device.Handle(requests.Identity());
    device.Handle(requests.Opening());
    device.Handle(Garbage());
    EXPECT_THAT(device.Transcript(),
                ElementsAre("> F0 7E 00 06 01 F7", "< F0 7E 00 06 02 52 6E 00 28 00 01 00 00 00 F7",
                            "> F0 52 00 6E 52 F7", "< F0 52 00 6E 00 00 F7", "> 90 3C 7F"));

    DeviceConfig quiet;
    quiet.keepTranscript = false;
    DeviceModel silent(quiet);
    silent.Handle(requests.Identity());
    EXPECT_THAT(silent.Transcript(), IsEmpty());
}

}  // namespace
}  // namespace corvane::device
