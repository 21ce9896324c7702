#include <gtest/gtest.h>

#include <chrono>

#include "midi/loopback_backend.h"
#include "protocol/reply_handler.h"
#include "protocol/sysex.h"

namespace corvane::protocol {
namespace {

using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;

// The updater's side of a device: replies go into the receive list, answers
// come out of the output port. Ticks are driven by hand.
class ReplyHandlerTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_toDevice = m_backend.AddOutput("Device");
        m_fromDevice = m_backend.AddInput("Device");
        ASSERT_EQ(m_out.Open(0), 1);
        m_in.SetDeviceIndex(0);
        ASSERT_EQ(m_in.Open(), 1);
    }
    void Receive(const Bytes& m) { ASSERT_TRUE(m_backend.Deliver(m_fromDevice, m)); }
    void Tick() { m_handler.ProcessReplies(); }
    bool Signalled() {
        return m_handler.Event().Wait(milliseconds(0)) == midi::WaitResult::kSignalled;
    }
    std::vector<Bytes> Answers() { return m_backend.Sent(m_toDevice); }

    midi::LoopbackBackend m_backend;
    midi::LoopbackBackend::PortId m_toDevice = 0;
    midi::LoopbackBackend::PortId m_fromDevice = 0;
    midi::CDxMidiOut m_out{m_backend};
    midi::CDxMidiIn m_in{m_backend};
    Messenger m_messenger{m_out};
    ReplyHandler m_handler{m_in, m_messenger};
};

TEST_F(ReplyHandlerTest, ResultMessagesSetTheStatusAsSent) {
    Receive({0xF0, 0x52, 0x00, 0x6E, 0x00, 0x0B, 0xF7});
    Tick();
    EXPECT_EQ(m_handler.Status(), kStatusRestart);
    EXPECT_TRUE(Signalled());
    Receive({0xF0, 0x52, 0x00, 0x6E, 0x00, 0x65, 0xF7});
    Tick();
    EXPECT_EQ(m_handler.Status(), kStatusLowBattery);
    EXPECT_TRUE(m_in.GetFirstMessage().empty());
}

TEST_F(ReplyHandlerTest, TwoRepliesInOneTickLeaveTheLastStatusAndOneSignal) {
    Receive({0xF0, 0x52, 0x00, 0x6E, 0x00, 0x00, 0xF7});
    Receive({0xF0, 0x52, 0x00, 0x6E, 0x00, 0x07, 0xF7});
    Tick();
    EXPECT_EQ(m_handler.Status(), 7);
    EXPECT_TRUE(Signalled());
    EXPECT_FALSE(Signalled());
}

TEST_F(ReplyHandlerTest, DeviceNoticesAreAcknowledgedWithoutSignal) {
    m_messenger.SetDeviceIdentityCopy({0x6E, 0x00, 0x28, 0x00});
    for (std::uint8_t fn : {0x01, 0x04, 0x05}) {
        m_backend.ClearSent(m_toDevice);
        Receive({0xF0, 0x52, 0x00, 0x6E, fn, 0xF7});
        Tick();
        EXPECT_EQ(Answers(), (std::vector<Bytes>{{0xF0, 0x52, 0x00, 0x6E, 0x00, 0x00, 0xF7}}));
        EXPECT_FALSE(Signalled());
    }
    m_backend.ClearSent(m_toDevice);
    Receive({0xF0, 0x52, 0x00, 0x6E, 0x03, 0xF7});
    Tick();
    EXPECT_TRUE(Answers().empty());
    EXPECT_FALSE(Signalled());
}

TEST_F(ReplyHandlerTest, UnknownFunctionsAreRefusedAndLeaveTheStatus) {
    m_messenger.SetDeviceIdentityCopy({0x6E, 0x00, 0x28, 0x00});
    Receive({0xF0, 0x52, 0x00, 0x6E, 0x00, 0x05, 0xF7});
    Tick();
    ASSERT_TRUE(Signalled());
    Receive({0xF0, 0x52, 0x00, 0x6E, 0x07, 0xF7});
    Tick();
    EXPECT_EQ(Answers(), (std::vector<Bytes>{{0xF0, 0x52, 0x00, 0x6E, 0x00, 0x01, 0xF7}}));
    EXPECT_EQ(m_handler.Status(), 5);
    EXPECT_FALSE(Signalled());
}

TEST_F(ReplyHandlerTest, BlockWriteEchoCountsAsSuccess) {
    Receive({0xF0, 0x52, 0x00, 0x6E, 0x00, 0x01, 0xF7});
    Receive({0xF0, 0x52, 0x00, 0x6E, 0x02, 0xF7});
    Tick();
    EXPECT_EQ(m_handler.Status(), kStatusOk);
    EXPECT_TRUE(Signalled());
}

TEST_F(ReplyHandlerTest, VersionReplyIsStoredBeforeTheSignal) {
    Receive({0xF0, 0x52, 0x00, 0x6E, 0x64, 0x44, 0xF7});  // our own query echoed: ignored
    Tick();
    EXPECT_FALSE(Signalled());
    Receive({0xF0, 0x52, 0x00, 0x6E, 0x64, 0x45, 0x01, 0x02, 0x03, 0x04, 0x00, 0xF7});
    Tick();
    EXPECT_TRUE(Signalled());
    EXPECT_EQ(m_handler.Status(), kStatusOk);
    EXPECT_EQ(m_handler.DeviceVersion(), (Identity{0x01, 0x02, 0x03, 0x04}));
}

TEST_F(ReplyHandlerTest, IdentityReplyIsTakenWhateverItsManufacturer) {
    Receive(
        {0xF0, 0x7E, 0x00, 0x06, 0x02, 0x41, 0x6E, 0x00, 0x28, 0x00, 0x01, 0x00, 0x00, 0x00, 0xF7});
    Tick();
    EXPECT_TRUE(Signalled());
    EXPECT_EQ(m_handler.Status(), kStatusOk);
    EXPECT_EQ(m_handler.DeviceIdentity(), (Identity{0x6E, 0x00, 0x28, 0x00}));
}

TEST_F(ReplyHandlerTest, IdentityRequestIsAnsweredWithTheAcceptedIdentity) {
    Receive({0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7});
    Tick();
    EXPECT_EQ(Answers(), (std::vector<Bytes>{{0xF0, 0x7E, 0x00, 0x06, 0x02, 0x52, 0x00, 0x00, 0x00,
                                              0x00, 0x31, 0x30, 0x30, 0x30, 0xF7}}));
    EXPECT_FALSE(Signalled());
}

TEST_F(ReplyHandlerTest, OtherGeneralInformationIsRefusedOtherUniversalIgnored) {
    Receive({0xF0, 0x7E, 0x7F, 0x06, 0x03, 0xF7});
    Receive({0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
    Receive({0x90, 0x40, 0x7F});
    Receive({0xF0, 0x43, 0x00, 0x6E, 0x00, 0x00, 0xF7});
    Tick();
    EXPECT_EQ(Answers(), (std::vector<Bytes>{{0xF0, 0x52, 0x00, 0x00, 0x00, 0x01, 0xF7}}));
    EXPECT_FALSE(Signalled());
    EXPECT_TRUE(m_in.GetFirstMessage().empty());
}

TEST_F(ReplyHandlerTest, ShortMessagesAreDroppedWithoutAnAnswer) {
    for (const Bytes& m : std::vector<Bytes>{{0xF0},
                                             {0xF0, 0x52, 0x00, 0x6E},
                                             {0xF0, 0x52, 0x00, 0x6E, 0x00},
                                             {0xF0, 0x52, 0x00, 0x6E, 0x64, 0x45, 0x01},
                                             {0xF0, 0x7E, 0x00, 0x06},
                                             {0xF0, 0x7E, 0x00, 0x06, 0x02, 0x52, 0x6E},
                                             {0xF0, 0x52, 0x00, 0x6E, 0x60},
                                             {0xF0, 0x52, 0x00, 0x6E, 0x60, 0x04, 0x30, 0, 0, 7}}) {
        Receive(m);
    }
    Tick();
    EXPECT_TRUE(Answers().empty());
    EXPECT_FALSE(Signalled());
    EXPECT_EQ(m_handler.DeviceIdentity(), (Identity{}));
}

Bytes ReadBackReply(const Bytes& data, std::uint32_t crc) {
    Bytes m{0xF0, 0x52, 0x00, 0x6E, 0x60, 0x04, 0x30, 0x00, 0x00};
    m.push_back(static_cast<std::uint8_t>(data.size() & 0x7F));
    m.push_back(static_cast<std::uint8_t>(data.size() >> 7));
    Bytes packed(static_cast<std::size_t>(PackedLength(static_cast<int>(data.size()))));
    PackSevenBit(packed.data(), data.data(), static_cast<int>(data.size()));
    m.insert(m.end(), packed.begin(), packed.end());
    std::uint8_t g[5];
    EncodeFiveGroups(g, crc);
    m.insert(m.end(), g, g + 5);
    m.push_back(0xF7);
    return m;
}

TEST_F(ReplyHandlerTest, ReadBackDataAreKeptOnlyWhenTheirCrcMatches) {
    const Bytes first{0x10, 0x90, 0x20, 0xA0, 0x30, 0xB0, 0x40, 0xC0, 0x50};
    Receive(ReadBackReply(first, Crc32(first.data(), 9)));
    Tick();
    EXPECT_TRUE(Signalled());
    EXPECT_EQ(m_handler.Status(), kStatusOk);
    EXPECT_EQ(m_handler.ReadBackData(), first);

    const Bytes second{0x01, 0x02, 0x03};
    Receive(ReadBackReply(second, 0x12345678));
    Tick();
    EXPECT_TRUE(Signalled());
    EXPECT_EQ(m_handler.Status(), kStatusFailed);
    EXPECT_EQ(m_handler.ReadBackPosition(), first.size());
}

TEST_F(ReplyHandlerTest, ReadBackVariantsAlwaysSignal) {
    Receive({0xF0, 0x52, 0x00, 0x6E, 0x00, 0x09, 0xF7});
    Receive({0xF0, 0x52, 0x00, 0x6E, 0x60, 0x00, 0xF7});
    Tick();
    EXPECT_EQ(m_handler.Status(), 9);  // offset 5 other than 04 leaves the status
    EXPECT_TRUE(Signalled());
    Receive({0xF0, 0x52, 0x00, 0x6E, 0x60, 0x04, 0x31, 0xF7});
    Tick();
    EXPECT_EQ(m_handler.Status(), kStatusFailed);
    EXPECT_TRUE(Signalled());
}

TEST_F(ReplyHandlerTest, ReadBackThatWouldOverrunTheStoreIsRefused) {
    // Small enough to fit one receive buffer.
    const Bytes chunk(7000, 0x55);
    const std::uint32_t crc = Crc32(chunk.data(), static_cast<std::uint32_t>(chunk.size()));
    const std::size_t fits = ReplyHandler::kReadBackCapacity / chunk.size();
    for (std::size_t i = 0; i < fits; ++i) {
        Receive(ReadBackReply(chunk, crc));
        Tick();
        ASSERT_EQ(m_handler.Status(), kStatusOk);
    }
    Receive(ReadBackReply(chunk, crc));
    Tick();
    EXPECT_EQ(m_handler.Status(), kStatusFailed);
    EXPECT_EQ(m_handler.ReadBackPosition(), fits * chunk.size());
}

TEST_F(ReplyHandlerTest, AbandonSticksWhateverTheDeviceSendsAfterwards) {
    m_handler.Abandon();
    EXPECT_TRUE(Signalled());
    Receive({0xF0, 0x52, 0x00, 0x6E, 0x00, 0x00, 0xF7});
    Receive(
        {0xF0, 0x7E, 0x00, 0x06, 0x02, 0x52, 0x6E, 0x00, 0x28, 0x00, 0x31, 0x30, 0x30, 0x30, 0xF7});
    Tick();
    EXPECT_EQ(m_handler.Status(), kStatusAbandon);
}

TEST_F(ReplyHandlerTest, AnswersFailQuietlyOnAClosedPort) {
    m_out.Close();
    Receive({0xF0, 0x52, 0x00, 0x6E, 0x07, 0xF7});
    Receive({0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7});
    Tick();
    EXPECT_TRUE(m_in.GetFirstMessage().empty());
    EXPECT_EQ(m_handler.Status(), kStatusOk);
    EXPECT_FALSE(Signalled());
}

}  // namespace
}  // namespace corvane::protocol
