#pragma once
// The device's replies, in the order they came, for the update worker to
// match with its requests. The protocol carries no request id; the worker
// attributes each reply from its kind and its place in this order (see
// UpdateProcedure). The reply handler records each reply that ends a request;
// the worker takes them one at a time. Abandoning (the window goes away) is
// part of the same state, so no wait can miss it.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#include "protocol/clock.h"

namespace corvane::protocol {

enum class ReplyKind : std::uint8_t {
    kResult,    // a result message, or the device's bare acknowledgement
    kIdentity,  // an identity reply
    kVersion,   // a version reply
};

struct Reply {
    std::uint64_t number = 0;  // 1 for the first reply ever received; 0: none yet
    int status = 0;
    ReplyKind kind = ReplyKind::kResult;
};

class ReplyLedger {
public:
    // Far more than a device that answers each request at most once can owe;
    // past it the replies no longer say which request they answer.
    static constexpr std::size_t kCapacity = 1024;

    enum class End { kReply, kTimedOut, kAbandoned, kOverflowed };
    struct Taken {
        End end = End::kTimedOut;
        Reply reply;  // with kReply
    };

    explicit ReplyLedger(Clock& clock = Clock::Steady()) : m_clock(clock) {}

    // What the waits take their time from.
    Clock& Time() const { return m_clock; }
    // The reply handler's side: one reply that ends a request.
    void Record(int status, ReplyKind kind);
    // For good: every wait, now and later, ends at once as abandoned.
    void Abandon();

    bool Abandoned() const;
    // The latest reply recorded, taken or not.
    Reply Last() const;
    // Forgets the replies not taken yet, and an overflow.
    void Clear();
    // The oldest reply not taken yet, waiting for one up to `timeout`.
    Taken Take(std::chrono::milliseconds timeout);
    // Waits `timeout` unless abandoned; false when abandoned.
    bool Sleep(std::chrono::milliseconds timeout) const;

private:
    End EndLocked() const;

    Clock& m_clock;

    mutable std::mutex m_mutex;  // guards everything below
    mutable std::condition_variable m_changed;
    std::deque<Reply> m_pending;
    Reply m_last;
    bool m_overflowed = false;
    bool m_abandoned = false;
};

}  // namespace corvane::protocol
