#pragma once
// What a simulated device is: its names and numbers, how it answers the prepare
// request, its flash, and the faults it plays on purpose.

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "midi/midi_backend.h"
#include "protocol/message_set.h"

namespace corvane::device {

using Millis = std::chrono::milliseconds;

// The requests the device answers, one counter and one fault selector each.
enum class RequestKind {
    kIdentity,
    kOpening,
    kVersion,
    kPermission,
    kPrepare,
    kErase,
    kBlockWrite,
    kClosing,
};
inline constexpr std::size_t kRequestKindCount = 8;

constexpr std::size_t IndexOf(RequestKind kind) {
    return static_cast<std::size_t>(kind);
}

// Status bytes of the answer to the prepare request.
inline constexpr std::uint8_t kPrepareReady = protocol::kStatusOk;
inline constexpr std::uint8_t kPrepareRestart = protocol::kStatusRestart;
inline constexpr std::uint8_t kPrepareLowBattery = protocol::kStatusLowBattery;

// A vanish that lasts this long never ends: the ports stay away.
inline constexpr Millis kForever = Millis::max();

enum class FaultAction {
    kRefuse,      // answer with a result message carrying `status`; the request is not carried out
    kDrop,        // carry the request out, but the answer never leaves the device
    kDelay,       // carry it out, answer after `duration` (longer than the updater waits: late)
    kBusy,        // carry it out, answer after `duration`, and take the next message only then:
                  // late as a real device is late, its answers still in order
    kDuplicate,   // send the answer twice
    kCorrupt,     // send the answer with the byte a result's status sits in replaced by
                  // `status`, which may be no data byte at all (0x80 or more)
    kSendBefore,  // send `messages` right before the answer
    kSendAfter,   // send `messages` right after the answer
    kVanish,      // the request is lost, the ports vanish for `duration`
};

struct Fault {
    RequestKind request = RequestKind::kIdentity;
    FaultAction action = FaultAction::kRefuse;
    // The fault hits the nth request of its kind (1-based) and the times - 1
    // requests that follow it...
    int nth = 1;
    int times = 1;
    // ...unless share is above 0: then each request of the kind is hit with
    // this probability, drawn from the device's seeded generator.
    double share = 0.0;
    std::uint8_t status = protocol::kStatusFailed;  // kRefuse, kCorrupt
    Millis duration{0};                             // kDelay, kBusy, kVanish
    std::vector<midi::Bytes> messages;              // kSendBefore, kSendAfter

    static Fault Refuse(RequestKind kind, int nth, std::uint8_t status = protocol::kStatusFailed);
    static Fault Drop(RequestKind kind, int nth);
    static Fault Delay(RequestKind kind, int nth, Millis duration);
    static Fault Busy(RequestKind kind, int nth, Millis duration);
    static Fault Duplicate(RequestKind kind, int nth);
    static Fault Corrupt(RequestKind kind, int nth, std::uint8_t byte = 0xFF);
    static Fault SendBefore(RequestKind kind, int nth, std::vector<midi::Bytes> messages);
    static Fault SendAfter(RequestKind kind, int nth, std::vector<midi::Bytes> messages);
    static Fault Vanish(RequestKind kind, int nth, Millis away);
    // The same fault for a share of the requests instead of the nth.
    Fault WithShare(double probability) const;
    Fault Times(int count) const;
};

struct DeviceConfig {
    // Name of both ports.
    std::string portName = "BRAX Lumen Series";
    // Sent in the identity reply; its first byte is the model byte of every
    // manufacturer message the device sends. Data bytes: bit 7 is dropped.
    std::array<std::uint8_t, 4> identity{0x6E, 0x00, 0x28, 0x00};
    std::array<std::uint8_t, 4> version{0x01, 0x00, 0x00, 0x00};
    // Update types the device lets be written; every type when unset.
    std::optional<std::vector<std::uint32_t>> permittedTypes;
    // kPrepareReady, kPrepareRestart (answered once, then the device restarts
    // and answers ready), kPrepareLowBattery, or any other status byte.
    std::uint8_t prepareStatus = kPrepareReady;
    // How long the ports stay away while the device restarts into update mode.
    Millis restartDelay{1000};
    // Bytes of flash, at most kMaxFlashSize; it holds the old firmware at start.
    std::uint32_t flashSize = 2u << 20;
    std::uint32_t seed = 1;
    std::vector<Fault> faults;
    // Off for long runs: a whole image makes megabytes of transcript.
    bool keepTranscript = true;

    // The model byte of every manufacturer message the device sends.
    std::uint8_t ModelByte() const { return identity[protocol::kIdentityModelByte] & 0x7F; }
};

inline constexpr std::uint32_t kMaxFlashSize = 64u << 20;

}  // namespace corvane::device
