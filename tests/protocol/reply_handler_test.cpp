#include <gtest/gtest.h>

#include <chrono>

#include "midi/loopback_backend.h"
#include "protocol/reply_handler.h"
#include "protocol/sysex.h"

namespace corvane::protocol {
namespace {

using Bytes = std::vector<std::uint8_t>;

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
    // Replies recorded since the last look.
    std::uint64_t NewReplies() {
        const std::uint64_t now = m_handler.Ledger().Last().number;
        const std::uint64_t fresh = now - m_seen;
        m_seen = now;
        return fresh;
    }
    bool Signalled() { return NewReplies() > 0; }
    ReplyKind LastKind() { return m_handler.Ledger().Last().kind; }
    std::vector<Bytes> Answers() { return m_backend.Sent(m_toDevice); }

    midi::LoopbackBackend m_backend;
    midi::LoopbackBackend::PortId m_toDevice = 0;
    midi::LoopbackBackend::PortId m_fromDevice = 0;
    midi::CDxMidiOut m_out{m_backend};
    midi::CDxMidiIn m_in{m_backend};
    Messenger m_messenger{m_out};
    ReplyHandler m_handler{m_in, m_messenger};
    std::uint64_t m_seen = 0;
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

TEST_F(ReplyHandlerTest, TwoRepliesInOneTickAreCountedAsTwo) {
    Receive({0xF0, 0x52, 0x00, 0x6E, 0x00, 0x00, 0xF7});
    Receive({0xF0, 0x52, 0x00, 0x6E, 0x00, 0x07, 0xF7});
    Tick();
    EXPECT_EQ(m_handler.Status(), 7);
    EXPECT_EQ(NewReplies(), 2u);
}

// What the device sends is believed only when it is a whole message of data
// bytes: one bad byte must not become a status no device can send.
TEST_F(ReplyHandlerTest, MessagesThatAreNotWholeAreDroppedUnanswered) {
    m_messenger.SetDeviceIdentityCopy({0x6E, 0x00, 0x28, 0x00});
    for (const Bytes& m : std::vector<Bytes>{
             {0xF0, 0x52, 0x00, 0x6E, 0x00, 0xFF, 0xF7},  // status byte not a data byte
             {0xF0, 0x52, 0x00, 0x6E, 0x00, 0x80, 0xF7},
             {0xF0, 0x52, 0x00, 0x6E, 0x00, 0xF7},        // result cut before its status
             {0xF0, 0x52, 0x00, 0x6E, 0x00, 0x00},        // no F7
             {0xF0, 0x52, 0x00, 0x6E, 0x07, 0xF8, 0xF7},  // would be refused if believed
             {0xF0, 0x52, 0x00, 0x6E, 0x64, 0x45, 0x01, 0x02, 0x03, 0x84, 0x00, 0xF7},
             {0xF0, 0x7E, 0x00, 0x06, 0x02, 0x41, 0x6E, 0x00, 0x28, 0xF7},
             {0xF0, 0x7E, 0x00, 0x06, 0x02, 0x41, 0x6E, 0x00, 0xA8, 0x00, 0x01, 0x00, 0x00, 0x00,
              0xF7},
         }) {
        Receive(m);
    }
    Tick();
    EXPECT_EQ(NewReplies(), 0u);
    EXPECT_TRUE(Answers().empty());
    EXPECT_EQ(m_handler.Status(), kStatusOk);
    EXPECT_EQ(m_handler.DeviceIdentity(), (Identity{}));
    EXPECT_EQ(m_handler.DeviceVersion(), (Identity{}));
    EXPECT_TRUE(m_in.GetFirstMessage().empty());
}

TEST_F(ReplyHandlerTest, EachReplyIsRecordedWithItsKind) {
    Receive({0xF0, 0x7E, 0x00, 0x06, 0x02, 0x41, 0x6E, 0x00, 0x28, 0x00, 0xF7});
    Tick();
    EXPECT_EQ(LastKind(), ReplyKind::kIdentity);
    Receive({0xF0, 0x52, 0x00, 0x6E, 0x64, 0x45, 0x01, 0x02, 0x03, 0x04, 0xF7});
    Tick();
    EXPECT_EQ(LastKind(), ReplyKind::kVersion);
    Receive({0xF0, 0x52, 0x00, 0x6E, 0x02, 0xF7});
    Tick();
    EXPECT_EQ(LastKind(), ReplyKind::kResult);
    EXPECT_EQ(NewReplies(), 3u);
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
    EXPECT_EQ(m_handler.ReadBackData(), first);

    const Bytes second{0x01, 0x02, 0x03};
    Receive(ReadBackReply(second, 0x12345678));
    Tick();
    EXPECT_EQ(m_handler.ReadBackPosition(), first.size());
}

// No request asks for read-back data: taken for a reply, a read-back would
// answer whatever request was waiting.
TEST_F(ReplyHandlerTest, ReadBackRepliesAnswerNoRequest) {
    const Bytes data{0x01, 0x02, 0x03};
    Receive({0xF0, 0x52, 0x00, 0x6E, 0x00, 0x09, 0xF7});
    Receive({0xF0, 0x52, 0x00, 0x6E, 0x60, 0x00, 0xF7});
    Receive({0xF0, 0x52, 0x00, 0x6E, 0x60, 0x04, 0x31, 0xF7});
    Receive(ReadBackReply(data, Crc32(data.data(), 3)));
    Tick();
    EXPECT_EQ(NewReplies(), 1u);
    EXPECT_EQ(m_handler.Status(), 9);
    EXPECT_EQ(m_handler.ReadBackData(), data);
}

TEST_F(ReplyHandlerTest, ReadBackThatWouldOverrunTheStoreIsRefused) {
    // Small enough to fit one receive buffer.
    const Bytes chunk(7000, 0x55);
    const std::uint32_t crc = Crc32(chunk.data(), static_cast<std::uint32_t>(chunk.size()));
    const std::size_t fits = ReplyHandler::kReadBackCapacity / chunk.size();
    for (std::size_t i = 0; i < fits; ++i) {
        Receive(ReadBackReply(chunk, crc));
        Tick();
        ASSERT_EQ(m_handler.ReadBackPosition(), (i + 1) * chunk.size());
    }
    Receive(ReadBackReply(chunk, crc));
    Tick();
    EXPECT_EQ(m_handler.ReadBackPosition(), fits * chunk.size());
}

TEST_F(ReplyHandlerTest, AbandonSticksWhateverTheDeviceSendsAfterwards) {
    m_handler.Abandon();
    EXPECT_TRUE(m_handler.Ledger().Abandoned());
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
