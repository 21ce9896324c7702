#include "update/update_procedure.h"

#include <algorithm>
#include <cstring>

#include "image/builtin_image.h"
#include "image/firmware_image.h"

namespace corvane::update {

namespace {

constexpr int kBlockSize = 4096;
constexpr int kEraseRetries = 6;   // a region is asked to be erased at most 7 times
constexpr int kBlockRetries = 31;  // a block is sent at most 32 times
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

void UpdateProcedure::Abandon() {
    {
        std::lock_guard lock(m_abandonMutex);
        m_abandoned = true;
    }
    m_abandonCv.notify_all();
}

bool UpdateProcedure::Pause(Millis duration) {
    std::unique_lock lock(m_abandonMutex);
    return !m_abandonCv.wait_for(lock, duration, [this] { return m_abandoned.load(); });
}

template <typename Send>
UpdateProcedure::Outcome UpdateProcedure::Request(Send send, Millis timeout) {
    if (Abandoned()) {
        return Outcome::kAbandoned;
    }
    // A reply that came after its wait timed out would otherwise be credited
    // to this request.
    m_replies.Event().Reset();
    send();
    ++m_requestsSent;
    const midi::WaitResult result = m_replies.Event().Wait(timeout);
    if (Abandoned() || m_replies.Status() == protocol::kStatusAbandon) {
        return Outcome::kAbandoned;
    }
    return result == midi::WaitResult::kSignalled ? Outcome::kReply : Outcome::kTimedOut;
}

void UpdateProcedure::Fail(StringId text) {
    m_host.ErrorBox(text);
    m_host.RestoreControls();
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
    // 1-3: identify the device.
    if (Abandoned()) {
        return;
    }
    m_replies.Event().Reset();
    if (m_messenger.SendIdentityRequest() != 0) {
        Fail(IDS_CANT_OPEN_MIDI_OUT);
        return;
    }
    ++m_requestsSent;
    const midi::WaitResult identityWait = m_replies.Event().Wait(m_timing.identityWait);
    if (Abandoned() || m_replies.Status() == protocol::kStatusAbandon) {
        return;
    }
    if (identityWait == midi::WaitResult::kTimedOut) {
        Fail(IDS_TIMEOUT_1);
        return;
    }
    if (m_replies.Status() != protocol::kStatusOk) {
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
    switch (Request([this] { m_messenger.SendOpeningRequest(); }, m_timing.openingWait)) {
        case Outcome::kAbandoned:
            return;
        case Outcome::kTimedOut:
            Fail(IDS_TIMEOUT_1);
            return;
        case Outcome::kReply:
            if (m_replies.Status() != protocol::kStatusOk) {
                Fail(IDS_TRANSFER_ERROR);
                return;
            }
            break;
    }

    // 7-9: load the image, learn the device's version, check the image.
    std::size_t imageSize = 0;
    LoadImage(imageSize);
    // A version that did not arrive stays unknown and matches no BOOT trailer.
    std::optional<image::DeviceVersion> version;
    if (protocol::Identity known{}; QueryDeviceVersion(known) == 0) {
        version = known;
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
        Fail(IDS_CANNOT_UPDATE_VERSION);
        return;
    }

    // 12-13: ask the device to prepare.
    const Outcome prepared = Request(
        [this] {
            m_messenger.SendPrepareRequest();
            m_host.SetStatusText("");
            m_host.SetHintText("");
        },
        m_timing.prepareWait);
    if (prepared == Outcome::kAbandoned) {
        return;
    }
    if (prepared == Outcome::kTimedOut) {
        Fail(IDS_TIMEOUT_1);
        return;
    }
    switch (m_replies.Status()) {
        case protocol::kStatusOk:
            break;
        case protocol::kStatusRestart:
            m_host.SetStatusText(LoadString(IDS_READY_FOR_UPDATE));
            m_host.SetHintText(LoadString(IDS_RESTART_DEVICE));
            m_host.ShowRestartPicture(true);
            m_host.RestoreControls();
            // Exit and Close stay: the user may give up waiting for the device.
            m_host.EnableExecute(false);
            m_host.EnableRescan(false);
            m_host.EnablePortLists(false);
            m_host.SetRestartPending();
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
    if (!Pause(m_timing.beforeSteps)) {
        return;
    }
    m_host.SetStepText(FormatStepStart(m_stepCount));
    if (RunSteps() != 0) {
        return;
    }

    // 16-17: close the conversation; any answer counts.
    switch (Request([this] { m_messenger.SendClosingRequest(); }, m_timing.closingWait)) {
        case Outcome::kAbandoned:
            return;
        case Outcome::kTimedOut:
            Fail(IDS_TRANSFER_ERROR);
            return;
        case Outcome::kReply:
            break;
    }
    if (!Pause(m_timing.afterClosing)) {
        return;
    }
    m_host.SetStatusText(LoadString(IDS_UPDATE_COMPLETED));
    m_host.SetHintText(LoadString(IDS_RESTART_DEVICE));
    m_host.ShowRestartPicture(true);
    m_host.RestoreControls();
    m_host.EnableExecute(false);
}

int UpdateProcedure::QueryDeviceVersion(protocol::Identity& version) {
    if (Request([this] { m_messenger.SendVersionQuery(); }, m_timing.versionWait) !=
            Outcome::kReply ||
        m_replies.Status() != protocol::kStatusOk) {
        return -1;
    }
    version = m_replies.DeviceVersion();
    return 0;
}

int UpdateProcedure::RequestUpdatePermission(std::uint32_t updateType) {
    if (Request([&] { m_messenger.SendUpdatePermission(updateType); }, m_timing.permissionWait) !=
            Outcome::kReply ||
        m_replies.Status() != protocol::kStatusOk) {
        return -1;
    }
    return 0;
}

void UpdateProcedure::BuildStepTable(std::span<const image::SectionRecord> sections) {
    const auto selected = [](const image::SectionRecord& s) { return s.selected == 1; };
    const int n = static_cast<int>(std::count_if(sections.begin(), sections.end(), selected));
    m_steps = StepTable{};
    m_stepCount = 0;
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
        } else {
            fill(next++, kStepErase, s);
            fill(next++, kStepWrite, s);
        }
    }
}

int UpdateProcedure::RunSteps() {
    int shown = 1;
    for (const StepEntry& step : m_steps) {
        shown = std::min(shown, m_stepCount);
        m_host.SetStepText(FormatStep(shown, m_stepCount));
        if (step.kind == kStepErase) {
            if (EraseRegion(step.flashAddress, step.flashSize) != 0) {
                return -1;
            }
            ++shown;
        } else if (step.kind == kStepWrite) {
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
                m_messenger.SendEraseRequest(model, address, size);
                m_host.SetProgressPos(1);
                m_host.SetStatusText(LoadString(IDS_ERASING));
            },
            m_timing.eraseWait);
        if (outcome == Outcome::kAbandoned) {
            return -1;
        }
        if (outcome == Outcome::kTimedOut) {
            Fail(IDS_TIMEOUT_3);
            return -1;
        }
        if (m_replies.Status() == protocol::kStatusOk) {
            m_host.SetProgressPos(kEraseProgressRange);
            return 0;
        }
        if (retries++ >= kEraseRetries) {
            Fail(IDS_TRANSFER_ERROR);
            return -1;
        }
        if (!Pause(m_timing.retryPause)) {
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
                m_messenger.SendBlockWrite(model, data + done,
                                           address + static_cast<std::uint32_t>(done), block);
                m_host.SetStatusText(FormatDataTransmit(done, length));
            },
            m_timing.blockWait);
        if (outcome == Outcome::kAbandoned) {
            return -1;
        }
        if (outcome == Outcome::kReply && m_replies.Status() == protocol::kStatusOk) {
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
        if (!Pause(m_timing.retryPause)) {
            return -1;
        }
    }
    m_host.SetStatusText(FormatDataTransmit(done, length));
    return 0;
}

}  // namespace corvane::update
