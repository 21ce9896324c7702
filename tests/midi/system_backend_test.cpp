#include "midi/system_backend.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace corvane::midi {
namespace {

using namespace std::chrono_literals;

// Virtual ports open exactly when a MIDI system is reachable.
bool MidiSystemReachable() {
    return OpenVirtualPorts("corvane-reach-probe", {}) != nullptr;
}

TEST(SystemBackend, WithoutMidiSystemListsNothingQuicklyAndOpensNothing) {
    if (MidiSystemReachable()) {
        GTEST_SKIP() << "a MIDI system is reachable here";
    }
    const auto start = std::chrono::steady_clock::now();
    auto backend = CreateSystemBackend();
    EXPECT_TRUE(backend->InputPortNames().empty());
    EXPECT_TRUE(backend->OutputPortNames().empty());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);

    EXPECT_EQ(backend->OpenOutput(0), nullptr);
    EXPECT_EQ(backend->OpenInput(0, [](ByteView) {}), nullptr);
}

TEST(SystemBackend, RefusesIndexesOutsideTheList) {
    auto backend = CreateSystemBackend();
    const int outputs = static_cast<int>(backend->OutputPortNames().size());
    const int inputs = static_cast<int>(backend->InputPortNames().size());
    EXPECT_EQ(backend->OpenOutput(-1), nullptr);
    EXPECT_EQ(backend->OpenOutput(outputs), nullptr);
    EXPECT_EQ(backend->OpenInput(-1, [](ByteView) {}), nullptr);
    EXPECT_EQ(backend->OpenInput(inputs, [](ByteView) {}), nullptr);
}

// Only where a MIDI system runs: a simulated device's virtual ports appear
// under their name and carry System Exclusive both ways.
TEST(SystemBackend, VirtualPortsAppearUnderTheirNameAndCarryMessages) {
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<Bytes> atDevice;
    std::vector<Bytes> atUpdater;
    auto device = OpenVirtualPorts("Corvane Test Device", [&](ByteView m) {
        std::lock_guard lock(mutex);
        atDevice.emplace_back(m.begin(), m.end());
        arrived.notify_all();
    });
    if (!device) {
        GTEST_SKIP() << "no MIDI system reachable here";
    }
    auto backend = CreateSystemBackend();
    const auto find = [](const std::vector<std::string>& names) {
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (names[i] == "Corvane Test Device") {
                return static_cast<int>(i);
            }
        }
        return -1;
    };
    const int out = find(backend->OutputPortNames());
    const int in = find(backend->InputPortNames());
    ASSERT_GE(out, 0);
    ASSERT_GE(in, 0);

    auto output = backend->OpenOutput(out);
    auto input = backend->OpenInput(in, [&](ByteView m) {
        std::lock_guard lock(mutex);
        atUpdater.emplace_back(m.begin(), m.end());
        arrived.notify_all();
    });
    ASSERT_NE(output, nullptr);
    ASSERT_NE(input, nullptr);

    const Bytes request{0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7};
    const Bytes reply{0xF0, 0x52, 0x00, 0x00, 0x00, 0x00, 0xF7};
    EXPECT_TRUE(output->Send(request));
    EXPECT_TRUE(device->Send(reply));
    std::unique_lock lock(mutex);
    ASSERT_TRUE(
        arrived.wait_for(lock, 2s, [&] { return !atDevice.empty() && !atUpdater.empty(); }));
    EXPECT_EQ(atDevice.front(), request);
    EXPECT_EQ(atUpdater.front(), reply);
}

}  // namespace
}  // namespace corvane::midi
