#include <gtest/gtest.h>

#include "midi/loopback_backend.h"
#include "protocol/messenger.h"
#include "protocol/sysex.h"

namespace corvane::protocol {
namespace {

using Bytes = std::vector<std::uint8_t>;

class MessengerTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_port = m_backend.AddOutput("Device");
        ASSERT_EQ(m_out.Open(0), 1);
    }
    Bytes LastSent() {
        auto sent = m_backend.Sent(m_port);
        return sent.empty() ? Bytes{} : sent.back();
    }

    midi::LoopbackBackend m_backend;
    midi::LoopbackBackend::PortId m_port = 0;
    midi::CDxMidiOut m_out{m_backend};
    Messenger m_messenger{m_out};
};

TEST_F(MessengerTest, BlockWriteOfOneByteIsLaidOutFieldByField) {
    const std::uint8_t data[] = {0xAB};
    m_messenger.SetDeviceIdentityCopy({0x6E, 0x00, 0x28, 0x00});
    ASSERT_EQ(m_messenger.SendBlockWrite(data, 0x149000, 1), 0);
    EXPECT_EQ(LastSent(), (Bytes{0xF0, 0x52, 0x00, 0x6E, 0x02, 0x00, 0x20, 0x52, 0x00, 0x00,
                                 0x01, 0x00, 0x40, 0x2B, 0x12, 0x54, 0x65, 0x67, 0x06, 0xF7}));
}

TEST_F(MessengerTest, EmptyBlockWriteCarriesTheCrcOfNoData) {
    ASSERT_EQ(m_messenger.SendBlockWrite(nullptr, 0, 0), 0);
    const Bytes sent = LastSent();
    ASSERT_EQ(sent.size(), 18u);
    EXPECT_EQ(Bytes(sent.begin() + 12, sent.begin() + 17), (Bytes{0x7F, 0x7F, 0x7F, 0x7F, 0x0F}));
    EXPECT_EQ(sent.back(), 0xF7);
}

TEST_F(MessengerTest, FullBlockIs4700Bytes) {
    const Bytes data(4096, 0x5A);
    ASSERT_EQ(m_messenger.SendBlockWrite(data.data(), 0x68000, 4096), 0);
    EXPECT_EQ(LastSent().size(), 4700u);
}

TEST_F(MessengerTest, BlockWriteBeyondTheLengthFieldIsRefused) {
    const Bytes data(BlockWrite::kMaxData + 1, 0);
    EXPECT_EQ(m_messenger.SendBlockWrite(data.data(), 0, BlockWrite::kMaxData + 1), -1);
    EXPECT_TRUE(m_backend.Sent(m_port).empty());
}

TEST_F(MessengerTest, EraseRequest) {
    m_messenger.SetDeviceIdentityCopy({0x6E, 0x00, 0x28, 0x00});
    ASSERT_EQ(m_messenger.SendEraseRequest(0x149000, 4096), 0);
    EXPECT_EQ(LastSent(), (Bytes{0xF0, 0x52, 0x00, 0x6E, 0x0A, 0x00, 0x20, 0x52, 0x00, 0x00, 0x00,
                                 0x20, 0x00, 0x00, 0x00, 0xF7}));
}

TEST_F(MessengerTest, TemplateMessagesCarryTheModelByteOfTheIdentityCopy) {
    // Before any device answered, the model byte is 00.
    m_messenger.SendOpeningRequest();
    EXPECT_EQ(LastSent(), (Bytes{0xF0, 0x52, 0x00, 0x00, 0x52, 0xF7}));

    m_messenger.SetDeviceIdentityCopy({0x6E, 0x00, 0x28, 0x00});
    m_messenger.SendOpeningRequest();
    EXPECT_EQ(LastSent(), (Bytes{0xF0, 0x52, 0x00, 0x6E, 0x52, 0xF7}));
    m_messenger.SendVersionQuery();
    EXPECT_EQ(LastSent(), (Bytes{0xF0, 0x52, 0x00, 0x6E, 0x64, 0x44, 0xF7}));
    m_messenger.SendPrepareRequest();
    EXPECT_EQ(LastSent(), (Bytes{0xF0, 0x52, 0x00, 0x6E, 0x01, 0xF7}));
    m_messenger.SendClosingRequest();
    EXPECT_EQ(LastSent(), (Bytes{0xF0, 0x52, 0x00, 0x6E, 0x04, 0xF7}));
    m_messenger.SendResult(kStatusFailed);
    EXPECT_EQ(LastSent(), (Bytes{0xF0, 0x52, 0x00, 0x6E, 0x00, 0x01, 0xF7}));
    m_messenger.SendUpdatePermission(1);
    EXPECT_EQ(LastSent(), (Bytes{0xF0, 0x52, 0x00, 0x6E, 0x12, 0x01, 0x00, 0xF7}));
    m_messenger.SendUpdatePermission(128);
    EXPECT_EQ(LastSent(), (Bytes{0xF0, 0x52, 0x00, 0x6E, 0x12, 0x00, 0x01, 0xF7}));
}

TEST_F(MessengerTest, IdentityMessages) {
    m_messenger.SendIdentityRequest();
    EXPECT_EQ(LastSent(), (Bytes{0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7}));
    m_messenger.SendIdentityReply();
    EXPECT_EQ(LastSent(), (Bytes{0xF0, 0x7E, 0x00, 0x06, 0x02, 0x52, 0x00, 0x00, 0x00, 0x00, 0x31,
                                 0x30, 0x30, 0x30, 0xF7}));
    m_messenger.SetIdentityReplyIdentity({0x6E, 0x00, 0x29, 0x00});
    m_messenger.SendIdentityReply();
    EXPECT_EQ(LastSent(), (Bytes{0xF0, 0x7E, 0x00, 0x06, 0x02, 0x52, 0x6E, 0x00, 0x29, 0x00, 0x31,
                                 0x30, 0x30, 0x30, 0xF7}));
}

TEST_F(MessengerTest, SendsFailOnAClosedOrFailingPort) {
    m_backend.FailSends(m_port, true);
    EXPECT_EQ(m_messenger.SendResult(kStatusOk), -1);
    m_backend.FailSends(m_port, false);
    EXPECT_EQ(m_messenger.SendResult(kStatusOk), 0);
    m_out.Close();
    EXPECT_EQ(m_messenger.SendIdentityRequest(), -1);
    EXPECT_EQ(m_messenger.SendBlockWrite(nullptr, 0, 0), -1);
}

}  // namespace
}  // namespace corvane::protocol
