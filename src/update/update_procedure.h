#pragma once
// One firmware update, from the identity request to "Firmware update
// completed.": the worker's requests and waits, the image load and check, and
// the erase and write steps that move the selected sections into flash.

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "protocol/messenger.h"
#include "protocol/reply_handler.h"
#include "update/answer_book.h"
#include "update/step_table.h"
#include "update/timing.h"
#include "update/update_host.h"

namespace corvane::update {

// Where a run takes its firmware container from; empty means the built-in image.
using ImageSource = std::function<std::span<const std::uint8_t>()>;

// The device identities an update accepts, in the order they are tried.
inline constexpr std::array<protocol::Identity, 2> kAcceptedIdentities{{
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

    // Requests sent since construction, for reports.
    std::uint64_t RequestsSent() const { return m_requestsSent; }

private:
    enum class Outcome {
        kReply,      // the request's own answer, in m_reply
        kTimedOut,   // no answer in time; it may still come
        kLost,       // the request's answer can no longer come (a fence's answer came first)
        kUnmatched,  // a reply the fault model cannot place: nothing can be credited safely
        kAbandoned,
        kVanished,  // the device's ports have gone
        kNotSent,   // the port refused the request; nothing is owed
    };
    // How a wait takes a reply that may answer its request or an earlier one.
    enum class Credit {
        kCertain,    // only a reply that can only be the request's; a refusal that may be
                     // its own too (the safe reading of it: a box, or a send again)
        kAnyAnswer,  // every reply that may be its own (the closing request)
    };
    // Sends the request (`send` returns false when the port refused it) and
    // waits for its answer.
    template <typename Send>
    Outcome Request(Send send, Millis timeout, AnswerBook::Owner owner, AnswerBook::Asks asks,
                    Credit credit = Credit::kCertain);
    // Asks for the device's version after a block's send went unanswered:
    // what comes before the version reply answers the block.
    Outcome Fence(AnswerBook::Owner owner);
    // The next reply that answers `owner`'s request, within `timeout`.
    Outcome Await(Millis timeout, AnswerBook::Owner owner, Credit credit = Credit::kCertain);
    // The next reply of any kind before `deadline`, or why there is none.
    Outcome Next(std::chrono::steady_clock::time_point deadline, protocol::Reply& reply);
    // One look at the ledger: a reply, or why there is none.
    Outcome Take(Millis timeout, protocol::Reply& reply);
    // The version query, its reply in m_reply.
    Outcome AskVersion();
    // Before a request, and at the end: a reply that waits must answer a
    // request still owed (kTimedOut), or it is beyond the fault model.
    Outcome Quiet();
    // The time of the reply handler's clock, which every wait takes.
    std::chrono::steady_clock::time_point Now() const;
    // A pause; false when the run was abandoned meanwhile.
    bool Pause(Millis duration);

    // How a run ends short of completion.
    struct Stop {
        enum Kind {
            kBox,            // an error box with `text`, the controls given back
            kWaitForDevice,  // the device restarts into its update mode
            kAbandoned,      // whoever abandoned the run has ended it
        };
        Kind kind;
        StringId text = IDS_TRANSFER_ERROR;
    };
    // What a step of the conversation leaves: nothing to go on, or the run's end.
    using StepResult = std::optional<Stop>;
    static Stop Box(StringId text);
    // The one place where an outcome other than a reply becomes the run's end:
    // `timeoutText` for a time-out or a vanished device, "Transfer error
    // occurred." for a reply out of place, nothing shown when abandoned.
    static Stop StopFor(Outcome outcome, StringId timeoutText);
    StepResult Paused(Millis duration);
    void End(const Stop& stop);

    // The conversation, step by step (docs/protocol.md).
    StepResult Identify();
    StepResult Open();
    StepResult CheckImage();  // loads the image, asks the version, builds the steps
    StepResult AskConsent();
    StepResult Prepare();
    StepResult WriteFlash();
    StepResult Close();
    StepResult RunSteps();
    StepResult EraseRegion(std::uint32_t address, std::uint32_t size);
    StepResult WriteRegion(std::uint32_t address, int length, const std::uint8_t* data);

    bool Abandoned() const { return m_replies.Ledger().Abandoned(); }
    bool LoadImage(std::size_t& size);
    void CoverWriteSteps();

    UpdateHost& m_host;
    protocol::Messenger& m_messenger;
    protocol::ReplyHandler& m_replies;
    const Timing& m_timing;
    ImageSource m_image;

    // Worker thread only.
    std::vector<std::uint8_t> m_imageBuffer;
    StepTable m_steps{};
    int m_stepCount = 0;
    std::uint32_t m_updateType = 0;  // the image's, asked the device's consent for
    // The requests whose answers may still come (answer_book.h).
    AnswerBook m_book;
    protocol::Reply m_reply;
    std::atomic<std::uint64_t> m_requestsSent{0};
};

}  // namespace corvane::update
