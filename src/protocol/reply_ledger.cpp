#include "protocol/reply_ledger.h"

namespace corvane::protocol {

void ReplyLedger::Record(int status, ReplyKind kind) {
    {
        std::lock_guard lock(m_mutex);
        m_last = Reply{m_last.number + 1, status, kind};
        if (m_pending.size() < kCapacity) {
            m_pending.push_back(m_last);
        } else {
            m_overflowed = true;
        }
    }
    m_changed.notify_all();
}

void ReplyLedger::Abandon() {
    {
        std::lock_guard lock(m_mutex);
        m_abandoned = true;
    }
    m_changed.notify_all();
}

bool ReplyLedger::Abandoned() const {
    std::lock_guard lock(m_mutex);
    return m_abandoned;
}

Reply ReplyLedger::Last() const {
    std::lock_guard lock(m_mutex);
    return m_last;
}

void ReplyLedger::Clear() {
    std::lock_guard lock(m_mutex);
    m_pending.clear();
    m_overflowed = false;
}

ReplyLedger::End ReplyLedger::EndLocked() const {
    if (m_abandoned) {
        return End::kAbandoned;
    }
    if (m_overflowed) {
        return End::kOverflowed;
    }
    return m_pending.empty() ? End::kTimedOut : End::kReply;
}

ReplyLedger::Taken ReplyLedger::Take(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    // A look without a wait stays out of the kernel: an already expired wait
    // still costs the thread its turn on the processor.
    if (timeout > std::chrono::milliseconds::zero()) {
        m_clock.WaitUntil(lock, m_changed, m_clock.Now() + timeout,
                          [&] { return EndLocked() != End::kTimedOut; });
    }
    Taken taken{EndLocked(), {}};
    if (taken.end == End::kReply) {
        taken.reply = m_pending.front();
        m_pending.pop_front();
    }
    return taken;
}

bool ReplyLedger::Sleep(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return !m_clock.WaitUntil(lock, m_changed, m_clock.Now() + timeout,
                              [&] { return m_abandoned; });
}

}  // namespace corvane::protocol
