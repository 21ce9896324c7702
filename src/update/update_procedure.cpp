#include "update/update_procedure.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "image/builtin_image.h"
#include "image/firmware_image.h"

namespace corvane::update {

namespace {

using Clock = std::chrono::steady_clock;
using protocol::ReplyKind;

constexpr int kBlockSize = 4096;
constexpr int kEraseRetries = 6;   // a region is asked to be erased at most 7 times
constexpr int kBlockRetries = 31;  // a block fails at most 32 times
constexpr int kEraseProgressRange = 10;

}  // namespace

UpdateProcedure::UpdateProcedure(UpdateHost& host, protocol::Messenger& messenger,
                                 protocol::ReplyHandler& replies, const Timing& timing,
                                 ImageSource image)
    : m_host(host),
      m_messenger(messenger),
      m_replies(replies),
      m_timing(timing),
      m_image(std::move(image)) {}

// Which request a reply answers. The protocol carries no request id, so the
// worker relies on this fault model: the device answers each request at most
// once and in order, however late; a request or its answer may be lost, and a
// request may be refused. A version query is answered by a version reply or a
// refusal, never by an acknowledgement. Under it no acknowledgement is ever
// credited to the wrong request, so "completed" means every block was
// acknowledged; and an update completes whenever the device answers within
// the retry budget, however long it pauses.
//
// One request waits at a time. Its answer is the first result (or identity or
// version reply, where asked) that comes, with one exception: while a version
// query sent before it may still be answered, a version reply or a refusal is
// taken for that query's answer. Had the refusal been the request's own, its
// wait times out, and what follows a time-out tells.
//
// After a block write timed out its answer may still come, and taken for the
// next block's it would hide a hole in the flash. So before anything else the
// worker sends a fence, a version query, whose answer is of its own kind: what
// comes before the fence's version reply answers the block (acknowledged: it
// is written; refused: send it again), and a version reply with nothing before
// it means the block or its answer was lost (send it again). A fence
// unanswered within the block's wait counts as a failure of the block, and
// another fence follows. The other requests end the run at their time-out.
//
// Beyond the model, what the protocol cannot tell apart: a doubled answer
// from a single one that came for the next request; a fence refused from a
// late refusal of the block (both mean "send it again"). A doubled answer is
// found where it shows, as a result while none is owed (before each request,
// and after the closing request), and ends the run with "Transfer error
// occurred.".
template <typename Send>
UpdateProcedure::Outcome UpdateProcedure::Request(Send send, Millis timeout, ReplyKind asked) {
    if (Abandoned()) {
        return Outcome::kAbandoned;
    }
    if (m_host.DeviceGone()) {
        return Outcome::kVanished;
    }
    m_olderQueries += m_fences;
    m_fences = 0;
    if (const Outcome quiet = Quiet(); quiet != Outcome::kTimedOut) {
        return quiet;
    }
    if (!send()) {
        // A port that failed for a moment shows as the time-out of the wait.
        if (m_host.DeviceGone()) {
            return Outcome::kVanished;
        }
        if (asked == ReplyKind::kIdentity) {
            return Outcome::kNotSent;
        }
    }
    ++m_requestsSent;
    return Await(timeout, asked);
}

UpdateProcedure::Outcome UpdateProcedure::Fence() {
    // The answer may have come in the pause after the time-out.
    if (const Outcome early = Await(Millis{0}, ReplyKind::kResult); early != Outcome::kTimedOut) {
        return early;
    }
    m_messenger.SendVersionQuery();
    ++m_fences;
    ++m_requestsSent;
    return Await(m_timing.blockWait, ReplyKind::kResult);
}

bool UpdateProcedure::AnswersOlderQuery(const protocol::Reply& reply) {
    const bool mayBe = reply.kind == ReplyKind::kVersion ||
                       (reply.kind == ReplyKind::kResult && reply.status != protocol::kStatusOk);
    if (!mayBe || m_olderQueries == 0) {
        return false;
    }
    --m_olderQueries;
    return true;
}

UpdateProcedure::Outcome UpdateProcedure::Await(Millis timeout, ReplyKind asked) {
    const Clock::time_point deadline = Clock::now() + timeout;
    for (;;) {
        protocol::Reply reply;
        const Outcome next = Next(deadline, reply);
        if (next != Outcome::kReply) {
            return next;
        }
        if (AnswersOlderQuery(reply)) {
            continue;
        }
        if (reply.kind == ReplyKind::kVersion && asked != ReplyKind::kVersion) {
            if (m_fences == 0) {
                return Outcome::kUnmatched;
            }
            --m_fences;
            return Outcome::kLost;
        }
        if (reply.kind != ReplyKind::kResult && reply.kind != asked) {
            return Outcome::kUnmatched;
        }
        // The request's own answer: every query sent before it has been
        // answered, or never will be.
        m_olderQueries = 0;
        m_reply = reply;
        return Outcome::kReply;
    }
}

UpdateProcedure::Outcome UpdateProcedure::Next(Clock::time_point deadline, protocol::Reply& reply) {
    for (;;) {
        const Millis left = std::chrono::ceil<Millis>(deadline - Clock::now());
        const Outcome taken = Take(std::clamp(left, Millis{0}, m_timing.goneCheck), reply);
        if (taken != Outcome::kTimedOut) {
            return taken;
        }
        if (m_host.DeviceGone()) {
            return Outcome::kVanished;
        }
        if (Clock::now() >= deadline) {
            return Outcome::kTimedOut;
        }
    }
}

UpdateProcedure::Outcome UpdateProcedure::Take(Millis timeout, protocol::Reply& reply) {
    using End = protocol::ReplyLedger::End;
    const protocol::ReplyLedger::Taken taken = m_replies.Ledger().Take(timeout);
    switch (taken.end) {
        case End::kReply:
            reply = taken.reply;
            return Outcome::kReply;
        case End::kAbandoned:
            return Outcome::kAbandoned;
        case End::kOverflowed:
            return Outcome::kUnmatched;
        case End::kTimedOut:
            break;
    }
    return Outcome::kTimedOut;
}

UpdateProcedure::Outcome UpdateProcedure::Quiet() {
    for (;;) {
        protocol::Reply reply;
        const Outcome taken = Take(Millis{0}, reply);
        if (taken != Outcome::kReply) {
            return taken;
        }
        if (!AnswersOlderQuery(reply)) {
            return Outcome::kUnmatched;
        }
    }
}

bool UpdateProcedure::Pause(Millis duration) {
    return m_replies.Ledger().Sleep(duration);
}

UpdateProcedure::Stop UpdateProcedure::Box(StringId text) {
    return Stop{Stop::kBox, text};
}

UpdateProcedure::Stop UpdateProcedure::StopFor(Outcome outcome, StringId timeoutText) {
    switch (outcome) {
        case Outcome::kAbandoned:
            return Stop{Stop::kAbandoned};
        case Outcome::kUnmatched:
            return Box(IDS_TRANSFER_ERROR);
        case Outcome::kTimedOut:
        case Outcome::kLost:
        case Outcome::kVanished:
        case Outcome::kNotSent:
        case Outcome::kReply:
            break;
    }
    return Box(timeoutText);
}

UpdateProcedure::StepResult UpdateProcedure::Paused(Millis duration) {
    if (Pause(duration)) {
        return std::nullopt;
    }
    return Stop{Stop::kAbandoned};
}

void UpdateProcedure::End(const Stop& stop) {
    switch (stop.kind) {
        case Stop::kBox:
            m_host.EndWithError(stop.text);
            return;
        case Stop::kWaitForDevice:
            m_host.EndWaitingForDevice();
            return;
        case Stop::kAbandoned:
            return;  // the one who abandoned the run has ended it
    }
}

bool UpdateProcedure::LoadImage(std::size_t& size) {
    const std::span<const std::uint8_t> bytes = m_image ? m_image() : image::BuiltinImage();
    // An image larger than the buffer counts as no image at all; the check
    // then refuses it.
    size = bytes.size() <= image::kImageBufferSize ? bytes.size() : 0;
    m_imageBuffer.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
    return size > 0;
}

// A write step may reach past the image's end, as far as the image buffer
// goes (the image check refuses a step beyond it); what lies there reads as
// zero. The buffer grows to the furthest step only, not to the whole 32 MiB
// for every run.
void UpdateProcedure::CoverWriteSteps() {
    std::size_t end = m_imageBuffer.size();
    for (const StepEntry& step : m_steps) {
        if (step.kind == kStepWrite) {
            end = std::max<std::size_t>(end, std::size_t{step.imageOffset} + step.flashSize);
        }
    }
    m_imageBuffer.resize(end, 0);
}

void UpdateProcedure::Run() {
    // Replies that came between runs answer nothing of this one.
    m_replies.Ledger().Clear();
    m_olderQueries = 0;
    m_fences = 0;

    using Step = StepResult (UpdateProcedure::*)();
    static constexpr std::array<Step, 7> kConversation{
        &UpdateProcedure::Identify,   &UpdateProcedure::Open,    &UpdateProcedure::CheckImage,
        &UpdateProcedure::AskConsent, &UpdateProcedure::Prepare, &UpdateProcedure::WriteFlash,
        &UpdateProcedure::Close,
    };
    for (const Step step : kConversation) {
        if (const StepResult stop = (this->*step)()) {
            End(*stop);
            return;
        }
    }
    m_host.EndCompleted();
}

UpdateProcedure::StepResult UpdateProcedure::Identify() {
    const Outcome outcome = Request([this] { return m_messenger.SendIdentityRequest() == 0; },
                                    m_timing.identityWait, ReplyKind::kIdentity);
    if (outcome == Outcome::kNotSent) {
        return Box(IDS_CANT_OPEN_MIDI_OUT);
    }
    if (outcome != Outcome::kReply) {
        return StopFor(outcome, IDS_TIMEOUT_1);
    }
    if (m_reply.kind != ReplyKind::kIdentity || m_reply.status != protocol::kStatusOk) {
        return Box(IDS_ILLEGAL_DEVICE);
    }
    const protocol::Identity identity = m_replies.DeviceIdentity();
    m_messenger.SetDeviceIdentityCopy(identity);
    if (std::find(kAcceptedIdentities.begin(), kAcceptedIdentities.end(), identity) ==
        kAcceptedIdentities.end()) {
        return Box(IDS_ILLEGAL_DEVICE);
    }
    m_messenger.SetIdentityReplyIdentity(identity);
    return std::nullopt;
}

UpdateProcedure::StepResult UpdateProcedure::Open() {
    const Outcome outcome = Request([this] { return m_messenger.SendOpeningRequest() == 0; },
                                    m_timing.openingWait, ReplyKind::kResult);
    if (outcome != Outcome::kReply) {
        return StopFor(outcome, IDS_TIMEOUT_1);
    }
    if (m_reply.status != protocol::kStatusOk) {
        return Box(IDS_TRANSFER_ERROR);
    }
    return std::nullopt;
}

UpdateProcedure::StepResult UpdateProcedure::CheckImage() {
    std::size_t imageSize = 0;
    LoadImage(imageSize);
    // A version that did not arrive stays unknown and matches no BOOT trailer.
    std::optional<image::DeviceVersion> version;
    const Outcome outcome = AskVersion();
    if (outcome == Outcome::kUnmatched || outcome == Outcome::kAbandoned) {
        return StopFor(outcome, IDS_TRANSFER_ERROR);
    }
    if (outcome == Outcome::kReply && m_reply.kind == ReplyKind::kVersion) {
        version = m_replies.DeviceVersion();
    }
    image::CFirmwareImage firmware;
    if (firmware.Parse(m_imageBuffer.data(), imageSize, image::MakeImageCheck(version)) != 0) {
        return Box(IDS_ILLEGAL_DEVICE);
    }
    m_stepCount = BuildStepTable({firmware.GetSections(), image::kSlotCount}, m_steps);
    CoverWriteSteps();
    m_updateType = static_cast<std::uint32_t>(firmware.GetUpdateType() & 0xFF);
    return std::nullopt;
}

UpdateProcedure::StepResult UpdateProcedure::AskConsent() {
    const Outcome outcome =
        Request([this] { return m_messenger.SendUpdatePermission(m_updateType) == 0; },
                m_timing.permissionWait, ReplyKind::kResult);
    if (outcome == Outcome::kUnmatched || outcome == Outcome::kAbandoned) {
        return StopFor(outcome, IDS_TRANSFER_ERROR);
    }
    if (outcome != Outcome::kReply || m_reply.status != protocol::kStatusOk) {
        return Box(IDS_CANNOT_UPDATE_VERSION);
    }
    return std::nullopt;
}

UpdateProcedure::StepResult UpdateProcedure::Prepare() {
    const Outcome outcome = Request(
        [this] {
            const int sent = m_messenger.SendPrepareRequest();
            m_host.SetStatusText("");
            m_host.SetHintText("");
            return sent == 0;
        },
        m_timing.prepareWait, ReplyKind::kResult);
    if (outcome != Outcome::kReply) {
        return StopFor(outcome, IDS_TIMEOUT_1);
    }
    switch (m_reply.status) {
        case protocol::kStatusOk:
            return std::nullopt;
        case protocol::kStatusRestart:
            return Stop{Stop::kWaitForDevice};
        case protocol::kStatusLowBattery:
            return Box(IDS_LOW_BATTERY);
        default:
            return Box(IDS_TRANSFER_ERROR);
    }
}

UpdateProcedure::StepResult UpdateProcedure::WriteFlash() {
    m_host.ShowRestartPicture(false);
    if (const StepResult stop = Paused(m_timing.beforeSteps)) {
        return stop;
    }
    m_host.SetStepText(FormatStepStart(m_stepCount));
    return RunSteps();
}

// Any answer to the closing request counts. The pause after it is also the
// last look for an answer no request was owed: one means an answer came twice,
// and every answer after it was taken for its successor's.
UpdateProcedure::StepResult UpdateProcedure::Close() {
    const Outcome outcome = Request([this] { return m_messenger.SendClosingRequest() == 0; },
                                    m_timing.closingWait, ReplyKind::kResult);
    if (outcome != Outcome::kReply) {
        return StopFor(outcome, IDS_TRANSFER_ERROR);
    }
    if (const StepResult stop = Paused(m_timing.afterClosing)) {
        return stop;
    }
    if (const Outcome left = Quiet(); left != Outcome::kTimedOut) {
        return StopFor(left, IDS_TRANSFER_ERROR);
    }
    return std::nullopt;
}

UpdateProcedure::Outcome UpdateProcedure::AskVersion() {
    const Outcome outcome = Request([this] { return m_messenger.SendVersionQuery() == 0; },
                                    m_timing.versionWait, ReplyKind::kVersion);
    if (outcome == Outcome::kTimedOut) {
        // The run goes on without it; its answer may still come.
        ++m_olderQueries;
    }
    return outcome;
}

UpdateProcedure::StepResult UpdateProcedure::RunSteps() {
    int shown = 1;
    for (std::size_t k = 0; k < m_steps.size(); ++k) {
        const StepEntry& step = m_steps[k];
        shown = std::min(shown, m_stepCount);
        m_host.SetStepText(FormatStep(shown, m_stepCount));
        if (step.kind == kStepErase) {
            if (const StepResult stop = EraseRegion(step.flashAddress, step.flashSize)) {
                return stop;
            }
            ++shown;
        } else if (step.kind == kStepWrite) {
            if (const StepResult stop =
                    WriteRegion(step.flashAddress, static_cast<int>(step.flashSize),
                                m_imageBuffer.data() + step.imageOffset)) {
                return stop;
            }
            ++shown;
        }
    }
    return std::nullopt;
}

UpdateProcedure::StepResult UpdateProcedure::EraseRegion(std::uint32_t address,
                                                         std::uint32_t size) {
    int retries = 0;
    m_host.SetProgressRange(0, kEraseProgressRange);
    for (;;) {
        const Outcome outcome = Request(
            [&] {
                const int sent = m_messenger.SendEraseRequest(address, size);
                m_host.SetProgressPos(1);
                m_host.SetStatusText(LoadString(IDS_ERASING));
                return sent == 0;
            },
            m_timing.eraseWait, ReplyKind::kResult);
        if (outcome != Outcome::kReply) {
            return StopFor(outcome, IDS_TIMEOUT_3);
        }
        if (m_reply.status == protocol::kStatusOk) {
            m_host.SetProgressPos(kEraseProgressRange);
            return std::nullopt;
        }
        if (retries++ >= kEraseRetries) {
            return Box(IDS_TRANSFER_ERROR);
        }
        if (const StepResult stop = Paused(m_timing.retryPause)) {
            return stop;
        }
    }
}

UpdateProcedure::StepResult UpdateProcedure::WriteRegion(std::uint32_t address, int length,
                                                         const std::uint8_t* data) {
    int done = 0;
    int retries = 0;
    int block = kBlockSize;
    bool owed = false;  // the block went out and its answer may still come
    m_host.SetProgressRange(0, length);
    for (;;) {
        if (done + block > length) {
            block = length - done;
        }
        const bool fenced = owed;
        const Outcome outcome =
            owed ? Fence()
                 : Request(
                       [&] {
                           const int sent = m_messenger.SendBlockWrite(
                               data + done, address + static_cast<std::uint32_t>(done), block);
                           m_host.SetStatusText(FormatDataTransmit(done, length));
                           return sent == 0;
                       },
                       m_timing.blockWait, ReplyKind::kResult);
        owed = outcome == Outcome::kTimedOut;
        if (outcome == Outcome::kReply && m_reply.status == protocol::kStatusOk) {
            retries = 0;
            done += block;
            m_host.SetProgressPos(done);
            if (done < length) {
                continue;
            }
            break;
        }
        switch (outcome) {
            case Outcome::kAbandoned:
            case Outcome::kUnmatched:
            case Outcome::kVanished:
                return StopFor(outcome, IDS_TIMEOUT_2);
            case Outcome::kLost:
                continue;  // counted at its time-out; the pause is behind it too
            case Outcome::kReply:
                if (fenced) {
                    continue;  // a late refusal: the same send, counted at its time-out
                }
                break;
            default:
                break;
        }
        if (retries++ >= kBlockRetries) {
            return Box(outcome == Outcome::kReply ? IDS_TRANSFER_ERROR : IDS_TIMEOUT_2);
        }
        if (const StepResult stop = Paused(m_timing.retryPause)) {
            return stop;
        }
    }
    m_host.SetStatusText(FormatDataTransmit(done, length));
    return std::nullopt;
}

}  // namespace corvane::update
