#include "device/device_messages.h"

#include <algorithm>

#include "protocol/sysex.h"

namespace corvane::device {

namespace {

std::uint8_t Data(std::uint8_t b) {
    return b & 0x7F;
}

}  // namespace

midi::Bytes IdentityReply(const std::array<std::uint8_t, 4>& identity,
                          const std::array<std::uint8_t, 4>& version) {
    midi::Bytes m{0xF0, 0x7E, 0x00, 0x06, 0x02, protocol::kManufacturerId};
    for (std::uint8_t b : identity) {
        m.push_back(Data(b));
    }
    for (std::uint8_t b : version) {
        m.push_back(Data(b));
    }
    m.push_back(protocol::kSysExEnd);
    return m;
}

midi::Bytes ResultMessage(std::uint8_t model, std::uint8_t status) {
    return {0xF0, protocol::kManufacturerId, 0x00, Data(model), protocol::fn::kResult, Data(status),
            0xF7};
}

midi::Bytes VersionReply(std::uint8_t model, const std::array<std::uint8_t, 4>& version) {
    return {0xF0,
            protocol::kManufacturerId,
            0x00,
            Data(model),
            protocol::fn::kVersion,
            protocol::kVersionReplySubCode,
            Data(version[0]),
            Data(version[1]),
            Data(version[2]),
            Data(version[3]),
            0x00,
            0xF7};
}

midi::Bytes IdentityRequest() {
    return {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
}

midi::Bytes Notice(std::uint8_t model, std::uint8_t function) {
    return {0xF0, protocol::kManufacturerId, 0x00, Data(model), Data(function), 0xF7};
}

midi::Bytes ReadBackReply(std::uint8_t model, midi::ByteView data, bool spoilCrc) {
    const int n = static_cast<int>(std::min<std::size_t>(data.size(), protocol::kMaxBlockData));
    midi::Bytes m{0xF0,
                  protocol::kManufacturerId,
                  0x00,
                  Data(model),
                  protocol::fn::kReadBack,
                  0x04,
                  0x30,
                  0x00,
                  0x00};
    m.resize(protocol::kReadBackDataOffset);
    protocol::EncodeTwoGroups(m.data() + protocol::kReadBackLengthOffset,
                              static_cast<std::uint32_t>(n));
    m.resize(protocol::kReadBackDataOffset + static_cast<std::size_t>(protocol::PackedLength(n)));
    const int packed =
        protocol::PackSevenBit(m.data() + protocol::kReadBackDataOffset, data.data(), n);
    std::uint32_t crc = protocol::Crc32(data.data(), static_cast<std::uint32_t>(n));
    if (spoilCrc) {
        crc ^= 1;
    }
    m.resize(protocol::kReadBackDataOffset + static_cast<std::size_t>(packed) + 5);
    protocol::EncodeFiveGroups(m.data() + protocol::kReadBackDataOffset + packed, crc);
    m.push_back(protocol::kSysExEnd);
    return m;
}

midi::Bytes Garbage() {
    return {0x90, 0x3C, 0x7F};
}

midi::Bytes ShortMessage() {
    return {0xF0, protocol::kManufacturerId, 0x00};
}

std::string ToHex(midi::ByteView bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(bytes.size() * 3);
    for (std::uint8_t b : bytes) {
        if (!s.empty()) {
            s.push_back(' ');
        }
        s.push_back(kDigits[b >> 4]);
        s.push_back(kDigits[b & 0x0F]);
    }
    return s;
}

}  // namespace corvane::device
