#include "update/update_procedure.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "image/builtin_image.h"
#include "image/firmware_image.h"

namespace corvane::update {

namespace {

constexpr int kBlockSize = 4096;
constexpr int kEraseRetries = 6;   // a region is asked to be erased at most 7 times
constexpr int kBlockRetries = 31;  // a block is sent at most 32 times
constexpr int kEraseProgressRange = 10;

// Whatever the port said: a request that did not go out shows as the time-out
// of its wait, and a reply that comes all the same is still in step.
bool SentAnyway(int) {
    return true;
}

}  // namespace

UpdateProcedure::UpdateProcedure(UpdateHost& host, protocol::Messenger& messenger,
                                 protocol::ReplyHandler& replies, const Timing& timing,
                                 ImageSource image)
    : m_host(host),
      m_messenger(messenger),
      m_replies(replies),
      m_timing(timing),
      m_image(std::move(image)) {}

template <typename Send>
UpdateProcedure::Outcome UpdateProcedure::Request(Send send, Millis timeout,
                                                  protocol::ReplyKind asked) {
    using End = protocol::ReplyLedger::End;
    const protocol::ReplyLedger& ledger = m_replies.Ledger();
    if (Abandoned()) {
        return Outcome::kAbandoned;
    }
    // A reply that came while none was owed cannot be told from this
    // request's own.
    if (ledger.Last().number != m_expected) {
        return Outcome::kUnmatched;
    }
    if (!send()) {
        return Outcome::kNotSent;
    }
    ++m_requestsSent;
    ++m_expected;
    protocol::ReplyLedger::Snapshot wait = ledger.WaitFor(m_expected, timeout);
    if (wait.end == End::kTimedOut) {
        // The reply may still be on its way; were it left standing, it would
        // be taken for the next request's. Drop it if it comes in time, else
        // give it up.
        wait = ledger.WaitFor(m_expected, m_timing.lateReplyWait);
        if (wait.end == End::kTimedOut) {
            --m_expected;
            ++m_givenUp;
            return Outcome::kTimedOut;
        }
        if (wait.end == End::kReached && wait.last.number == m_expected) {
            return Outcome::kTimedOut;
        }
    }
    if (wait.end == End::kAbandoned) {
        return Outcome::kAbandoned;
    }
    // More replies than requests, or an identity or version reply where
    // neither was asked for: the replies are no longer in step with the
    // requests.
    if (wait.last.number != m_expected ||
        (wait.last.kind != protocol::ReplyKind::kResult && wait.last.kind != asked)) {
        return Outcome::kUnmatched;
    }
    m_reply = wait.last;
    return Outcome::kReply;
}

UpdateProcedure::Outcome UpdateProcedure::Pause(Millis duration) {
    const protocol::ReplyLedger::Snapshot wait =
        m_replies.Ledger().WaitFor(m_expected + 1, duration);
    switch (wait.end) {
        case protocol::ReplyLedger::End::kAbandoned:
            return Outcome::kAbandoned;
        case protocol::ReplyLedger::End::kReached:
            return Outcome::kUnmatched;
        case protocol::ReplyLedger::End::kTimedOut:
            break;
    }
    return Outcome::kQuiet;
}

void UpdateProcedure::Fail(StringId text) {
    m_host.EndWithError(text);
}

void UpdateProcedure::FailOn(Outcome outcome, StringId timeoutText) {
    switch (outcome) {
        case Outcome::kAbandoned:
            return;
        case Outcome::kUnmatched:
            Fail(IDS_TRANSFER_ERROR);
            return;
        case Outcome::kTimedOut:
        case Outcome::kNotSent:
        case Outcome::kReply:
        case Outcome::kQuiet:
            Fail(timeoutText);
            return;
    }
}

bool UpdateProcedure::LoadImage(std::size_t& size) {
    if (m_imageBuffer.size() != image::kImageBufferSize) {
        m_imageBuffer.assign(image::kImageBufferSize, 0);
    } else {
        std::fill(m_imageBuffer.begin(), m_imageBuffer.end(), 0);
    }
    const std::span<const std::uint8_t> bytes = m_image ? m_image() : image::BuiltinImage();
    // An image larger than the buffer counts as no image at all; the check
    // then refuses it.
    size = bytes.size() <= m_imageBuffer.size() ? bytes.size() : 0;
    std::copy_n(bytes.begin(), size, m_imageBuffer.begin());
    return size > 0;
}

void UpdateProcedure::Run() {
    using protocol::ReplyKind;
    // Replies that came between runs answer nothing of this one.
    m_expected = m_replies.Ledger().Last().number;
    m_givenUp = 0;

    // 1-3: identify the device.
    Outcome outcome = Request([this] { return m_messenger.SendIdentityRequest() == 0; },
                              m_timing.identityWait, ReplyKind::kIdentity);
    if (outcome == Outcome::kNotSent) {
        Fail(IDS_CANT_OPEN_MIDI_OUT);
        return;
    }
    if (outcome != Outcome::kReply) {
        FailOn(outcome, IDS_TIMEOUT_1);
        return;
    }
    if (m_reply.kind != ReplyKind::kIdentity || m_reply.status != protocol::kStatusOk) {
        Fail(IDS_ILLEGAL_DEVICE);
        return;
    }
    const protocol::Identity identity = m_replies.DeviceIdentity();
    m_messenger.SetDeviceIdentityCopy(identity);

    // 4-5: only the known devices.
    if (std::find(kAcceptedIdentities.begin(), kAcceptedIdentities.end(), identity) ==
        kAcceptedIdentities.end()) {
        Fail(IDS_ILLEGAL_DEVICE);
        return;
    }
    m_messenger.SetIdentityReplyIdentity(identity);

    // 6: open the conversation.
    outcome = Request([this] { return SentAnyway(m_messenger.SendOpeningRequest()); },
                      m_timing.openingWait, ReplyKind::kResult);
    if (outcome != Outcome::kReply) {
        FailOn(outcome, IDS_TIMEOUT_1);
        return;
    }
    if (m_reply.status != protocol::kStatusOk) {
        Fail(IDS_TRANSFER_ERROR);
        return;
    }

    // 7-9: load the image, learn the device's version, check the image.
    std::size_t imageSize = 0;
    LoadImage(imageSize);
    // A version that did not arrive stays unknown and matches no BOOT trailer.
    std::optional<image::DeviceVersion> version;
    if (protocol::Identity known{}; QueryDeviceVersion(known) == 0) {
        version = known;
    } else if (m_unmatched) {
        FailOn(Outcome::kUnmatched, IDS_TRANSFER_ERROR);
        return;
    }
    if (Abandoned()) {
        return;
    }
    image::CFirmwareImage firmware;
    if (firmware.Parse(m_imageBuffer.data(), imageSize, image::MakeImageCheck(version)) != 0) {
        Fail(IDS_ILLEGAL_DEVICE);
        return;
    }

    // 10-11: the steps, and the device's consent to this image's update type.
    BuildStepTable({firmware.GetSections(), image::kSlotCount});
    const int permitted =
        RequestUpdatePermission(static_cast<std::uint32_t>(firmware.GetUpdateType() & 0xFF));
    if (Abandoned()) {
        return;
    }
    if (permitted != 0) {
        Fail(m_unmatched ? IDS_TRANSFER_ERROR : IDS_CANNOT_UPDATE_VERSION);
        return;
    }

    // 12-13: ask the device to prepare.
    outcome = Request(
        [this] {
            const int sent = m_messenger.SendPrepareRequest();
            m_host.SetStatusText("");
            m_host.SetHintText("");
            return SentAnyway(sent);
        },
        m_timing.prepareWait, ReplyKind::kResult);
    if (outcome != Outcome::kReply) {
        FailOn(outcome, IDS_TIMEOUT_1);
        return;
    }
    switch (m_reply.status) {
        case protocol::kStatusOk:
            break;
        case protocol::kStatusRestart:
            m_host.EndWaitingForDevice();
            return;
        case protocol::kStatusLowBattery:
            Fail(IDS_LOW_BATTERY);
            return;
        default:
            Fail(IDS_TRANSFER_ERROR);
            return;
    }

    // 14-15: erase and write.
    m_host.ShowRestartPicture(false);
    outcome = Pause(m_timing.beforeSteps);
    if (outcome != Outcome::kQuiet) {
        FailOn(outcome, IDS_TRANSFER_ERROR);
        return;
    }
    m_host.SetStepText(FormatStepStart(m_stepCount));
    if (RunSteps() != 0) {
        return;
    }

    // 16-17: close the conversation; any answer counts. The pause after it
    // is also the last look for a reply nobody asked for: one means every
    // reply since some request was taken for its successor's.
    outcome = Request([this] { return SentAnyway(m_messenger.SendClosingRequest()); },
                      m_timing.closingWait, ReplyKind::kResult);
    if (outcome != Outcome::kReply) {
        FailOn(outcome, IDS_TRANSFER_ERROR);
        return;
    }
    outcome = Pause(m_timing.afterClosing);
    if (outcome != Outcome::kQuiet) {
        FailOn(outcome, IDS_TRANSFER_ERROR);
        return;
    }
    m_host.EndCompleted();
}

int UpdateProcedure::QueryDeviceVersion(protocol::Identity& version) {
    const Outcome outcome = Request([this] { return SentAnyway(m_messenger.SendVersionQuery()); },
                                    m_timing.versionWait, protocol::ReplyKind::kVersion);
    m_unmatched = outcome == Outcome::kUnmatched;
    if (outcome != Outcome::kReply || m_reply.kind != protocol::ReplyKind::kVersion) {
        return -1;
    }
    version = m_replies.DeviceVersion();
    return 0;
}

int UpdateProcedure::RequestUpdatePermission(std::uint32_t updateType) {
    const Outcome outcome =
        Request([&] { return SentAnyway(m_messenger.SendUpdatePermission(updateType)); },
                m_timing.permissionWait, protocol::ReplyKind::kResult);
    m_unmatched = outcome == Outcome::kUnmatched;
    if (outcome != Outcome::kReply || m_reply.status != protocol::kStatusOk) {
        return -1;
    }
    return 0;
}

void UpdateProcedure::BuildStepTable(std::span<const image::SectionRecord> sections) {
    const auto selected = [](const image::SectionRecord& s) { return s.selected == 1; };
    const int n = static_cast<int>(std::count_if(sections.begin(), sections.end(), selected));
    m_steps = StepTable{};
    m_stepCount = 0;
    m_infoWriteEntry = -1;
    int next = 0;
    auto fill = [&](int entry, int kind, const image::SectionRecord& s) {
        if (entry < 0 || entry >= kStepTableSize) {
            return;
        }
        m_steps[static_cast<std::size_t>(entry)] =
            StepEntry{kind, s.flashAddress, s.flashSize, s.imageOffset, s.imageLength};
        ++m_stepCount;
    };
    for (std::size_t slot = 0; slot < sections.size(); ++slot) {
        const image::SectionRecord& s = sections[slot];
        if (!selected(s)) {
            continue;
        }
        if (slot == 0) {
            // INFO is erased before anything else and written after everything else.
            fill(next++, kStepErase, s);
            fill(2 * n, kStepWrite, s);
            m_infoWriteEntry = 2 * n;
        } else {
            fill(next++, kStepErase, s);
            fill(next++, kStepWrite, s);
        }
    }
}

int UpdateProcedure::RunSteps() {
    int shown = 1;
    for (std::size_t k = 0; k < m_steps.size(); ++k) {
        const StepEntry& step = m_steps[k];
        shown = std::min(shown, m_stepCount);
        m_host.SetStepText(FormatStep(shown, m_stepCount));
        if (step.kind == kStepErase) {
            if (EraseRegion(step.flashAddress, step.flashSize) != 0) {
                return -1;
            }
            ++shown;
        } else if (step.kind == kStepWrite) {
            // INFO makes the device take the new firmware: after a reply was
            // given up, first let a reply that is still on its way show that
            // the replies had slipped out of step.
            if (static_cast<int>(k) == m_infoWriteEntry && m_givenUp > 0) {
                const Outcome settled = Pause(m_timing.lateReplyWait);
                if (settled != Outcome::kQuiet) {
                    FailOn(settled, IDS_TRANSFER_ERROR);
                    return -1;
                }
            }
            if (WriteRegion(step.flashAddress, static_cast<int>(step.flashSize),
                            m_imageBuffer.data() + step.imageOffset) != 0) {
                return -1;
            }
            ++shown;
        }
    }
    return 0;
}

int UpdateProcedure::EraseRegion(std::uint32_t address, std::uint32_t size) {
    int retries = 0;
    m_host.SetProgressRange(0, kEraseProgressRange);
    for (;;) {
        const std::uint8_t model = m_messenger.ModelByte();
        const Outcome outcome = Request(
            [&] {
                const int sent = m_messenger.SendEraseRequest(model, address, size);
                m_host.SetProgressPos(1);
                m_host.SetStatusText(LoadString(IDS_ERASING));
                return SentAnyway(sent);
            },
            m_timing.eraseWait, protocol::ReplyKind::kResult);
        if (outcome != Outcome::kReply) {
            FailOn(outcome, IDS_TIMEOUT_3);
            return -1;
        }
        if (m_reply.status == protocol::kStatusOk) {
            m_host.SetProgressPos(kEraseProgressRange);
            return 0;
        }
        if (retries++ >= kEraseRetries) {
            Fail(IDS_TRANSFER_ERROR);
            return -1;
        }
        const Outcome paused = Pause(m_timing.retryPause);
        if (paused != Outcome::kQuiet) {
            FailOn(paused, IDS_TRANSFER_ERROR);
            return -1;
        }
    }
}

int UpdateProcedure::WriteRegion(std::uint32_t address, int length, const std::uint8_t* data) {
    int done = 0;
    int retries = 0;
    int block = kBlockSize;
    m_host.SetProgressRange(0, length);
    for (;;) {
        if (done + block > length) {
            block = length - done;
        }
        const std::uint8_t model = m_messenger.ModelByte();
        const Outcome outcome = Request(
            [&] {
                const int sent = m_messenger.SendBlockWrite(
                    model, data + done, address + static_cast<std::uint32_t>(done), block);
                m_host.SetStatusText(FormatDataTransmit(done, length));
                return SentAnyway(sent);
            },
            m_timing.blockWait, protocol::ReplyKind::kResult);
        if (outcome == Outcome::kAbandoned || outcome == Outcome::kUnmatched) {
            FailOn(outcome, IDS_TRANSFER_ERROR);
            return -1;
        }
        if (outcome == Outcome::kReply && m_reply.status == protocol::kStatusOk) {
            retries = 0;
            done += block;
            m_host.SetProgressPos(done);
            if (done < length) {
                continue;
            }
            break;
        }
        if (retries++ >= kBlockRetries) {
            Fail(outcome == Outcome::kTimedOut ? IDS_TIMEOUT_2 : IDS_TRANSFER_ERROR);
            return -1;
        }
        const Outcome paused = Pause(m_timing.retryPause);
        if (paused != Outcome::kQuiet) {
            FailOn(paused, IDS_TRANSFER_ERROR);
            return -1;
        }
    }
    m_host.SetStatusText(FormatDataTransmit(done, length));
    return 0;
}

}  // namespace corvane::update
