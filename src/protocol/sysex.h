#pragma once
// How numbers and data travel in data bytes: five-group and two-group
// numbers, 7-bit packing, and the CRC that protects block data. Which message
// carries what, and where, is in message_set.h.

#include <cstdint>

namespace corvane::protocol {

// n data bytes pack into n + ceil(n / 7) bytes.
constexpr int PackedLength(int n) {
    return n + (n + 6) / 7;
}

int PackSevenBit(std::uint8_t* dst, const std::uint8_t* src, int n);
int UnpackSevenBit(std::uint8_t* dst, const std::uint8_t* src, int packedLength);
// Reflected CRC-32 (polynomial 0xEDB88320) without the final complement.
std::uint32_t Crc32(const std::uint8_t* data, std::uint32_t length);

void EncodeFiveGroups(std::uint8_t* dst, std::uint32_t value);
std::uint32_t DecodeFiveGroups(const std::uint8_t* groups);
void EncodeTwoGroups(std::uint8_t* dst, std::uint32_t value);
std::uint32_t DecodeTwoGroups(const std::uint8_t* groups);

}  // namespace corvane::protocol
