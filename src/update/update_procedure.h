#pragma once
// One firmware update, from the identity request to "Firmware update
// completed.": the worker's requests and waits, the image load and check, and
// the erase and write steps that move the selected sections into flash.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "protocol/messenger.h"
#include "protocol/reply_handler.h"
#include "update/step_table.h"
#include "update/timing.h"
#include "update/update_host.h"

namespace corvane::update {

// Where a run takes its firmware container from; empty means the built-in image.
using ImageSource = std::function<std::span<const std::uint8_t>()>;

// The device identities an update accepts, in the order they are tried.
inline constexpr std::array<protocol::Identity, 3> kAcceptedIdentities{{
    {0x6E, 0x00, 0x28, 0x00},
    {0x6E, 0x00, 0x28, 0x00},
    {0x6E, 0x00, 0x29, 0x00},
}};

class UpdateProcedure {
public:
    UpdateProcedure(UpdateHost& host, protocol::Messenger& messenger,
                    protocol::ReplyHandler& replies, const Timing& timing, ImageSource image);

    // The worker thread's whole run. Once the reply handler's ledger is
    // abandoned, every wait and pause ends at once and the run ends without
    // another call to the host.
    void Run();

    int QueryDeviceVersion(protocol::Identity& version);
    int RequestUpdatePermission(std::uint32_t updateType);
    void BuildStepTable(std::span<const image::SectionRecord> sections);
    int RunSteps();
    int EraseRegion(std::uint32_t address, std::uint32_t size);
    int WriteRegion(std::uint32_t address, int length, const std::uint8_t* data);

    const StepTable& Steps() const { return m_steps; }
    int StepCount() const { return m_stepCount; }
    // Requests sent since construction, for reports.
    std::uint64_t RequestsSent() const { return m_requestsSent; }

private:
    enum class Outcome {
        kReply,      // the request's own reply, in m_reply
        kTimedOut,   // no reply in time; a late one was dropped or given up
        kUnmatched,  // a reply no request is owed: nothing can be credited safely
        kAbandoned,
        kNotSent,  // the port refused the request; nothing is owed
        kQuiet,    // a pause passed without a reply
    };
    // Sends the request (`send` returns false when the port refused it) and
    // waits for the reply the count says is its own; one of kind `asked` or a
    // result message.
    template <typename Send>
    Outcome Request(Send send, Millis timeout, protocol::ReplyKind asked);
    // A pause in which no reply is owed: any that comes is unmatched.
    Outcome Pause(Millis duration);
    // Ends the run with an error box and gives the controls back.
    void Fail(StringId text);
    // The run's end for an outcome other than a reply: the box of a time-out,
    // "Transfer error occurred." for an unmatched reply, nothing when abandoned.
    void FailOn(Outcome outcome, StringId timeoutText);
    bool Abandoned() const { return m_replies.Ledger().Abandoned(); }
    bool LoadImage(std::size_t& size);

    UpdateHost& m_host;
    protocol::Messenger& m_messenger;
    protocol::ReplyHandler& m_replies;
    const Timing& m_timing;
    ImageSource m_image;

    // Worker thread only.
    std::vector<std::uint8_t> m_imageBuffer;
    StepTable m_steps{};
    int m_stepCount = 0;
    int m_infoWriteEntry = -1;
    // Replies the requests sent so far will bring, counted like the ledger's:
    // the reply whose number reaches it answers the latest request.
    std::uint64_t m_expected = 0;
    int m_givenUp = 0;         // requests of this run whose reply never came
    bool m_unmatched = false;  // why the last version or permission request failed
    protocol::Reply m_reply;
    std::atomic<std::uint64_t> m_requestsSent{0};
};

}  // namespace corvane::update
