#pragma once
// One firmware update, from the identity request to "Firmware update
// completed.": the worker's requests and waits, the image load and check, and
// the erase and write steps that move the selected sections into flash.

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
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

    // The worker thread's whole run.
    void Run();
    // Ends every wait and pause of a run at once; the run then ends without
    // another call to the host. For good: the window is going away.
    void Abandon();

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
    enum class Outcome { kReply, kTimedOut, kAbandoned };
    // Drops a reply that arrived after its wait had timed out, sends the
    // request, then waits for the answer.
    template <typename Send>
    Outcome Request(Send send, Millis timeout);
    bool Pause(Millis duration);  // false when abandoned meanwhile
    // Ends the run with an error box and gives the controls back.
    void Fail(StringId text);
    bool Abandoned() const { return m_abandoned; }
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
    std::atomic<std::uint64_t> m_requestsSent{0};

    std::mutex m_abandonMutex;  // guards nothing but the wake-up of Pause
    std::condition_variable m_abandonCv;
    std::atomic<bool> m_abandoned{false};
};

}  // namespace corvane::update
