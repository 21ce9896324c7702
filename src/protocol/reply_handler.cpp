#include "protocol/reply_handler.h"

#include <algorithm>

#include "protocol/sysex.h"

namespace corvane::protocol {

ReplyHandler::ReplyHandler(midi::CDxMidiIn& midiIn, Messenger& messenger)
    : m_midiIn(midiIn), m_messenger(messenger), m_readBack(kReadBackCapacity, 0) {}

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

namespace {

// F0, data bytes, F7: what the device sends as one message. A byte of 0x80 or
// more inside, or a missing F7 (a message cut short, or a piece of one longer
// than a receive buffer), and nothing in it can be trusted.
bool Whole(midi::ByteView m) {
    return m.size() >= 2 && m.front() == kSysExStart && m.back() == kSysExEnd &&
           std::all_of(m.begin() + 1, m.end() - 1, [](std::uint8_t b) { return b < 0x80; });
}

// Whether the message carries a byte at `offset` before its F7.
bool Has(midi::ByteView m, std::size_t offset) {
    return offset + 1 < m.size();
}

}  // namespace

void ReplyHandler::Dispatch(midi::ByteView m) {
    if (!Whole(m)) {
        return;
    }
    if (m[1] == kManufacturerId) {
        HandleManufacturer(m);
    } else if (m[1] == kUniversalNonRealTime) {
        HandleGeneralInformation(m);
    }
}

void ReplyHandler::HandleManufacturer(midi::ByteView m) {
    if (!Has(m, kFunctionOffset)) {
        return;
    }
    switch (m[kFunctionOffset]) {
        case fn::kResult:
            if (Has(m, 5)) {
                m_ledger.Record(m[5], ReplyKind::kResult);
            }
            break;
        case fn::kPrepare:
        case fn::kClosing:
        case fn::kNotice05:
            m_messenger.SendResult(kAck);
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
            if (Has(m, 9) && m[5] == kVersionReplySubCode) {
                {
                    std::lock_guard lock(m_dataMutex);
                    std::copy_n(m.begin() + 6, 4, m_deviceVersion.begin());
                }
                m_ledger.Record(kStatusOk, ReplyKind::kVersion);
            }
            break;
        default:
            m_messenger.SendResult(kRefuse);
            break;
    }
}

void ReplyHandler::HandleGeneralInformation(midi::ByteView m) {
    if (!Has(m, kFunctionOffset) || m[3] != kGeneralInformation) {
        return;
    }
    switch (m[kFunctionOffset]) {
        case 0x01:
            m_messenger.SendIdentityReply();
            break;
        case 0x02:
            if (Has(m, kIdentityOffset + 3)) {
                {
                    std::lock_guard lock(m_dataMutex);
                    std::copy_n(m.begin() + kIdentityOffset, 4, m_deviceIdentity.begin());
                }
                m_ledger.Record(kStatusOk, ReplyKind::kIdentity);
            }
            break;
        default:
            m_messenger.SendResult(kRefuse);
            break;
    }
}

// No request of the updater asks for read-back data, so a read-back reply
// never ends a wait: counted as a reply it would be taken for the answer to
// whatever request is waiting. Its data are kept when their CRC holds.
void ReplyHandler::HandleReadBack(midi::ByteView m) {
    if (!Has(m, kReadBackLengthOffset + 1) || m[5] != 0x04 || m[6] != 0x30) {
        return;
    }
    const int n = m[kReadBackLengthOffset] + 128 * m[kReadBackLengthOffset + 1];
    const int packed = ReadBackPackedLength(n);
    if (!Has(m, kReadBackDataOffset + static_cast<std::size_t>(packed) + 4)) {
        return;
    }
    std::lock_guard lock(m_dataMutex);
    // Data that would run past the store are refused like a bad CRC.
    if (m_readBackPosition + static_cast<std::size_t>(n) > m_readBack.size()) {
        return;
    }
    std::uint8_t* at = m_readBack.data() + m_readBackPosition;
    UnpackSevenBit(at, m.data() + kReadBackDataOffset, packed);
    const std::uint32_t crc = Crc32(at, static_cast<std::uint32_t>(n));
    if (crc == DecodeFiveGroups(m.data() + kReadBackDataOffset + packed)) {
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
