#include "device/driven_clock.h"

namespace corvane::device {

void DrivenClock::At(TimePoint at, Task task) {
    m_tasks.emplace(std::pair{std::max(at, m_now), m_sequence++}, Due{std::move(task), false});
}

void DrivenClock::SetTick(Millis period, Task tick) {
    m_period = period;
    m_tick = std::move(tick);
}

bool DrivenClock::RunNext(TimePoint deadline) {
    if (m_tasks.empty() || m_tasks.begin()->first.first > deadline) {
        return false;
    }
    const auto first = m_tasks.begin();
    m_now = first->first.first;
    const Due due = std::move(first->second);
    m_tasks.erase(first);
    if (due.tick) {
        m_tickDue = false;
        m_tick();
        return true;
    }
    due.task();
    if (m_tick && !m_tickDue && m_period.count() > 0) {
        const auto since = std::chrono::duration_cast<Millis>(m_now.time_since_epoch());
        const TimePoint next{(since / m_period + 1) * m_period};
        m_tickDue = true;
        m_tasks.emplace(std::pair{next, m_sequence++}, Due{{}, true});
    }
    return true;
}

bool DrivenClock::WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable&,
                            TimePoint deadline, const std::function<bool()>& done) {
    while (!done()) {
        lock.unlock();
        const bool ran = RunNext(deadline);
        lock.lock();
        if (!ran) {
            m_now = std::max(m_now, deadline);
            return done();
        }
    }
    return true;
}

void DrivenClock::RunUntil(TimePoint deadline) {
    while (RunNext(deadline)) {
    }
    m_now = std::max(m_now, deadline);
}

}  // namespace corvane::device
