#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <thread>

#include "midi/loopback_backend.h"
#include "midi/midi_out.h"
#include "protocol/message_set.h"
#include "protocol/messenger.h"

namespace corvane::protocol {
namespace {

constexpr int kSendsPerThread = 10000;
constexpr int kBlockData = 4096;
constexpr std::uint8_t kModel = 0x21;

// The update worker's block writes and the reply handler's results share one
// outgoing buffer and one port; every message must arrive whole and unmixed.
TEST(MessengerStress, ConcurrentBlockWritesAndResultsNeverTearOrInterleave) {
    midi::LoopbackBackend backend;
    const auto port = backend.AddOutput("Device");
    midi::CDxMidiOut out(backend);
    ASSERT_EQ(out.Open(0), 1);
    Messenger messenger(out);
    messenger.SetDeviceIdentityCopy({kModel, 0x01, 0x02, 0x03});

    std::vector<std::uint8_t> data(kBlockData);
    for (int i = 0; i < kBlockData; ++i) {
        data[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i * 31 + 7);
    }
    // The block write for address 0; the others differ only in the address.
    ASSERT_EQ(messenger.SendBlockWrite(data.data(), 0, kBlockData), 0);
    const midi::Bytes blockAtZero = backend.Sent(port).at(0);
    ASSERT_EQ(blockAtZero.size(),
              static_cast<std::size_t>(BlockWrite::kOverhead + PackedLength(kBlockData)));
    backend.ClearSent(port);
    backend.SetRecording(port, false);

    // Runs under the port's send lock, so one message at a time.
    int blocks = 0;
    int results = 0;
    int torn = 0;
    std::set<std::uint32_t> addresses;
    std::uint8_t nextStatus = 0;
    backend.SetReceiver(port, [&](midi::ByteView m) {
        if (m.size() == Result::kSize) {
            auto expected = Template<Result>();
            Write(expected.data(), Result::kModel, kModel);
            Write(expected.data(), Result::kStatus, nextStatus);
            nextStatus = static_cast<std::uint8_t>((nextStatus + 1) & 0x7F);
            torn += std::equal(m.begin(), m.end(), expected.begin()) ? 0 : 1;
            ++results;
            return;
        }
        if (m.size() != blockAtZero.size()) {
            ++torn;
            return;
        }
        // Decode the address, then compare with the message for that address.
        const std::uint32_t address = Read(m, BlockWrite::kAddress);
        midi::Bytes expected = blockAtZero;
        Write(expected.data(), BlockWrite::kAddress, address);
        torn += std::equal(m.begin(), m.end(), expected.begin()) ? 0 : 1;
        addresses.insert(address);
        ++blocks;
    });

    int blockFailures = 0;
    int resultFailures = 0;
    std::thread worker([&] {
        for (int i = 0; i < kSendsPerThread; ++i) {
            const auto address = static_cast<std::uint32_t>(i) * kBlockData;
            blockFailures += messenger.SendBlockWrite(data.data(), address, kBlockData) != 0;
        }
    });
    std::thread replier([&] {
        for (int i = 0; i < kSendsPerThread; ++i) {
            resultFailures += messenger.SendResult(static_cast<std::uint8_t>(i & 0x7F)) != 0;
        }
    });
    worker.join();
    replier.join();

    EXPECT_EQ(blockFailures, 0);
    EXPECT_EQ(resultFailures, 0);
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(blocks, kSendsPerThread);
    EXPECT_EQ(results, kSendsPerThread);
    EXPECT_EQ(addresses.size(), static_cast<std::size_t>(kSendsPerThread));
    EXPECT_EQ(*addresses.rbegin(), static_cast<std::uint32_t>(kSendsPerThread - 1) * kBlockData);
}

}  // namespace
}  // namespace corvane::protocol
