// Random, truncated and mutated device messages through the reply dispatch:
// nothing may crash or read past a message's end (run under AddressSanitizer).

#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "midi/loopback_backend.h"
#include "protocol/reply_handler.h"
#include "protocol/sysex.h"

namespace corvane::protocol {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::vector<Bytes> Seeds() {
    Bytes readBack{0xF0, 0x52, 0x00, 0x6E, 0x60, 0x04, 0x30, 0x00, 0x00, 0x09, 0x00};
    const Bytes data{1, 2, 3, 4, 5, 6, 7, 8, 9};
    Bytes packed(static_cast<std::size_t>(PackedLength(9)));
    PackSevenBit(packed.data(), data.data(), 9);
    readBack.insert(readBack.end(), packed.begin(), packed.end());
    std::uint8_t crc[5];
    EncodeFiveGroups(crc, Crc32(data.data(), 9));
    readBack.insert(readBack.end(), crc, crc + 5);
    readBack.push_back(0xF7);
    return {
        {0xF0, 0x52, 0x00, 0x6E, 0x00, 0x00, 0xF7},
        {0xF0, 0x52, 0x00, 0x6E, 0x64, 0x45, 0x01, 0x00, 0x00, 0x00, 0x00, 0xF7},
        {0xF0, 0x7E, 0x00, 0x06, 0x02, 0x52, 0x6E, 0x00, 0x28, 0x00, 0x31, 0x30, 0x30, 0x30, 0xF7},
        {0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7},
        {0xF0, 0x52, 0x00, 0x6E, 0x07, 0xF7},
        readBack,
    };
}

TEST(ReplyDispatchRobustness, MillionRandomTruncatedAndMutatedMessages) {
    midi::LoopbackBackend backend;
    backend.AddInput("Device");
    midi::CDxMidiOut out(backend);  // never opened: answers fail fast
    midi::CDxMidiIn in(backend);
    Messenger messenger(out);
    ReplyHandler handler(in, messenger);

    const std::vector<Bytes> seeds = Seeds();
    std::mt19937 rng(1234);
    constexpr int kMessages = 1'000'000;
    for (int i = 0; i < kMessages; ++i) {
        Bytes m;
        switch (rng() % 4) {
            case 0: {  // pure noise, often starting like a real message
                m.resize(rng() % 40);
                for (auto& b : m) {
                    b = static_cast<std::uint8_t>(rng());
                }
                if (!m.empty() && rng() % 2 == 0) {
                    m[0] = 0xF0;
                }
                if (m.size() > 1 && rng() % 2 == 0) {
                    m[1] = rng() % 2 ? 0x52 : 0x7E;
                }
                break;
            }
            case 1:  // truncated seed
                m = seeds[rng() % seeds.size()];
                m.resize(rng() % (m.size() + 1));
                break;
            default: {  // seed with mutated bytes, sometimes a huge read-back length
                m = seeds[rng() % seeds.size()];
                for (int flips = 1 + static_cast<int>(rng() % 3); flips > 0; --flips) {
                    m[rng() % m.size()] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
                }
                if (m.size() > 10 && rng() % 4 == 0) {
                    m[9] = static_cast<std::uint8_t>(rng() & 0x7F);
                    m[10] = static_cast<std::uint8_t>(rng() & 0x7F);
                }
                break;
            }
        }
        // An exact-size copy, so that a read past its end is caught.
        std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[m.size() + 1]);
        std::copy(m.begin(), m.end(), exact.get());
        handler.Dispatch(midi::ByteView(exact.get(), m.size()));
    }
    const int status = handler.Status();
    EXPECT_GE(status, 0);
    EXPECT_LE(status, 127);
    EXPECT_LE(handler.ReadBackPosition(), ReplyHandler::kReadBackCapacity);
}

}  // namespace
}  // namespace corvane::protocol
