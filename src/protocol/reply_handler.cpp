#include "protocol/reply_handler.h"

namespace corvane::protocol {

ReplyHandler::ReplyHandler(midi::CDxMidiIn& midiIn, Messenger& messenger, Clock& clock)
    : m_midiIn(midiIn), m_messenger(messenger), m_ledger(clock) {}

void ReplyHandler::OnReplyTimer(std::uint32_t, std::uint32_t, std::uintptr_t user, std::uintptr_t,
                                std::uintptr_t) {
    reinterpret_cast<ReplyHandler*>(user)->ProcessReplies();
}

void ReplyHandler::ProcessReplies() {
    for (;;) {
        const midi::ByteView m = m_midiIn.GetFirstMessage();
        if (m.empty()) {
            return;
        }
        Dispatch(m);
        m_midiIn.RemoveFirstMessage();
    }
}

void ReplyHandler::Dispatch(midi::ByteView m) {
    if (!Whole(m)) {
        return;
    }
    if (Read(m, kSender) == kManufacturerId) {
        HandleManufacturer(m);
    } else if (Read(m, kSender) == kUniversalNonRealTime) {
        HandleGeneralInformation(m);
    }
}

void ReplyHandler::HandleManufacturer(midi::ByteView m) {
    if (!Carries(m, kFunction)) {
        return;
    }
    switch (Read(m, kFunction)) {
        case fn::kResult:
            if (Carries(m, Result::kStatus)) {
                m_ledger.Record(Read(m, Result::kStatus), ReplyKind::kResult);
            }
            break;
        case fn::kPrepare:
        case fn::kClosing:
        case fn::kNotice05:
            m_messenger.SendResult(kStatusOk);
            break;
        case fn::kBlockWrite:
            m_ledger.Record(kStatusOk, ReplyKind::kResult);
            break;
        case fn::kNotice03:
            break;
        case fn::kReadBack:
            HandleReadBack(m);
            break;
        case fn::kVersion:
            if (Carries(m, VersionReply::kVersion) && HasFixed<VersionReply>(m)) {
                {
                    std::lock_guard lock(m_dataMutex);
                    m_deviceVersion = Read(m, VersionReply::kVersion);
                }
                m_ledger.Record(kStatusOk, ReplyKind::kVersion);
            }
            break;
        default:
            m_messenger.SendResult(kStatusFailed);
            break;
    }
}

void ReplyHandler::HandleGeneralInformation(midi::ByteView m) {
    if (!Carries(m, kFunction) ||
        Read(m, GeneralInformationMessage::kSubId) != kGeneralInformation) {
        return;
    }
    switch (Read(m, kFunction)) {
        case IdentityRequest::kFunction:
            m_messenger.SendIdentityReply();
            break;
        case IdentityReply::kFunction:
            if (Carries(m, IdentityReply::kIdentity)) {
                {
                    std::lock_guard lock(m_dataMutex);
                    m_deviceIdentity = Read(m, IdentityReply::kIdentity);
                }
                m_ledger.Record(kStatusOk, ReplyKind::kIdentity);
            }
            break;
        default:
            m_messenger.SendResult(kStatusFailed);
            break;
    }
}

// No request of the updater asks for read-back data, so a read-back reply
// never ends a wait: counted as a reply it would be taken for the answer to
// whatever request is waiting. Its data are kept when their CRC holds.
void ReplyHandler::HandleReadBack(midi::ByteView m) {
    if (!Carries(m, ReadBack::kLength) || !HasFixed<ReadBack>(m)) {
        return;
    }
    const int n = static_cast<int>(Read(m, ReadBack::kLength));
    const int packed = PackedLength(n);
    if (!Carries(m, ReadBack::Crc(packed))) {
        return;
    }
    std::lock_guard lock(m_dataMutex);
    // Data that would run past the store are refused like a bad CRC.
    if (m_readBackPosition + static_cast<std::size_t>(n) > kReadBackCapacity) {
        return;
    }
    // The store grows as data come: hardly a device sends any, and a window
    // of its own for each device should not cost a megabyte up front.
    if (m_readBack.size() < m_readBackPosition + static_cast<std::size_t>(n)) {
        m_readBack.resize(m_readBackPosition + static_cast<std::size_t>(n));
    }
    std::uint8_t* at = m_readBack.data() + m_readBackPosition;
    UnpackSevenBit(at, m.data() + ReadBack::kDataOffset, packed);
    const std::uint32_t crc = Crc32(at, static_cast<std::uint32_t>(n));
    if (crc == Read(m, ReadBack::Crc(packed))) {
        m_readBackPosition += static_cast<std::size_t>(n);
    }
}

void ReplyHandler::Abandon() {
    m_ledger.Abandon();
}

int ReplyHandler::Status() const {
    return m_ledger.Abandoned() ? kStatusAbandon : m_ledger.Last().status;
}

Identity ReplyHandler::DeviceIdentity() const {
    std::lock_guard lock(m_dataMutex);
    return m_deviceIdentity;
}

Identity ReplyHandler::DeviceVersion() const {
    std::lock_guard lock(m_dataMutex);
    return m_deviceVersion;
}

std::size_t ReplyHandler::ReadBackPosition() const {
    std::lock_guard lock(m_dataMutex);
    return m_readBackPosition;
}

std::vector<std::uint8_t> ReplyHandler::ReadBackData() const {
    std::lock_guard lock(m_dataMutex);
    return {m_readBack.begin(),
            m_readBack.begin() + static_cast<std::ptrdiff_t>(m_readBackPosition)};
}

}  // namespace corvane::protocol
