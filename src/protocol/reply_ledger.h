#pragma once
// The count of the device's replies, against which the update worker matches
// its requests. The protocol carries no request id, but the device answers
// each request at most once and in order: the nth reply ever received answers
// the nth request still owed one. The reply handler records each reply that
// ends a request; the worker waits for the count it expects. Abandoning (the
// window goes away) is part of the same state, so no wait can miss it.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

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
    enum class End { kReached, kTimedOut, kAbandoned };
    struct Snapshot {
        End end = End::kTimedOut;
        Reply last;  // the latest reply when the wait ended
    };

    // The reply handler's side: one reply that ends a request.
    void Record(int status, ReplyKind kind);
    // For good: every wait, now and later, ends at once as abandoned.
    void Abandon();

    bool Abandoned() const;
    Reply Last() const;
    // Waits until `count` replies have been received in all, the ledger is
    // abandoned, or `timeout` has passed. The snapshot is taken under the same
    // lock as the end, so `last` is the reply that ended the wait (or a later one).
    Snapshot WaitFor(std::uint64_t count, std::chrono::milliseconds timeout) const;

private:
    mutable std::mutex m_mutex;  // guards everything below
    mutable std::condition_variable m_changed;
    Reply m_last;
    bool m_abandoned = false;
};

}  // namespace corvane::protocol
