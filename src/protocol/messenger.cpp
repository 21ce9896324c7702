#include "protocol/messenger.h"

#include <algorithm>

#include "protocol/sysex.h"

namespace corvane::protocol {

Messenger::Messenger(midi::CDxMidiOut& midiOut)
    : m_midiOut(midiOut), m_outgoing(kOutgoingBufferSize, 0) {}

int Messenger::SendSysEx(const std::uint8_t* message, int length) {
    if (message == nullptr || length <= 0) {
        return -1;
    }
    midi::MidiHeader header;
    header.data = message;
    header.bufferLength = static_cast<std::uint32_t>(length);
    header.flags = 0;
    return m_midiOut.SendLongMessage(header) == 1 ? 0 : -1;
}

template <std::size_t N, typename Fill>
int Messenger::SendTemplate(const std::array<std::uint8_t, N>& tmpl, Fill fill) {
    const std::uint8_t model = ModelByte();
    std::lock_guard lock(m_sendMutex);
    std::copy(tmpl.begin(), tmpl.end(), m_outgoing.begin());
    m_outgoing[kModelByteOffset] = model;
    const int length = fill(m_outgoing.data());
    return SendSysEx(m_outgoing.data(), length);
}

int Messenger::SendResult(std::uint8_t status) {
    return SendTemplate(kResultTemplate, [&](std::uint8_t* buf) {
        buf[5] = status;
        return static_cast<int>(kResultTemplate.size());
    });
}

int Messenger::SendBlockWrite(std::uint8_t modelByte, const std::uint8_t* data,
                              std::uint32_t address, int length) {
    if (length < 0 || length > kMaxBlockData || (length > 0 && data == nullptr)) {
        return -1;
    }
    std::lock_guard lock(m_sendMutex);
    std::uint8_t* buf = m_outgoing.data();
    std::copy(kBlockWriteHeader.begin(), kBlockWriteHeader.end(), buf);
    buf[kModelByteOffset] = modelByte;
    EncodeFiveGroups(buf + kBlockAddressOffset, address);
    EncodeTwoGroups(buf + kBlockLengthOffset, static_cast<std::uint32_t>(length));
    const int packed = PackSevenBit(buf + kBlockDataOffset, data, length);
    EncodeFiveGroups(buf + kBlockDataOffset + packed,
                     Crc32(data, static_cast<std::uint32_t>(length)));
    buf[kBlockOverhead - 1 + packed] = kSysExEnd;
    return SendSysEx(buf, kBlockOverhead + packed);
}

int Messenger::SendEraseRequest(std::uint8_t modelByte, std::uint32_t address,
                                std::uint32_t length) {
    std::lock_guard lock(m_sendMutex);
    std::uint8_t* buf = m_outgoing.data();
    std::copy(kEraseTemplate.begin(), kEraseTemplate.end(), buf);
    buf[kModelByteOffset] = modelByte;
    EncodeFiveGroups(buf + 5, address);
    EncodeFiveGroups(buf + 10, length);
    return SendSysEx(buf, static_cast<int>(kEraseTemplate.size()));
}

int Messenger::SendIdentityRequest() {
    return SendSysEx(kIdentityRequest.data(), static_cast<int>(kIdentityRequest.size()));
}

int Messenger::SendIdentityReply() {
    auto reply = kIdentityReplyTemplate;
    const Identity identity = IdentityReplyIdentity();
    std::copy(identity.begin(), identity.end(), reply.begin() + kIdentityOffset);
    return SendSysEx(reply.data(), static_cast<int>(reply.size()));
}

int Messenger::SendOpeningRequest() {
    return SendTemplate(kOpeningTemplate,
                        [](std::uint8_t*) { return static_cast<int>(kOpeningTemplate.size()); });
}

int Messenger::SendVersionQuery() {
    return SendTemplate(kVersionQueryTemplate, [](std::uint8_t*) {
        return static_cast<int>(kVersionQueryTemplate.size());
    });
}

int Messenger::SendUpdatePermission(std::uint32_t updateType) {
    return SendTemplate(kUpdatePermissionTemplate, [&](std::uint8_t* buf) {
        EncodeTwoGroups(buf + 5, updateType);
        return static_cast<int>(kUpdatePermissionTemplate.size());
    });
}

int Messenger::SendPrepareRequest() {
    return SendTemplate(kPrepareTemplate,
                        [](std::uint8_t*) { return static_cast<int>(kPrepareTemplate.size()); });
}

int Messenger::SendClosingRequest() {
    return SendTemplate(kClosingTemplate,
                        [](std::uint8_t*) { return static_cast<int>(kClosingTemplate.size()); });
}

Identity Messenger::DeviceIdentityCopy() const {
    std::lock_guard lock(m_identityMutex);
    return m_identityCopy;
}

std::uint8_t Messenger::ModelByte() const {
    std::lock_guard lock(m_identityMutex);
    return m_identityCopy[0];
}

void Messenger::SetDeviceIdentityCopy(const Identity& identity) {
    std::lock_guard lock(m_identityMutex);
    m_identityCopy = identity;
}

void Messenger::SetIdentityReplyIdentity(const Identity& identity) {
    std::lock_guard lock(m_identityMutex);
    m_replyIdentity = identity;
}

Identity Messenger::IdentityReplyIdentity() const {
    std::lock_guard lock(m_identityMutex);
    return m_replyIdentity;
}

}  // namespace corvane::protocol
