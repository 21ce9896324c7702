#include "protocol/messenger.h"

#include <algorithm>

namespace corvane::protocol {

Messenger::Messenger(midi::CDxMidiOut& midiOut)
    : m_midiOut(midiOut), m_outgoing(kOutgoingBufferSize, 0) {}

int Messenger::SendSysEx(const std::uint8_t* message, int length) {
    if (message == nullptr || length <= 0) {
        return -1;
    }
    const midi::MidiHeader header{message, static_cast<std::uint32_t>(length)};
    return m_midiOut.SendLongMessage(header) == 1 ? 0 : -1;
}

template <typename M, typename Fill>
int Messenger::SendTemplate(Fill fill) {
    static constexpr auto kTemplate = Template<M>();
    const std::uint8_t model = ModelByte();
    std::lock_guard lock(m_sendMutex);
    std::copy(kTemplate.begin(), kTemplate.end(), m_outgoing.begin());
    Write(m_outgoing.data(), M::kModel, model);
    fill(m_outgoing.data());
    return SendSysEx(m_outgoing.data(), static_cast<int>(kTemplate.size()));
}

int Messenger::SendResult(std::uint8_t status) {
    return SendTemplate<Result>([&](std::uint8_t* buf) { Write(buf, Result::kStatus, status); });
}

int Messenger::SendBlockWrite(const std::uint8_t* data, std::uint32_t address, int length) {
    if (length < 0 || length > BlockWrite::kMaxData || (length > 0 && data == nullptr)) {
        return -1;
    }
    const std::uint8_t model = ModelByte();
    std::lock_guard lock(m_sendMutex);
    std::uint8_t* buf = m_outgoing.data();
    WriteHead<BlockWrite>(buf);
    Write(buf, BlockWrite::kModel, model);
    Write(buf, BlockWrite::kAddress, address);
    Write(buf, BlockWrite::kLength, static_cast<std::uint32_t>(length));
    const int packed = PackSevenBit(buf + BlockWrite::kDataOffset, data, length);
    Write(buf, BlockWrite::Crc(packed), Crc32(data, static_cast<std::uint32_t>(length)));
    buf[BlockWrite::kOverhead - 1 + packed] = kSysExEnd;
    return SendSysEx(buf, BlockWrite::kOverhead + packed);
}

int Messenger::SendEraseRequest(std::uint32_t address, std::uint32_t length) {
    return SendTemplate<Erase>([&](std::uint8_t* buf) {
        Write(buf, Erase::kAddress, address);
        Write(buf, Erase::kLength, length);
    });
}

int Messenger::SendIdentityRequest() {
    static constexpr auto kRequest = Template<IdentityRequest>();
    return SendSysEx(kRequest.data(), static_cast<int>(kRequest.size()));
}

int Messenger::SendIdentityReply() {
    auto reply = Template<IdentityReply>();
    Write(reply.data(), IdentityReply::kIdentity, IdentityReplyIdentity());
    Write(reply.data(), IdentityReply::kRevision, kUpdaterRevision);
    return SendSysEx(reply.data(), static_cast<int>(reply.size()));
}

int Messenger::SendOpeningRequest() {
    return SendTemplate<Opening>();
}

int Messenger::SendVersionQuery() {
    return SendTemplate<VersionQuery>();
}

int Messenger::SendUpdatePermission(std::uint32_t updateType) {
    return SendTemplate<UpdatePermission>(
        [&](std::uint8_t* buf) { Write(buf, UpdatePermission::kUpdateType, updateType); });
}

int Messenger::SendPrepareRequest() {
    return SendTemplate<Prepare>();
}

int Messenger::SendClosingRequest() {
    return SendTemplate<Closing>();
}

std::uint8_t Messenger::ModelByte() const {
    std::lock_guard lock(m_identityMutex);
    return m_identityCopy[kIdentityModelByte];
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
