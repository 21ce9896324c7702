#include <windows.h>
// windows.h first: the others build on its types.
#include <mmsystem.h>

#include "midi/timer_thread.h"

namespace corvane::midi {

namespace {

// A winmm multimedia timer. winmm delivers the ticks of one timer on its timer
// thread one after the other; killing the timer synchronously waits for a
// tick in progress and lets none start afterwards.
class MultimediaTimer final : public TimerThread {
public:
    MultimediaTimer(std::uint32_t id, TimerCallback callback, std::uintptr_t user)
        : m_id(id), m_callback(callback), m_user(user) {}

    bool Start(std::uint32_t periodMs, std::uint32_t resolutionMs) {
        m_event = timeSetEvent(periodMs == 0 ? 1 : periodMs, resolutionMs, &MultimediaTimer::Tick,
                               reinterpret_cast<DWORD_PTR>(this),
                               TIME_PERIODIC | TIME_CALLBACK_FUNCTION | TIME_KILL_SYNCHRONOUS);
        return m_event != 0;
    }

    ~MultimediaTimer() override {
        if (m_event != 0) {
            timeKillEvent(m_event);
        }
    }

private:
    static void CALLBACK Tick(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
        auto* self = reinterpret_cast<MultimediaTimer*>(user);
        self->m_callback(self->m_id, 0, self->m_user, 0, 0);
    }

    const std::uint32_t m_id;
    const TimerCallback m_callback;
    const std::uintptr_t m_user;
    MMRESULT m_event = 0;
};

}  // namespace

std::unique_ptr<TimerThread> StartTimerThread(std::uint32_t id, std::uint32_t periodMs,
                                              std::uint32_t resolutionMs, TimerCallback callback,
                                              std::uintptr_t user) {
    auto timer = std::make_unique<MultimediaTimer>(id, callback, user);
    if (!timer->Start(periodMs, resolutionMs)) {
        return nullptr;
    }
    return timer;
}

std::uint32_t MinimumTimerPeriod() {
    TIMECAPS caps{};
    if (timeGetDevCaps(&caps, sizeof caps) != MMSYSERR_NOERROR || caps.wPeriodMin == 0) {
        return 1;
    }
    return caps.wPeriodMin;
}

void RaiseTimerResolution(std::uint32_t periodMs) {
    timeBeginPeriod(periodMs);
}

void RestoreTimerResolution(std::uint32_t periodMs) {
    timeEndPeriod(periodMs);
}

}  // namespace corvane::midi
