#include "midi/midi_in.h"

#include <gtest/gtest.h>

#include "midi/loopback_backend.h"

namespace corvane::midi {
namespace {

Bytes Take(CDxMidiIn& in) {
    const ByteView head = in.GetFirstMessage();
    Bytes copy(head.begin(), head.end());
    in.RemoveFirstMessage();
    return copy;
}

class MidiInTest : public ::testing::Test {
protected:
    LoopbackBackend backend;
    LoopbackBackend::PortId first = backend.AddInput("First");
    LoopbackBackend::PortId second = backend.AddInput("Second");
    CDxMidiIn in{backend};
};

TEST_F(MidiInTest, MessagesBecomeEntriesInArrivalOrder) {
    ASSERT_EQ(in.Open(), 1);
    const Bytes a{0xF0, 0x01, 0xF7};
    const Bytes b{0xF0, 0x02, 0x03, 0xF7};
    ASSERT_TRUE(backend.Deliver(first, a));
    ASSERT_TRUE(backend.Deliver(first, b));
    EXPECT_EQ(Take(in), a);
    EXPECT_EQ(Take(in), b);
    EXPECT_TRUE(in.GetFirstMessage().empty());
}

TEST_F(MidiInTest, EmptyDataAddsNoEntry) {
    ASSERT_EQ(in.Open(), 1);
    ASSERT_TRUE(backend.Deliver(first, ByteView{}));
    EXPECT_TRUE(in.GetFirstMessage().empty());
}

TEST_F(MidiInTest, LongMessageIsSplitIntoReceiveBufferSizedPieces) {
    ASSERT_EQ(in.Open(), 1);
    Bytes message(2 * CDxMidiIn::kReceiveBufferSize + 100);
    for (std::size_t i = 0; i < message.size(); ++i) {
        message[i] = static_cast<std::uint8_t>(i * 7);
    }
    ASSERT_TRUE(backend.Deliver(first, message));

    Bytes joined;
    std::vector<std::size_t> sizes;
    while (!in.GetFirstMessage().empty()) {
        Bytes piece = Take(in);
        sizes.push_back(piece.size());
        joined.insert(joined.end(), piece.begin(), piece.end());
    }
    EXPECT_EQ(sizes, (std::vector<std::size_t>{CDxMidiIn::kReceiveBufferSize,
                                               CDxMidiIn::kReceiveBufferSize, 100}));
    EXPECT_EQ(joined, message);
}

TEST_F(MidiInTest, EntriesSurviveCloseAndReopenAndClosedPortAddsNothing) {
    ASSERT_EQ(in.Open(), 1);
    const Bytes a{0xF0, 0x0A, 0xF7};
    ASSERT_TRUE(backend.Deliver(first, a));
    in.Close();
    EXPECT_FALSE(in.IsOpen());
    EXPECT_FALSE(backend.IsOpen(first));
    EXPECT_FALSE(backend.Deliver(first, Bytes{0xF0, 0x0B, 0xF7}));

    ASSERT_EQ(in.Open(), 1);
    const Bytes c{0xF0, 0x0C, 0xF7};
    ASSERT_TRUE(backend.Deliver(first, c));
    EXPECT_EQ(Take(in), a);
    EXPECT_EQ(Take(in), c);
    // What is left when the port is destroyed is freed with it (leak-checked
    // in the sanitizer build).
    ASSERT_TRUE(backend.Deliver(first, a));
}

TEST_F(MidiInTest, EmptyListHasNoHeadAndRemoveDoesNothing) {
    EXPECT_TRUE(in.GetFirstMessage().empty());
    in.RemoveFirstMessage();
    EXPECT_TRUE(in.GetFirstMessage().empty());
}

TEST_F(MidiInTest, OpenWhenOpenStaysOnItsDevice) {
    in.SetDeviceIndex(0);
    ASSERT_EQ(in.Open(), 1);
    in.SetDeviceIndex(1);
    EXPECT_EQ(in.Open(), 1);
    EXPECT_TRUE(backend.IsOpen(first));
    EXPECT_FALSE(backend.IsOpen(second));

    // Switching devices takes Close, the new index, Open.
    in.Close();
    EXPECT_EQ(in.Open(), 1);
    EXPECT_FALSE(backend.IsOpen(first));
    EXPECT_TRUE(backend.IsOpen(second));
}

TEST_F(MidiInTest, RefusedOrMissingDeviceLeavesThePortClosed) {
    backend.RefuseOpen(first, true);
    EXPECT_EQ(in.Open(), 0);
    EXPECT_FALSE(in.IsOpen());
    in.SetDeviceIndex(5);
    EXPECT_EQ(in.Open(), 0);
    in.SetDeviceIndex(-1);
    EXPECT_EQ(in.Open(), 0);
    in.Close();
    EXPECT_FALSE(in.IsOpen());
}

}  // namespace
}  // namespace corvane::midi
