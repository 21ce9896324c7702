#include "device/device_model.h"

#include <algorithm>

#include "device/device_messages.h"
#include "protocol/message_set.h"

namespace corvane::device {

namespace {

// What a MIDI parser hands on as one System Exclusive message, long enough to
// be one of the set. Anything else the device never sees as a request.
bool WellFramed(midi::ByteView m) {
    return m.size() >= protocol::kShortestMessage && protocol::Whole(m);
}

}  // namespace

DeviceModel::DeviceModel(DeviceConfig config)
    : m_config(std::move(config)), m_random(m_config.seed) {
    m_flash.resize(std::min(m_config.flashSize, kMaxFlashSize));
    for (std::uint32_t a = 0; a < m_flash.size(); ++a) {
        m_flash[a] = OldFirmwareByte(a);
    }
}

std::uint8_t DeviceModel::OldFirmwareByte(std::uint32_t address) {
    return static_cast<std::uint8_t>((address * 7u + (address >> 11)) % 255u);
}

Response DeviceModel::Handle(midi::ByteView m) {
    Record("> ", m);
    const Kind kind = Classify(m);
    if (kind.unknown) {
        ++m_counters.unknown;
        Response refusal;
        refusal.messages.push_back(
            {ResultMessage(ModelByte(), protocol::kStatusFailed), Millis{0}});
        Record("< ", refusal.messages.front().message);
        return refusal;
    }
    if (!kind.request) {
        ++m_counters.ignored;
        return {};
    }
    const RequestKind request = *kind.request;
    const int nth = ++m_counters.requests[IndexOf(request)];
    Faults faults = FaultsFor(request, nth);

    Response response;
    for (auto& message : faults.before) {
        response.messages.push_back({std::move(message), Millis{0}});
    }
    std::optional<midi::Bytes> answer;
    if (faults.vanish) {
        response.vanishFor = faults.away;
    } else if (faults.refuse) {
        answer = ResultMessage(ModelByte(), faults.status);
    } else {
        answer = Answer(request, m, response);
    }
    if (answer && faults.corrupt && protocol::Carries(*answer, protocol::Result::kStatus)) {
        protocol::Write(answer->data(), protocol::Result::kStatus, *faults.corrupt);
    }
    const Millis late = std::max(faults.delay, faults.busy);
    response.busyFor = faults.busy;
    if (answer && !faults.drop) {
        if (faults.duplicate) {
            response.messages.push_back({*answer, late});
        }
        response.messages.push_back({std::move(*answer), late});
    }
    if (!faults.vanish) {
        for (auto& message : faults.after) {
            response.messages.push_back({std::move(message), late});
        }
    }
    for (const auto& out : response.messages) {
        Record("< ", out.message);
    }
    return response;
}

DeviceModel::Kind DeviceModel::Classify(midi::ByteView m) {
    if (!WellFramed(m)) {
        return {};
    }
    using protocol::Read;
    if (Read(m, protocol::kSender) == protocol::kUniversalNonRealTime) {
        if (Read(m, protocol::GeneralInformationMessage::kSubId) == protocol::kGeneralInformation &&
            Read(m, protocol::kFunction) == protocol::IdentityRequest::kFunction) {
            return {RequestKind::kIdentity};
        }
        return {};
    }
    if (Read(m, protocol::kSender) != protocol::kManufacturerId) {
        return {};
    }
    switch (Read(m, protocol::kFunction)) {
        case protocol::fn::kResult:
            // The updater's acknowledgements of the device's own messages.
            return {};
        case protocol::fn::kOpening:
            return {RequestKind::kOpening};
        case protocol::fn::kUpdatePermission:
            return {RequestKind::kPermission};
        case protocol::fn::kPrepare:
            return {RequestKind::kPrepare};
        case protocol::fn::kErase:
            return {RequestKind::kErase};
        case protocol::fn::kBlockWrite:
            return {RequestKind::kBlockWrite};
        case protocol::fn::kClosing:
            return {RequestKind::kClosing};
        case protocol::fn::kVersion:
            if (protocol::HasFixed<protocol::VersionQuery>(m)) {
                return {RequestKind::kVersion};
            }
            break;
        default:
            break;
    }
    return {std::nullopt, true};
}

DeviceModel::Faults DeviceModel::FaultsFor(RequestKind kind, int nth) {
    Faults faults;
    for (const Fault& f : m_config.faults) {
        if (f.request != kind) {
            continue;
        }
        bool hit = false;
        if (f.share > 0.0) {
            // 24 bits of the generator give the same draws on every platform.
            hit = static_cast<double>(m_random() >> 8) / 16777216.0 < f.share;
        } else {
            hit = nth >= f.nth && nth - f.nth < f.times;
        }
        if (!hit) {
            continue;
        }
        switch (f.action) {
            case FaultAction::kRefuse:
                faults.refuse = true;
                faults.status = f.status;
                break;
            case FaultAction::kDrop:
                faults.drop = true;
                break;
            case FaultAction::kDelay:
                faults.delay = std::max(faults.delay, f.duration);
                break;
            case FaultAction::kBusy:
                faults.busy = std::max(faults.busy, f.duration);
                break;
            case FaultAction::kDuplicate:
                faults.duplicate = true;
                break;
            case FaultAction::kCorrupt:
                faults.corrupt = f.status;
                break;
            case FaultAction::kSendBefore:
                faults.before.insert(faults.before.end(), f.messages.begin(), f.messages.end());
                break;
            case FaultAction::kSendAfter:
                faults.after.insert(faults.after.end(), f.messages.begin(), f.messages.end());
                break;
            case FaultAction::kVanish:
                faults.vanish = true;
                faults.away = f.duration;
                break;
        }
    }
    return faults;
}

midi::Bytes DeviceModel::Answer(RequestKind kind, midi::ByteView m, Response& response) {
    const std::uint8_t model = ModelByte();
    switch (kind) {
        case RequestKind::kIdentity:
            return IdentityReply(m_config.identity, m_config.version);
        case RequestKind::kVersion:
            if (m.size() != protocol::VersionQuery::kSize) {
                return ResultMessage(model, protocol::kStatusFailed);
            }
            return VersionReply(model, m_config.version);
        case RequestKind::kPermission:
            return ResultMessage(model, Permission(m));
        case RequestKind::kErase:
            return ResultMessage(model, Erase(m));
        case RequestKind::kBlockWrite:
            return ResultMessage(model, Write(m));
        case RequestKind::kPrepare: {
            if (m.size() != protocol::Prepare::kSize) {
                return ResultMessage(model, protocol::kStatusFailed);
            }
            if (m_inUpdateMode) {
                return ResultMessage(model, kPrepareReady);
            }
            if (m_config.prepareStatus == kPrepareRestart) {
                m_inUpdateMode = true;
                response.vanishFor = m_config.restartDelay;
            }
            return ResultMessage(model, m_config.prepareStatus);
        }
        case RequestKind::kOpening:
        case RequestKind::kClosing:
            break;
    }
    // Opening and closing requests carry nothing but their function byte.
    return ResultMessage(
        model, m.size() == protocol::Bare::kSize ? protocol::kStatusOk : protocol::kStatusFailed);
}

std::uint8_t DeviceModel::Permission(midi::ByteView m) const {
    if (m.size() != protocol::UpdatePermission::kSize) {
        return protocol::kStatusFailed;
    }
    if (!m_config.permittedTypes) {
        return protocol::kStatusOk;
    }
    const std::uint32_t type = protocol::Read(m, protocol::UpdatePermission::kUpdateType);
    const auto& types = *m_config.permittedTypes;
    return std::find(types.begin(), types.end(), type) != types.end() ? protocol::kStatusOk
                                                                      : protocol::kStatusFailed;
}

std::uint8_t DeviceModel::Erase(midi::ByteView m) {
    if (m.size() != protocol::Erase::kSize) {
        return protocol::kStatusFailed;
    }
    const std::uint64_t address = protocol::Read(m, protocol::Erase::kAddress);
    const std::uint64_t length = protocol::Read(m, protocol::Erase::kLength);
    if (address + length > m_flash.size()) {
        return protocol::kStatusFailed;
    }
    const auto first = m_flash.begin() + static_cast<std::ptrdiff_t>(address);
    std::fill(first, first + static_cast<std::ptrdiff_t>(length), std::uint8_t{0xFF});
    return protocol::kStatusOk;
}

std::uint8_t DeviceModel::Write(midi::ByteView m) {
    using protocol::BlockWrite;
    if (m.size() < static_cast<std::size_t>(BlockWrite::kOverhead)) {
        return protocol::kStatusFailed;
    }
    const int n = static_cast<int>(protocol::Read(m, BlockWrite::kLength));
    const int packed = protocol::PackedLength(n);
    if (m.size() != static_cast<std::size_t>(BlockWrite::kOverhead + packed)) {
        return protocol::kStatusFailed;
    }
    const std::uint64_t address = protocol::Read(m, BlockWrite::kAddress);
    if (address + static_cast<std::uint64_t>(n) > m_flash.size()) {
        return protocol::kStatusFailed;
    }
    midi::Bytes data(static_cast<std::size_t>(n));
    protocol::UnpackSevenBit(data.data(), m.data() + BlockWrite::kDataOffset, packed);
    const std::uint32_t crc = protocol::Read(m, BlockWrite::Crc(packed));
    if (protocol::Crc32(data.data(), static_cast<std::uint32_t>(n)) != crc) {
        return protocol::kStatusFailed;
    }
    const auto region = m_flash.begin() + static_cast<std::ptrdiff_t>(address);
    const auto regionEnd = region + n;
    const bool erased = std::all_of(region, regionEnd, [](std::uint8_t b) { return b == 0xFF; });
    // A block sent again after its answer came late already stands in flash;
    // taking it again is what lets the updater's retry succeed.
    const bool alreadyWritten = std::equal(data.begin(), data.end(), region);
    if (!erased && !alreadyWritten) {
        return protocol::kStatusFailed;
    }
    std::copy(data.begin(), data.end(), region);
    return protocol::kStatusOk;
}

void DeviceModel::Record(const char* direction, midi::ByteView m) {
    if (m_config.keepTranscript) {
        m_transcript.push_back(direction + ToHex(m));
    }
}

}  // namespace corvane::device
