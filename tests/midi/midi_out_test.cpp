#include "midi/midi_out.h"

#include <gtest/gtest.h>

#include "midi/loopback_backend.h"

namespace corvane::midi {
namespace {

const Bytes kMessage{0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7};

MidiHeader HeaderFor(const Bytes& message) {
    MidiHeader header;
    header.data = message.data();
    header.bufferLength = static_cast<std::uint32_t>(message.size());
    return header;
}

class MidiOutTest : public ::testing::Test {
protected:
    LoopbackBackend backend;
    LoopbackBackend::PortId first = backend.AddOutput("First");
    LoopbackBackend::PortId second = backend.AddOutput("Second");
    CDxMidiOut out{backend};
};

TEST_F(MidiOutTest, OpenOnTheOpenIndexKeepsTheDeviceWithoutReopening) {
    ASSERT_EQ(out.Open(0), 1);
    // A reopen would now be refused.
    backend.RefuseOpen(first, true);
    EXPECT_EQ(out.Open(0), 1);
    EXPECT_TRUE(backend.IsOpen(first));
}

TEST_F(MidiOutTest, OpenOnAnotherIndexClosesTheCurrentDeviceFirst) {
    ASSERT_EQ(out.Open(0), 1);
    EXPECT_EQ(out.Open(1), 1);
    EXPECT_FALSE(backend.IsOpen(first));
    EXPECT_TRUE(backend.IsOpen(second));

    backend.RefuseOpen(first, true);
    EXPECT_EQ(out.Open(0), 0);
    EXPECT_FALSE(backend.IsOpen(first));
    EXPECT_FALSE(backend.IsOpen(second));
    EXPECT_EQ(out.Close(), 0);
}

TEST_F(MidiOutTest, OpenFailsOnMissingOrNegativeIndex) {
    EXPECT_EQ(out.Open(2), 0);
    EXPECT_EQ(out.Open(-1), 0);
    EXPECT_EQ(out.Close(), 0);
}

TEST_F(MidiOutTest, CloseReportsWhetherAPortWasOpen) {
    EXPECT_EQ(out.Close(), 0);
    ASSERT_EQ(out.Open(1), 1);
    EXPECT_EQ(out.Close(), 1);
    EXPECT_FALSE(backend.IsOpen(second));
    EXPECT_EQ(out.Close(), 0);
    // Closed, the same index opens the device again.
    EXPECT_EQ(out.Open(1), 1);
    EXPECT_TRUE(backend.IsOpen(second));
}

TEST_F(MidiOutTest, SendOnClosedPortFails) {
    EXPECT_EQ(out.SendLongMessage(HeaderFor(kMessage)), 0);
    EXPECT_TRUE(backend.Sent(first).empty());
}

TEST_F(MidiOutTest, SendDeliversTheWholeMessage) {
    ASSERT_EQ(out.Open(0), 1);
    EXPECT_EQ(out.SendLongMessage(HeaderFor(kMessage)), 1);
    EXPECT_EQ(backend.Sent(first), std::vector<Bytes>{kMessage});
}

TEST_F(MidiOutTest, RefusedOrVanishedSendFails) {
    ASSERT_EQ(out.Open(0), 1);
    backend.FailSends(first, true);
    EXPECT_EQ(out.SendLongMessage(HeaderFor(kMessage)), 0);

    backend.FailSends(first, false);
    backend.Remove(first);
    EXPECT_EQ(out.SendLongMessage(HeaderFor(kMessage)), 0);
}

TEST_F(MidiOutTest, NullDataIsRefused) {
    ASSERT_EQ(out.Open(0), 1);
    MidiHeader header;
    EXPECT_EQ(out.SendLongMessage(header), 0);
    EXPECT_TRUE(backend.Sent(first).empty());
}

}  // namespace
}  // namespace corvane::midi
