#include "midi/sysex_assembler.h"

#include <gtest/gtest.h>

namespace corvane::midi {
namespace {

// Feeds `stream` in pieces of `piece` bytes and collects what comes out.
std::vector<Bytes> Assemble(const Bytes& stream, std::size_t piece) {
    SysExAssembler assembler;
    std::vector<Bytes> messages;
    for (std::size_t at = 0; at < stream.size(); at += piece) {
        const std::size_t n = std::min(piece, stream.size() - at);
        assembler.Feed(ByteView(stream.data() + at, n),
                       [&](ByteView m) { messages.emplace_back(m.begin(), m.end()); });
    }
    return messages;
}

TEST(SysExAssembler, MessagesComeWholeHoweverTheStreamIsCut) {
    const Bytes stream{0xF0, 0x7E, 0x00, 0x06, 0x02, 0xF7, 0xF0, 0x01, 0x02, 0x03, 0xF7};
    for (std::size_t piece : {1u, 2u, 3u, 5u, 64u}) {
        const auto messages = Assemble(stream, piece);
        ASSERT_EQ(messages.size(), 2u) << piece;
        EXPECT_EQ(messages[0], (Bytes{0xF0, 0x7E, 0x00, 0x06, 0x02, 0xF7}));
        EXPECT_EQ(messages[1], (Bytes{0xF0, 0x01, 0x02, 0x03, 0xF7}));
    }
}

TEST(SysExAssembler, RealTimeBytesAnywhereBelongToNoMessage) {
    // Clock, active sensing and reset before, inside and after a message.
    const Bytes stream{0xFE, 0xF0, 0x01, 0xF8, 0x02, 0xFE, 0xFF, 0x03, 0xFA, 0xF7, 0xFE};
    for (std::size_t piece : {1u, 4u, 64u}) {
        const auto messages = Assemble(stream, piece);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0], (Bytes{0xF0, 0x01, 0x02, 0x03, 0xF7}));
    }
}

TEST(SysExAssembler, ShortMessagesAndBrokenMessagesAreDropped) {
    const Bytes stream{
        0x90, 0x40, 0x7F,              // note on outside any message
        0xF0, 0x01, 0x02, 0x80, 0x40,  // cut by a note off: incomplete
        0xF7,                          // an end without a start
        0xF0, 0x05, 0xF1, 0x00,        // cut by a common message
        0xF0, 0x06, 0xF0, 0x07, 0xF7,  // a new start drops the first
    };
    const auto messages = Assemble(stream, 3);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], (Bytes{0xF0, 0x07, 0xF7}));
}

TEST(SysExAssembler, AMessageBeyondTheLimitIsDroppedAndTheNextOneComes) {
    Bytes stream{0xF0};
    stream.insert(stream.end(), SysExAssembler::kMaxMessage, 0x11);
    stream.push_back(0xF7);
    stream.insert(stream.end(), {0xF0, 0x22, 0xF7});
    const auto messages = Assemble(stream, 4096);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], (Bytes{0xF0, 0x22, 0xF7}));
}

TEST(SysExAssembler, ClearForgetsTheMessageInProgress) {
    SysExAssembler assembler;
    std::vector<Bytes> messages;
    const auto collect = [&](ByteView m) { messages.emplace_back(m.begin(), m.end()); };
    assembler.Feed(Bytes{0xF0, 0x01, 0x02}, collect);
    assembler.Clear();
    assembler.Feed(Bytes{0x03, 0xF7, 0xF0, 0x04, 0xF7}, collect);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], (Bytes{0xF0, 0x04, 0xF7}));
}

}  // namespace
}  // namespace corvane::midi
