#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "protocol/sysex.h"

namespace corvane::protocol {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Pack(const Bytes& data) {
    Bytes out(static_cast<std::size_t>(PackedLength(static_cast<int>(data.size()))) + 1, 0xEE);
    const int n = PackSevenBit(out.data(), data.data(), static_cast<int>(data.size()));
    EXPECT_EQ(out.back(), 0xEE) << "wrote past the packed length";
    out.resize(static_cast<std::size_t>(n));
    return out;
}

TEST(SevenBitPacking, DocumentedExamples) {
    EXPECT_TRUE(Pack({}).empty());
    EXPECT_EQ(Pack({0x80}), (Bytes{0x40, 0x00}));
    EXPECT_EQ(Pack(Bytes(7, 0xFF)), (Bytes{0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F}));
    EXPECT_EQ(Pack(Bytes(8, 0x00)).size(), 10u);
    EXPECT_EQ(Pack({0x01, 0x82, 0x03, 0x84, 0x05, 0x86, 0x07, 0x88}),
              (Bytes{0x2A, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x40, 0x08}));
}

TEST(SevenBitPacking, PackedBytesAreSevenBitClean) {
    const Bytes packed = Pack(Bytes(100, 0xFF));
    for (std::uint8_t b : packed) {
        EXPECT_LT(b, 0x80);
    }
}

TEST(SevenBitPacking, ShortFinalGroupUnpacksToItsDataOnly) {
    // 6 data bytes pack to 7; they must come back as exactly 6.
    const Bytes data{0x81, 0x02, 0x83, 0x04, 0x85, 0x06};
    const Bytes packed = Pack(data);
    ASSERT_EQ(packed.size(), 7u);
    Bytes out(16, 0xEE);
    EXPECT_EQ(UnpackSevenBit(out.data(), packed.data(), 7), 6);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 6), data);
    EXPECT_EQ(out[6], 0xEE);
}

TEST(SevenBitPacking, RoundTripsEveryLengthUpTo20000) {
    std::mt19937 rng(7);
    Bytes data(20000);
    for (auto& b : data) {
        b = static_cast<std::uint8_t>(rng());
    }
    Bytes packed(static_cast<std::size_t>(PackedLength(20000)));
    Bytes unpacked(20000);
    for (int n = 0; n <= 20000; ++n) {
        const int p = PackSevenBit(packed.data(), data.data(), n);
        ASSERT_EQ(p, PackedLength(n));
        ASSERT_EQ(UnpackSevenBit(unpacked.data(), packed.data(), p), n);
        ASSERT_TRUE(std::equal(data.begin(), data.begin() + n, unpacked.begin())) << n;
    }
}

// A bit-at-a-time CRC-32 written from the polynomial, independent of the table.
std::uint32_t ReferenceCrc32(const Bytes& data) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::uint8_t b : data) {
        crc ^= b;
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

TEST(Crc32, DocumentedValues) {
    EXPECT_EQ(Crc32(nullptr, 0), 0xFFFFFFFFu);
    const Bytes digits{'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(Crc32(digits.data(), 9), 0x340BC6D9u);
}

TEST(Crc32, IsTheComplementOfTheCommonCrc) {
    std::mt19937 rng(11);
    for (int round = 0; round < 200; ++round) {
        Bytes data(rng() % 5000);
        for (auto& b : data) {
            b = static_cast<std::uint8_t>(rng());
        }
        ASSERT_EQ(Crc32(data.data(), static_cast<std::uint32_t>(data.size())),
                  ~ReferenceCrc32(data));
    }
}

TEST(GroupNumbers, FiveGroupsCarryAll32Bits) {
    std::uint8_t g[5];
    EncodeFiveGroups(g, 0x149000);
    EXPECT_EQ(Bytes(g, g + 5), (Bytes{0x00, 0x20, 0x52, 0x00, 0x00}));
    EncodeFiveGroups(g, 0xFFFFFFFFu);
    EXPECT_EQ(Bytes(g, g + 5), (Bytes{0x7F, 0x7F, 0x7F, 0x7F, 0x0F}));
    std::mt19937 rng(3);
    for (int i = 0; i < 1000; ++i) {
        const std::uint32_t v = rng();
        EncodeFiveGroups(g, v);
        ASSERT_EQ(DecodeFiveGroups(g), v);
    }
}

TEST(GroupNumbers, DecodingIgnoresBitsOutsideEachGroup) {
    const std::uint8_t g[5] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(DecodeFiveGroups(g), 0xFFFFFFFFu);
    const std::uint8_t h[5] = {0x80, 0x80, 0x80, 0x80, 0xF0};
    EXPECT_EQ(DecodeFiveGroups(h), 0u);
}

TEST(GroupNumbers, TwoGroupsLowFirst) {
    std::uint8_t g[2];
    EncodeTwoGroups(g, 128);
    EXPECT_EQ(Bytes(g, g + 2), (Bytes{0x00, 0x01}));
    EncodeTwoGroups(g, 16383);
    EXPECT_EQ(Bytes(g, g + 2), (Bytes{0x7F, 0x7F}));
    EXPECT_EQ(DecodeTwoGroups(g), 16383u);
}

}  // namespace
}  // namespace corvane::protocol
