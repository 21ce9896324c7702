#include "protocol/sysex.h"

#include <zlib.h>

#include <algorithm>

namespace corvane::protocol {

int PackSevenBit(std::uint8_t* dst, const std::uint8_t* src, int n) {
    int written = 0;
    for (int s = 0; s < n; s += 7) {
        const int k = std::min(7, n - s);
        std::uint8_t high = 0;
        for (int j = 0; j < k; ++j) {
            const std::uint8_t b = src[s + j];
            if ((b & 0x80) != 0) {
                high |= static_cast<std::uint8_t>(1u << (6 - j));
            }
            dst[written + 1 + j] = b & 0x7F;
        }
        dst[written] = high;
        written += k + 1;
    }
    return written;
}

int UnpackSevenBit(std::uint8_t* dst, const std::uint8_t* src, int packedLength) {
    int written = 0;
    for (int q = 0; q < packedLength; q += 8) {
        const int k = std::min(7, packedLength - q - 1);
        const std::uint8_t high = src[q];
        for (int j = 0; j < k; ++j) {
            std::uint8_t b = src[q + 1 + j] & 0x7F;
            if ((high & (1u << (6 - j))) != 0) {
                b |= 0x80;
            }
            dst[written++] = b;
        }
    }
    return written;
}

std::uint32_t Crc32(const std::uint8_t* data, std::uint32_t length) {
    // zlib's CRC-32 is the same register run with the final complement; its
    // word-at-a-time tables keep a 4 KiB block well under our per-block budget.
    if (length == 0) {
        return 0xFFFFFFFFu;
    }
    return ~static_cast<std::uint32_t>(::crc32(0L, data, length));
}

void EncodeFiveGroups(std::uint8_t* dst, std::uint32_t value) {
    dst[0] = value & 0x7F;
    dst[1] = (value >> 7) & 0x7F;
    dst[2] = (value >> 14) & 0x7F;
    dst[3] = (value >> 21) & 0x7F;
    dst[4] = (value >> 28) & 0x0F;
}

std::uint32_t DecodeFiveGroups(const std::uint8_t* g) {
    return (std::uint32_t{g[0]} & 0x7F) | ((std::uint32_t{g[1]} & 0x7F) << 7) |
           ((std::uint32_t{g[2]} & 0x7F) << 14) | ((std::uint32_t{g[3]} & 0x7F) << 21) |
           ((std::uint32_t{g[4]} & 0x0F) << 28);
}

void EncodeTwoGroups(std::uint8_t* dst, std::uint32_t value) {
    dst[0] = value & 0x7F;
    dst[1] = (value >> 7) & 0x7F;
}

std::uint32_t DecodeTwoGroups(const std::uint8_t* g) {
    return (std::uint32_t{g[0]} & 0x7F) | ((std::uint32_t{g[1]} & 0x7F) << 7);
}

}  // namespace corvane::protocol
