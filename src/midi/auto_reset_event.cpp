#include "midi/auto_reset_event.h"

namespace corvane::midi {

void AutoResetEvent::Set() {
    {
        std::lock_guard lock(m_mutex);
        m_signalled = true;
    }
    m_cv.notify_one();
}

void AutoResetEvent::Reset() {
    std::lock_guard lock(m_mutex);
    m_signalled = false;
}

WaitResult AutoResetEvent::Wait(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    if (!m_cv.wait_for(lock, timeout, [this] { return m_signalled; })) {
        return WaitResult::kTimedOut;
    }
    m_signalled = false;
    return WaitResult::kSignalled;
}

}  // namespace corvane::midi
