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
// One request waits at a time, but the answers of earlier ones may still
// come. The answer book (answer_book.h) keeps every way the replies so far
// can have matched the requests sent, and a reply is credited to the request
// waiting only when it can only be that request's, with two exceptions that
// err on the safe side: a refusal that may be the request's own is taken for
// it (a box, or the same send again), and any reply that may answer the
// closing request counts for it. A reply that can only
// be an earlier request's is passed over; one that fits no request still owed
// is beyond the model and ends the run with "Transfer error occurred.". A
// version reply is of its own kind: while fewer came than queries went out it
// is a query's late answer whenever it comes, and passed over.
//
// After a block's send timed out its answer may still come, and taken for the
// next block's it would hide a hole in the flash. So the worker sends a fence,
// a version query: what comes before the fence's version reply answers the
// block (acknowledged: it is written; refused: send it again), and a version
// reply with nothing before it means the block or its answer was lost (send
// it again); either way the send was counted once, at its time-out. A fence
// unanswered within the block's wait leaves the run where the plain procedure
// would be: it counts as the block's next failure, and the block is sent
// again; the answer book still keeps the fence's answer and the first send's
// owed, so neither is taken for another block's. The other requests end the
// run at their time-out.
//
// Beyond the model, what the protocol cannot tell apart: a doubled answer
// from a single one that came for the next request. A doubled answer is found
// where it shows, as a reply that fits no request still owed, and ends the
// run with "Transfer error occurred.".
template <typename Send>
UpdateProcedure::Outcome UpdateProcedure::Request(Send send, Millis timeout,
                                                  AnswerBook::Owner owner, AnswerBook::Asks asks,
                                                  Credit credit) {
    if (Abandoned()) {
        return Outcome::kAbandoned;
    }
    if (m_host.DeviceGone()) {
        return Outcome::kVanished;
    }
    if (const Outcome quiet = Quiet(); quiet != Outcome::kTimedOut) {
        return quiet;
    }
    if (!send()) {
        // A port that failed for a moment shows as the time-out of the wait.
        if (m_host.DeviceGone()) {
            return Outcome::kVanished;
        }
        if (asks == AnswerBook::Asks::kIdentity) {
            return Outcome::kNotSent;
        }
    }
    m_book.Sent(owner, asks);
    ++m_requestsSent;
    return Await(timeout, owner, credit);
}

UpdateProcedure::Outcome UpdateProcedure::Fence(AnswerBook::Owner owner) {
    // The answer may have come in the pause after the time-out.
    if (const Outcome early = Await(Millis{0}, owner); early != Outcome::kTimedOut) {
        return early;
    }
    m_messenger.SendVersionQuery();
    m_book.Sent(AnswerBook::kFence, AnswerBook::Asks::kVersion);
    ++m_requestsSent;
    return Await(m_timing.blockWait, owner);
}

UpdateProcedure::Outcome UpdateProcedure::Await(Millis timeout, AnswerBook::Owner owner,
                                                Credit credit) {
    const Clock::time_point deadline = Now() + timeout;
    for (;;) {
        if (!m_book.Owed(owner)) {
            return Outcome::kLost;
        }
        protocol::Reply reply;
        const Outcome next = Next(deadline, reply);
        if (next != Outcome::kReply) {
            return next;
        }
        const AnswerBook::Placing placing = m_book.Place(reply);
        if (!placing.placed) {
            return Outcome::kUnmatched;
        }
        const bool refusal =
            reply.kind == protocol::ReplyKind::kResult && reply.status != protocol::kStatusOk;
        if (placing.Only(owner) ||
            (placing.May(owner) && (refusal || credit == Credit::kAnyAnswer))) {
            m_reply = reply;
            return Outcome::kReply;
        }
        // An earlier request's answer, or one that may be either: passed over.
    }
}

Clock::time_point UpdateProcedure::Now() const {
    return m_replies.Ledger().Time().Now();
}

UpdateProcedure::Outcome UpdateProcedure::Next(Clock::time_point deadline, protocol::Reply& reply) {
    for (;;) {
        const Millis left = std::chrono::ceil<Millis>(deadline - Now());
        const Outcome taken = Take(std::clamp(left, Millis{0}, m_timing.goneCheck), reply);
        if (taken != Outcome::kTimedOut) {
            return taken;
        }
        if (m_host.DeviceGone()) {
            return Outcome::kVanished;
        }
        if (Now() >= deadline) {
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
        if (!m_book.Place(reply).placed) {
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
    m_book.Reset();

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
    const Outcome outcome =
        Request([this] { return m_messenger.SendIdentityRequest() == 0; }, m_timing.identityWait,
                m_book.NewOwner(), AnswerBook::Asks::kIdentity);
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
    const Outcome outcome =
        Request([this] { return m_messenger.SendOpeningRequest() == 0; }, m_timing.openingWait,
                m_book.NewOwner(), AnswerBook::Asks::kResult);
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
                m_timing.permissionWait, m_book.NewOwner(), AnswerBook::Asks::kResult);
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
        m_timing.prepareWait, m_book.NewOwner(), AnswerBook::Asks::kResult);
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
    const Outcome outcome =
        Request([this] { return m_messenger.SendClosingRequest() == 0; }, m_timing.closingWait,
                m_book.NewOwner(), AnswerBook::Asks::kResult, Credit::kAnyAnswer);
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
    const Outcome outcome =
        Request([this] { return m_messenger.SendVersionQuery() == 0; }, m_timing.versionWait,
                m_book.NewOwner(), AnswerBook::Asks::kVersion);
    // Unanswered, the run goes on without it; the book keeps its answer owed.
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
    const AnswerBook::Owner owner = m_book.NewOwner();  // every send of this erase
    for (;;) {
        const Outcome outcome = Request(
            [&] {
                const int sent = m_messenger.SendEraseRequest(address, size);
                m_host.SetProgressPos(1);
                m_host.SetStatusText(LoadString(IDS_ERASING));
                return sent == 0;
            },
            m_timing.eraseWait, owner, AnswerBook::Asks::kResult);
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
    AnswerBook::Owner owner = m_book.NewOwner();  // every send of the block
    m_host.SetProgressRange(0, length);
    for (;;) {
        if (done + block > length) {
            block = length - done;
        }
        const bool fenced = owed;
        const Outcome outcome =
            owed ? Fence(owner)
                 : Request(
                       [&] {
                           const int sent = m_messenger.SendBlockWrite(
                               data + done, address + static_cast<std::uint32_t>(done), block);
                           m_host.SetStatusText(FormatDataTransmit(done, length));
                           return sent == 0;
                       },
                       m_timing.blockWait, owner, AnswerBook::Asks::kResult);
        // After a fence that went unanswered the block goes out again, as the
        // plain procedure sends it after a time-out.
        owed = outcome == Outcome::kTimedOut && !fenced;
        if (outcome == Outcome::kReply && m_reply.status == protocol::kStatusOk) {
            retries = 0;
            owner = m_book.NewOwner();
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
                if (fenced) {
                    continue;  // counted at its time-out; the pause is behind it too
                }
                break;
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
