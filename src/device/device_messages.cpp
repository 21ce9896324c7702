#include "device/device_messages.h"

#include <algorithm>

#include "protocol/message_set.h"

namespace corvane::device {

namespace {

std::uint8_t Data(std::uint8_t b) {
    return b & 0x7F;
}

template <typename M>
midi::Bytes Message() {
    static constexpr auto kTemplate = protocol::Template<M>();
    return {kTemplate.begin(), kTemplate.end()};
}

// The model byte set in a manufacturer message of kind M.
template <typename M>
midi::Bytes Message(std::uint8_t model) {
    midi::Bytes m = Message<M>();
    protocol::Write(m.data(), M::kModel, Data(model));
    return m;
}

protocol::Identity DataBytes(const std::array<std::uint8_t, 4>& bytes) {
    return {Data(bytes[0]), Data(bytes[1]), Data(bytes[2]), Data(bytes[3])};
}

}  // namespace

midi::Bytes IdentityReply(const std::array<std::uint8_t, 4>& identity,
                          const std::array<std::uint8_t, 4>& version) {
    using protocol::IdentityReply;
    midi::Bytes m = Message<IdentityReply>();
    protocol::Write(m.data(), IdentityReply::kIdentity, DataBytes(identity));
    protocol::Write(m.data(), IdentityReply::kRevision, DataBytes(version));
    return m;
}

midi::Bytes ResultMessage(std::uint8_t model, std::uint8_t status) {
    midi::Bytes m = Message<protocol::Result>(model);
    protocol::Write(m.data(), protocol::Result::kStatus, Data(status));
    return m;
}

midi::Bytes VersionReply(std::uint8_t model, const std::array<std::uint8_t, 4>& version) {
    midi::Bytes m = Message<protocol::VersionReply>(model);
    protocol::Write(m.data(), protocol::VersionReply::kVersion, DataBytes(version));
    return m;
}

midi::Bytes IdentityRequest() {
    using protocol::IdentityRequest;
    midi::Bytes m = Message<IdentityRequest>();
    protocol::Write(m.data(), IdentityRequest::kChannel, IdentityRequest::kEveryChannel);
    return m;
}

midi::Bytes Notice(std::uint8_t model, std::uint8_t function) {
    midi::Bytes m = Message<protocol::Bare>(model);
    protocol::Write(m.data(), protocol::kFunction, Data(function));
    return m;
}

midi::Bytes ReadBackReply(std::uint8_t model, midi::ByteView data, bool spoilCrc) {
    using protocol::ReadBack;
    const int n =
        static_cast<int>(std::min<std::size_t>(data.size(), protocol::BlockWrite::kMaxData));
    midi::Bytes m(static_cast<std::size_t>(ReadBack::kDataOffset + protocol::PackedLength(n)));
    protocol::WriteHead<ReadBack>(m.data());
    protocol::Write(m.data(), ReadBack::kModel, Data(model));
    protocol::Write(m.data(), ReadBack::kLength, static_cast<std::uint32_t>(n));
    const int packed = protocol::PackSevenBit(m.data() + ReadBack::kDataOffset, data.data(), n);
    std::uint32_t crc = protocol::Crc32(data.data(), static_cast<std::uint32_t>(n));
    if (spoilCrc) {
        crc ^= 1;
    }
    m.resize(m.size() + protocol::FiveGroups::kWidth);
    protocol::Write(m.data(), ReadBack::Crc(packed), crc);
    m.push_back(protocol::kSysExEnd);
    return m;
}

midi::Bytes Garbage() {
    return {0x90, 0x3C, 0x7F};
}

midi::Bytes ShortMessage() {
    const auto& header = protocol::Manufacturer::kHeader;
    return {header.begin(), header.begin() + protocol::Manufacturer::kModel.offset};
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
