#include "midi/sysex_assembler.h"

#include <gtest/gtest.h>

#include <vector>

namespace corvane::midi {
namespace {

class SysExAssemblerTest : public ::testing::Test {
protected:
    void Add(const Bytes& piece) {
        m_assembler.Add(piece, [this](ByteView m) { messages.emplace_back(m.begin(), m.end()); });
    }
    SysExAssembler m_assembler;
    std::vector<Bytes> messages;
};

TEST_F(SysExAssemblerTest, AMessageInOnePieceComesOutWhole) {
    Add({0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7});
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], (Bytes{0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}));
}

TEST_F(SysExAssemblerTest, PiecesOfOneMessageAreJoined) {
    Add({0xF0, 0x01, 0x02});
    EXPECT_TRUE(messages.empty());
    Add({0x03});
    Add({0x04, 0xF7});
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], (Bytes{0xF0, 0x01, 0x02, 0x03, 0x04, 0xF7}));
}

TEST_F(SysExAssemblerTest, TwoMessagesInOnePieceComeOutInOrder) {
    Add({0xF0, 0x01, 0xF7, 0xF0, 0x02, 0xF7, 0xF0, 0x03});
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], (Bytes{0xF0, 0x01, 0xF7}));
    EXPECT_EQ(messages[1], (Bytes{0xF0, 0x02, 0xF7}));
    Add({0xF7});
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[2], (Bytes{0xF0, 0x03, 0xF7}));
}

TEST_F(SysExAssemblerTest, BytesOutsideAMessageAndBrokenMessagesAreDropped) {
    Add({0x01, 0xF7, 0x90, 0x40});  // before any start
    Add({0xF0, 0x11, 0x12});        // cut off by the next start
    Add({0xF0, 0x21, 0xF7});
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], (Bytes{0xF0, 0x21, 0xF7}));
}

TEST_F(SysExAssemblerTest, ClearForgetsTheMessageInProgress) {
    Add({0xF0, 0x01});
    m_assembler.Clear();
    Add({0x02, 0xF7});
    EXPECT_TRUE(messages.empty());
    Add({0xF0, 0x03, 0xF7});
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], (Bytes{0xF0, 0x03, 0xF7}));
}

TEST_F(SysExAssemblerTest, AnOverlongMessageIsDroppedAndTheNextOneComesThrough) {
    Bytes start{0xF0};
    Add(start);
    const Bytes filler(8192, 0x55);
    for (std::size_t n = 0; n <= SysExAssembler::kMaxMessage / filler.size(); ++n) {
        Add(filler);
    }
    Add({0xF7, 0xF0, 0x42, 0xF7});
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], (Bytes{0xF0, 0x42, 0xF7}));
}

TEST_F(SysExAssemblerTest, AMessageOfExactlyTheLimitComesThrough) {
    Bytes message(SysExAssembler::kMaxMessage, 0x10);
    message.front() = 0xF0;
    message.back() = 0xF7;
    Add(message);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].size(), SysExAssembler::kMaxMessage);
}

}  // namespace
}  // namespace corvane::midi
