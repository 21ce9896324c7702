#pragma once
// The System Exclusive message set spoken with the device: message templates,
// five-group and two-group numbers, 7-bit packing and the CRC that protects
// block data.

#include <array>
#include <cstdint>

namespace corvane::protocol {

inline constexpr std::uint8_t kSysExStart = 0xF0;
inline constexpr std::uint8_t kSysExEnd = 0xF7;
inline constexpr std::uint8_t kManufacturerId = 0x52;
inline constexpr std::uint8_t kUniversalNonRealTime = 0x7E;
inline constexpr std::uint8_t kGeneralInformation = 0x06;

// Offsets every manufacturer message shares.
inline constexpr int kModelByteOffset = 3;
inline constexpr int kFunctionOffset = 4;

// Function bytes of manufacturer messages.
namespace fn {
inline constexpr std::uint8_t kResult = 0x00;
inline constexpr std::uint8_t kPrepare = 0x01;
inline constexpr std::uint8_t kBlockWrite = 0x02;
inline constexpr std::uint8_t kNotice03 = 0x03;
inline constexpr std::uint8_t kClosing = 0x04;
inline constexpr std::uint8_t kNotice05 = 0x05;
inline constexpr std::uint8_t kErase = 0x0A;
inline constexpr std::uint8_t kUpdatePermission = 0x12;
inline constexpr std::uint8_t kOpening = 0x52;
inline constexpr std::uint8_t kReadBack = 0x60;
inline constexpr std::uint8_t kVersion = 0x64;
}  // namespace fn

inline constexpr std::uint8_t kVersionQuerySubCode = 0x44;
inline constexpr std::uint8_t kVersionReplySubCode = 0x45;

// Result message status bytes.
inline constexpr std::uint8_t kAck = 0x00;
inline constexpr std::uint8_t kRefuse = 0x01;

// Templates: every lettered byte is 00 until the sender fills it in.
inline constexpr std::array<std::uint8_t, 6> kIdentityRequest{0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7};
inline constexpr std::array<std::uint8_t, 15> kIdentityReplyTemplate{
    0xF0, 0x7E, 0x00, 0x06, 0x02, 0x52, 0x00, 0x00, 0x00, 0x00, 0x31, 0x30, 0x30, 0x30, 0xF7};
inline constexpr int kIdentityOffset = 6;  // identity bytes in both identity replies
inline constexpr std::array<std::uint8_t, 7> kResultTemplate{0xF0, 0x52, 0x00, 0x00,
                                                             0x00, 0x00, 0xF7};
inline constexpr std::array<std::uint8_t, 6> kOpeningTemplate{0xF0, 0x52, 0x00, 0x00, 0x52, 0xF7};
inline constexpr std::array<std::uint8_t, 7> kVersionQueryTemplate{0xF0, 0x52, 0x00, 0x00,
                                                                   0x64, 0x44, 0xF7};
inline constexpr std::array<std::uint8_t, 8> kUpdatePermissionTemplate{0xF0, 0x52, 0x00, 0x00,
                                                                       0x12, 0x00, 0x00, 0xF7};
inline constexpr std::array<std::uint8_t, 6> kPrepareTemplate{0xF0, 0x52, 0x00, 0x00, 0x01, 0xF7};
inline constexpr std::array<std::uint8_t, 16> kEraseTemplate{
    0xF0, 0x52, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF7};
inline constexpr std::array<std::uint8_t, 5> kBlockWriteHeader{0xF0, 0x52, 0x00, 0x00, 0x02};
inline constexpr std::array<std::uint8_t, 6> kClosingTemplate{0xF0, 0x52, 0x00, 0x00, 0x04, 0xF7};

// Block write layout: header, address, length, packed data, CRC, end.
inline constexpr int kBlockAddressOffset = 5;
inline constexpr int kBlockLengthOffset = 10;
inline constexpr int kBlockDataOffset = 12;
inline constexpr int kBlockOverhead = 18;
inline constexpr int kMaxBlockData = 16383;  // what the two-group length field holds

// Read-back reply layout.
inline constexpr int kReadBackLengthOffset = 9;
inline constexpr int kReadBackDataOffset = 11;

// n data bytes pack into n + ceil(n / 7) bytes.
constexpr int PackedLength(int n) {
    return n + (n + 6) / 7;
}
// Raw bytes carried by a read-back reply of n data bytes: 8 per whole group
// plus the short group.
constexpr int ReadBackPackedLength(int n) {
    return 8 * (n / 7) + (n % 7 != 0 ? n % 7 + 1 : 0);
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
