#pragma once
// The System Exclusive messages spoken with the device, each declared once: its
// header, its function byte, its length, and where each field sits and how it
// is encoded. The messenger assembles the updater's messages from these
// declarations, the reply handler reads the device's through them, and the
// simulated device reads the requests and answers through them; no offset into
// a message is written anywhere else. The encodings themselves (groups of seven
// bits, 7-bit packing, the CRC) are in sysex.h; the conversation they make up
// is described in docs/protocol.md.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "midi/midi_backend.h"
#include "protocol/sysex.h"

namespace corvane::protocol {

using Identity = std::array<std::uint8_t, 4>;

inline constexpr std::uint8_t kSysExStart = 0xF0;
inline constexpr std::uint8_t kSysExEnd = 0xF7;
inline constexpr std::uint8_t kManufacturerId = 0x52;
inline constexpr std::uint8_t kUniversalNonRealTime = 0x7E;
inline constexpr std::uint8_t kGeneralInformation = 0x06;

// F0, data bytes, F7: one message as its sender meant it. A byte of 0x80 or
// more inside, or a missing F7 (a message cut short, or a piece of one longer
// than a receive buffer), and nothing in it can be trusted.
bool Whole(midi::ByteView m);

// Fields: where a value sits in a message and how it is written in data bytes.
struct ByteField {  // one data byte
    int offset;
    static constexpr int kWidth = 1;
};
struct TwoGroups {  // 0-16383, low seven bits first
    int offset;
    static constexpr int kWidth = 2;
};
struct FiveGroups {  // 32 bits seven at a time, low first; four in the last group
    int offset;
    static constexpr int kWidth = 5;
};
struct FourBytes {  // four data bytes as they are: an identity or a version
    int offset;
    static constexpr int kWidth = 4;
};

// Whether the message carries the whole field before its F7; read a field of
// a received message only when it does.
template <typename Field>
bool Carries(midi::ByteView m, Field f) {
    return static_cast<std::size_t>(f.offset + Field::kWidth) < m.size();
}
inline std::uint8_t Read(midi::ByteView m, ByteField f) {
    return m[static_cast<std::size_t>(f.offset)];
}
inline std::uint32_t Read(midi::ByteView m, TwoGroups f) {
    return DecodeTwoGroups(m.data() + f.offset);
}
inline std::uint32_t Read(midi::ByteView m, FiveGroups f) {
    return DecodeFiveGroups(m.data() + f.offset);
}
inline Identity Read(midi::ByteView m, FourBytes f) {
    Identity value{};
    std::copy_n(m.begin() + f.offset, value.size(), value.begin());
    return value;
}
inline void Write(std::uint8_t* m, ByteField f, std::uint8_t value) {
    m[f.offset] = value;
}
inline void Write(std::uint8_t* m, TwoGroups f, std::uint32_t value) {
    EncodeTwoGroups(m + f.offset, value);
}
inline void Write(std::uint8_t* m, FiveGroups f, std::uint32_t value) {
    EncodeFiveGroups(m + f.offset, value);
}
inline void Write(std::uint8_t* m, FourBytes f, const Identity& value) {
    std::copy(value.begin(), value.end(), m + f.offset);
}

// Every message: F0, the sender's byte, two header bytes, the function byte.
inline constexpr ByteField kSender{1};
inline constexpr ByteField kFunction{4};
// F0, the header and the function byte, F7: no message of the set is shorter.
inline constexpr std::size_t kShortestMessage = 6;

// F0 52 00 mm fn ... F7; mm is the model byte, the first byte of the device's
// identity.
struct Manufacturer {
    static constexpr std::array<std::uint8_t, 4> kHeader{kSysExStart, kManufacturerId, 0x00, 0x00};
    static constexpr ByteField kModel{3};
};
inline constexpr std::size_t kIdentityModelByte = 0;

// F0 7E cc 06 fn ... F7, General Information of the universal non-real-time
// set; cc is the channel: 00 from the updater, 7F (every channel) from the
// device.
struct GeneralInformationMessage {
    static constexpr std::array<std::uint8_t, 4> kHeader{kSysExStart, kUniversalNonRealTime, 0x00,
                                                         kGeneralInformation};
    static constexpr ByteField kChannel{2};
    static constexpr ByteField kSubId{3};
    static constexpr std::uint8_t kEveryChannel = 0x7F;
};

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

// The status byte of a result message. Any other value from 2 to 127 is a
// failure the device reports.
inline constexpr std::uint8_t kStatusOk = 0x00;          // acknowledged
inline constexpr std::uint8_t kStatusFailed = 0x01;      // refused
inline constexpr std::uint8_t kStatusRestart = 0x0B;     // prepare: restarting into update mode
inline constexpr std::uint8_t kStatusLowBattery = 0x65;  // prepare: battery too low

// Where a message's fixed bytes after the function byte (its kFixed) start.
inline constexpr int kFixedOffset = 5;

// F0 7E 00 06 01 F7: asks for the other side's identity.
struct IdentityRequest : GeneralInformationMessage {
    static constexpr std::uint8_t kFunction = 0x01;
    static constexpr std::size_t kSize = 6;
};
// F0 7E 00 06 02 52 i0 i1 i2 i3 r0 r1 r2 r3 F7: an identity and a revision;
// the device's revision is its version.
struct IdentityReply : GeneralInformationMessage {
    static constexpr std::uint8_t kFunction = 0x02;
    static constexpr std::size_t kSize = 15;
    static constexpr std::array<std::uint8_t, 1> kFixed{kManufacturerId};
    static constexpr FourBytes kIdentity{6};
    static constexpr FourBytes kRevision{10};
};
// The revision the updater's own identity reply carries: "1000".
inline constexpr Identity kUpdaterRevision{0x31, 0x30, 0x30, 0x30};

// F0 52 00 mm 00 ss F7: the answer to a request; the updater answers the
// device's own messages with one too.
struct Result : Manufacturer {
    static constexpr std::uint8_t kFunction = fn::kResult;
    static constexpr std::size_t kSize = 7;
    static constexpr ByteField kStatus{5};
};

// F0 52 00 mm fn F7: requests and notices with nothing but a function byte.
struct Bare : Manufacturer {
    static constexpr std::size_t kSize = kShortestMessage;
};
struct Opening : Bare {
    static constexpr std::uint8_t kFunction = fn::kOpening;
};
struct Prepare : Bare {
    static constexpr std::uint8_t kFunction = fn::kPrepare;
};
struct Closing : Bare {
    static constexpr std::uint8_t kFunction = fn::kClosing;
};

// F0 52 00 mm 64 44 F7.
struct VersionQuery : Manufacturer {
    static constexpr std::uint8_t kFunction = fn::kVersion;
    static constexpr std::size_t kSize = 7;
    static constexpr std::array<std::uint8_t, 1> kFixed{0x44};
};
// F0 52 00 mm 64 45 w0 w1 w2 w3 00 F7.
struct VersionReply : Manufacturer {
    static constexpr std::uint8_t kFunction = fn::kVersion;
    static constexpr std::size_t kSize = 12;
    static constexpr std::array<std::uint8_t, 1> kFixed{0x45};
    static constexpr FourBytes kVersion{6};
};

// F0 52 00 mm 12 t0 t1 F7.
struct UpdatePermission : Manufacturer {
    static constexpr std::uint8_t kFunction = fn::kUpdatePermission;
    static constexpr std::size_t kSize = 8;
    static constexpr TwoGroups kUpdateType{5};
};

// F0 52 00 mm 0A a0 a1 a2 a3 a4 l0 l1 l2 l3 l4 F7.
struct Erase : Manufacturer {
    static constexpr std::uint8_t kFunction = fn::kErase;
    static constexpr std::size_t kSize = 16;
    static constexpr FiveGroups kAddress{5};
    static constexpr FiveGroups kLength{10};
};

// F0 52 00 mm 02 a0..a4 n0 n1 (n data bytes, packed) c0..c4 F7: the CRC of
// the data follows them.
struct BlockWrite : Manufacturer {
    static constexpr std::uint8_t kFunction = fn::kBlockWrite;
    static constexpr FiveGroups kAddress{5};
    static constexpr TwoGroups kLength{10};
    static constexpr int kDataOffset = 12;
    static constexpr int kOverhead = 18;    // every byte but the packed data
    static constexpr int kMaxData = 16383;  // what the length field holds
    static constexpr FiveGroups Crc(int packed) { return {kDataOffset + packed}; }
};

// F0 52 00 mm 60 04 30 00 00 n0 n1 (n data bytes, packed) c0..c4 F7.
struct ReadBack : Manufacturer {
    static constexpr std::uint8_t kFunction = fn::kReadBack;
    static constexpr std::array<std::uint8_t, 2> kFixed{0x04, 0x30};
    static constexpr TwoGroups kLength{9};
    static constexpr int kDataOffset = 11;
    static constexpr FiveGroups Crc(int packed) { return {kDataOffset + packed}; }
};

// Whether the message carries the fixed bytes of M.
template <typename M>
bool HasFixed(midi::ByteView m) {
    return static_cast<std::size_t>(kFixedOffset) + M::kFixed.size() < m.size() &&
           std::equal(M::kFixed.begin(), M::kFixed.end(), m.begin() + kFixedOffset);
}

// Writes M's header, function byte and fixed bytes at the start of m.
template <typename M>
constexpr void WriteHead(std::uint8_t* m) {
    std::copy(M::kHeader.begin(), M::kHeader.end(), m);
    if constexpr (requires { M::kFunction; }) {
        m[kFunction.offset] = M::kFunction;
    }
    if constexpr (requires { M::kFixed; }) {
        std::copy(M::kFixed.begin(), M::kFixed.end(), m + kFixedOffset);
    }
}

// The whole of M: its head and F7, 00 in the model byte and in every field.
template <typename M>
constexpr std::array<std::uint8_t, M::kSize> Template() {
    std::array<std::uint8_t, M::kSize> t{};
    WriteHead<M>(t.data());
    t.back() = kSysExEnd;
    return t;
}

}  // namespace corvane::protocol
