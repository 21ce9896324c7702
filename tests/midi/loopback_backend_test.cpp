#include "midi/loopback_backend.h"

#include <gtest/gtest.h>

namespace corvane::midi {
namespace {

const Bytes kMessage{0xF0, 0x01, 0xF7};

TEST(LoopbackBackend, RefusedPortsDoNotOpen) {
    LoopbackBackend backend;
    const auto out = backend.AddOutput("Out");
    const auto in = backend.AddInput("In");
    backend.RefuseOpen(out, true);
    backend.RefuseOpen(in, true);
    EXPECT_EQ(backend.OpenOutput(0), nullptr);
    EXPECT_EQ(backend.OpenInput(0, [](ByteView) {}), nullptr);
    backend.RefuseOpen(out, false);
    EXPECT_NE(backend.OpenOutput(0), nullptr);
}

TEST(LoopbackBackend, InputHasOneReaderAtATime) {
    LoopbackBackend backend;
    backend.AddInput("In");
    auto reader = backend.OpenInput(0, [](ByteView) {});
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(backend.OpenInput(0, [](ByteView) {}), nullptr);
    reader.reset();
    EXPECT_NE(backend.OpenInput(0, [](ByteView) {}), nullptr);
}

TEST(LoopbackBackend, FailingSendsReachNobody) {
    LoopbackBackend backend;
    int received = 0;
    const auto out = backend.AddOutput("Out", [&](ByteView) { ++received; });
    auto connection = backend.OpenOutput(0);
    ASSERT_NE(connection, nullptr);
    backend.FailSends(out, true);
    EXPECT_FALSE(connection->Send(kMessage));
    EXPECT_EQ(received, 0);
    EXPECT_TRUE(backend.Sent(out).empty());
    backend.FailSends(out, false);
    EXPECT_TRUE(connection->Send(kMessage));
    EXPECT_EQ(received, 1);
}

TEST(LoopbackBackend, VanishedPortIsUnlistedAndItsConnectionsFail) {
    LoopbackBackend backend;
    const auto out = backend.AddOutput("Out");
    const auto in = backend.AddInput("In");
    backend.AddOutput("Stays");
    auto output = backend.OpenOutput(0);
    auto input = backend.OpenInput(0, [](ByteView) {});
    ASSERT_NE(output, nullptr);
    ASSERT_NE(input, nullptr);

    backend.Remove(out);
    backend.Remove(in);
    EXPECT_EQ(backend.OutputPortNames(), std::vector<std::string>{"Stays"});
    EXPECT_TRUE(backend.InputPortNames().empty());
    EXPECT_FALSE(output->Send(kMessage));
    EXPECT_FALSE(backend.Deliver(in, kMessage));
}

}  // namespace
}  // namespace corvane::midi
