#include "protocol/reply_ledger.h"

namespace corvane::protocol {

void ReplyLedger::Record(int status, ReplyKind kind) {
    {
        std::lock_guard lock(m_mutex);
        m_last = Reply{m_last.number + 1, status, kind};
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

ReplyLedger::Snapshot ReplyLedger::WaitFor(std::uint64_t count,
                                           std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    const bool ended =
        m_changed.wait_for(lock, timeout, [&] { return m_abandoned || m_last.number >= count; });
    Snapshot snapshot;
    snapshot.last = m_last;
    if (m_abandoned) {
        snapshot.end = End::kAbandoned;
    } else {
        snapshot.end = ended ? End::kReached : End::kTimedOut;
    }
    return snapshot;
}

}  // namespace corvane::protocol
