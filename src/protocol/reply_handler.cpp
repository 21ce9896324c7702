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

void ReplyHandler::Dispatch(midi::ByteView m) {
    if (m.size() < 2 || m[0] != kSysExStart) {
        return;
    }
    if (m[1] == kManufacturerId) {
        HandleManufacturer(m);
    } else if (m[1] == kUniversalNonRealTime) {
        HandleGeneralInformation(m);
    }
}

void ReplyHandler::HandleManufacturer(midi::ByteView m) {
    if (m.size() <= kFunctionOffset) {
        return;
    }
    switch (m[kFunctionOffset]) {
        case fn::kResult:
            if (m.size() > 5) {
                SetStatus(m[5]);
                m_replyEvent.Set();
            }
            break;
        case fn::kPrepare:
        case fn::kClosing:
        case fn::kNotice05:
            m_messenger.SendResult(kAck);
            break;
        case fn::kBlockWrite:
            SetStatus(kStatusOk);
            m_replyEvent.Set();
            break;
        case fn::kNotice03:
            break;
        case fn::kReadBack:
            HandleReadBack(m);
            break;
        case fn::kVersion:
            if (m.size() > 9 && m[5] == kVersionReplySubCode) {
                {
                    std::lock_guard lock(m_dataMutex);
                    std::copy_n(m.begin() + 6, 4, m_deviceVersion.begin());
                }
                SetStatus(kStatusOk);
                m_replyEvent.Set();
            }
            break;
        default:
            m_messenger.SendResult(kRefuse);
            break;
    }
}

void ReplyHandler::HandleGeneralInformation(midi::ByteView m) {
    if (m.size() <= kFunctionOffset || m[3] != kGeneralInformation) {
        return;
    }
    switch (m[kFunctionOffset]) {
        case 0x01:
            m_messenger.SendIdentityReply();
            break;
        case 0x02:
            if (m.size() > 9) {
                SetStatus(kStatusOk);
                {
                    std::lock_guard lock(m_dataMutex);
                    std::copy_n(m.begin() + kIdentityOffset, 4, m_deviceIdentity.begin());
                }
                m_replyEvent.Set();
            }
            break;
        default:
            m_messenger.SendResult(kRefuse);
            break;
    }
}

void ReplyHandler::HandleReadBack(midi::ByteView m) {
    if (m.size() <= 5) {
        return;
    }
    if (m[5] == 0x04) {
        if (m.size() <= 6) {
            return;
        }
        if (m[6] == 0x30) {
            if (m.size() <= kReadBackLengthOffset + 1) {
                return;
            }
            const int n = m[kReadBackLengthOffset] + 128 * m[kReadBackLengthOffset + 1];
            const int packed = ReadBackPackedLength(n);
            const std::size_t needed = kReadBackDataOffset + static_cast<std::size_t>(packed) + 5;
            if (m.size() < needed) {
                return;
            }
            SetStatus(kStatusFailed);
            std::lock_guard lock(m_dataMutex);
            // Data that would run past the store is refused like a bad CRC.
            if (m_readBackPosition + static_cast<std::size_t>(n) <= m_readBack.size()) {
                std::uint8_t* at = m_readBack.data() + m_readBackPosition;
                UnpackSevenBit(at, m.data() + kReadBackDataOffset, packed);
                const std::uint32_t crc = Crc32(at, static_cast<std::uint32_t>(n));
                if (crc == DecodeFiveGroups(m.data() + kReadBackDataOffset + packed)) {
                    m_readBackPosition += static_cast<std::size_t>(n);
                    SetStatus(kStatusOk);
                }
            }
        } else {
            SetStatus(kStatusFailed);
        }
    }
    m_replyEvent.Set();
}

void ReplyHandler::Abandon() {
    m_replyStatus.store(kStatusAbandon);
    m_replyEvent.Set();
}

void ReplyHandler::SetStatus(int status) {
    // Once abandoned, no device message brings the run back.
    int current = m_replyStatus.load();
    while (current != kStatusAbandon && !m_replyStatus.compare_exchange_weak(current, status)) {
    }
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
