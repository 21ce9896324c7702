#include "midi/midi_timer.h"

#include "midi/timer_thread.h"

namespace corvane::midi {

namespace {

std::atomic<std::uint32_t> g_nextTimerId{1};

void DefaultCallback(std::uint32_t, std::uint32_t, std::uintptr_t user, std::uintptr_t,
                     std::uintptr_t) {
    reinterpret_cast<CDxMTimer*>(user)->OnTimerEvent();
}

}  // namespace

CDxMTimer::CDxMTimer() : m_minPeriod(MinimumTimerPeriod()) {}

CDxMTimer::~CDxMTimer() {
    Stop();
}

std::uint32_t CDxMTimer::Start(std::uint32_t periodMs, TimerCallback callback,
                               std::uintptr_t context) {
    Stop();
    if (callback == nullptr) {
        callback = DefaultCallback;
        context = reinterpret_cast<std::uintptr_t>(this);
    }
    RaiseTimerResolution(m_minPeriod);
    const std::uint32_t id = g_nextTimerId++;
    m_runner = StartTimerThread(id, periodMs, m_minPeriod, callback, context);
    if (!m_runner) {
        // No timer to go with the raised resolution: give it back at once.
        RestoreTimerResolution(m_minPeriod);
        return 0;
    }
    m_timerId = id;
    return id;
}

int CDxMTimer::Stop() {
    if (m_timerId != 0) {
        m_runner.reset();
        RestoreTimerResolution(m_minPeriod);
    }
    m_timerId = 0;
    return 1;
}

}  // namespace corvane::midi
