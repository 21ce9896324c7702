// A producer floods the input port while the 1 ms tick drains the receive
// list: every piece arrives exactly once, whole and in order.

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "midi/loopback_backend.h"
#include "midi/midi_in.h"
#include "midi/midi_timer.h"

namespace corvane::midi {
namespace {

constexpr int kMessages = 100'000;

std::uint8_t ByteOf(int message, std::size_t offset) {
    return static_cast<std::uint8_t>(message * 31 + static_cast<int>(offset) * 7);
}

struct Drain {
    CDxMidiIn* in = nullptr;
    std::vector<std::size_t> lengths;
    int message = 0;
    std::size_t offset = 0;
    std::atomic<int> done{0};
    std::atomic<bool> failed{false};

    static void Tick(std::uint32_t, std::uint32_t, std::uintptr_t user, std::uintptr_t,
                     std::uintptr_t) {
        auto* d = reinterpret_cast<Drain*>(user);
        for (ByteView piece = d->in->GetFirstMessage(); !piece.empty();
             piece = d->in->GetFirstMessage()) {
            d->Check(piece);
            d->in->RemoveFirstMessage();
        }
    }

    void Check(ByteView piece) {
        if (message >= kMessages || piece.size() > CDxMidiIn::kReceiveBufferSize ||
            offset + piece.size() > lengths[static_cast<std::size_t>(message)]) {
            failed = true;
            return;
        }
        for (std::size_t i = 0; i < piece.size(); ++i) {
            if (piece[i] != ByteOf(message, offset + i)) {
                failed = true;
            }
        }
        offset += piece.size();
        if (offset == lengths[static_cast<std::size_t>(message)]) {
            ++message;
            offset = 0;
            ++done;
        }
    }
};

TEST(ReceiveStress, HundredThousandMessagesDrainedAtMillisecondTicks) {
    LoopbackBackend backend;
    const auto port = backend.AddInput("Device");
    CDxMidiIn in(backend);
    in.SetDeviceIndex(0);
    ASSERT_EQ(in.Open(), 1);

    Drain drain;
    drain.in = &in;
    std::mt19937 rng(99);
    for (int i = 0; i < kMessages; ++i) {
        drain.lengths.push_back(1 + rng() % 20000);
    }

    CDxMTimer timer;
    ASSERT_NE(timer.Start(1, &Drain::Tick, reinterpret_cast<std::uintptr_t>(&drain)), 0u);
    std::thread producer([&] {
        std::vector<std::uint8_t> buffer;
        for (int i = 0; i < kMessages && !drain.failed; ++i) {
            buffer.resize(drain.lengths[static_cast<std::size_t>(i)]);
            for (std::size_t j = 0; j < buffer.size(); ++j) {
                buffer[j] = ByteOf(i, j);
            }
            backend.Deliver(port, buffer);
            // Keep the list within a few ticks' worth, as a real device would.
            while (i - drain.done.load() > 256 && !drain.failed) {
                std::this_thread::yield();
            }
        }
    });
    producer.join();
    while (drain.done.load() < kMessages && !drain.failed) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    timer.Stop();
    EXPECT_FALSE(drain.failed);
    EXPECT_EQ(drain.done.load(), kMessages);
    EXPECT_TRUE(in.GetFirstMessage().empty());
}

}  // namespace
}  // namespace corvane::midi
