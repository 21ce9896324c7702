#include <windows.h>
// windows.h first: the others build on its types.
#include <mmsystem.h>

#include <system_error>
#include <thread>

#include "midi/timer_thread.h"

namespace corvane::midi {

namespace {

// A winmm multimedia timer that only sets an event; the ticks run on a thread
// of this object's own. The timer's own callback may make no multimedia call,
// and a tick sends MIDI. Ticks missed while one runs are taken as one.
class MultimediaTimer final : public TimerThread {
public:
    MultimediaTimer(std::uint32_t id, TimerCallback callback, std::uintptr_t user)
        : m_id(id), m_callback(callback), m_user(user) {}

    bool Start(std::uint32_t periodMs, std::uint32_t resolutionMs) {
        if (m_tick == nullptr || m_stop == nullptr) {
            return false;
        }
        try {
            m_thread = std::thread([this] { Run(); });
        } catch (const std::system_error&) {
            return false;
        }
        // Killed synchronously: no tick is set once timeKillEvent has returned.
        m_event = timeSetEvent(periodMs == 0 ? 1 : periodMs, resolutionMs,
                               reinterpret_cast<LPTIMECALLBACK>(m_tick), 0,
                               TIME_PERIODIC | TIME_CALLBACK_EVENT_SET | TIME_KILL_SYNCHRONOUS);
        return m_event != 0;
    }

    ~MultimediaTimer() override {
        const bool killed = m_event == 0 || timeKillEvent(m_event) == TIMERR_NOERROR;
        if (m_thread.joinable()) {
            // Waits for a tick in progress; none starts after it.
            SetEvent(m_stop);
            m_thread.join();
        }
        if (m_stop != nullptr) {
            CloseHandle(m_stop);
        }
        // A timer that could not be killed may still set its event.
        if (m_tick != nullptr && killed) {
            CloseHandle(m_tick);
        }
    }

private:
    void Run() {
        // The stop event first: it wins over a tick that is due at once.
        const HANDLE events[] = {m_stop, m_tick};
        while (WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
            m_callback(m_id, 0, m_user, 0, 0);
        }
    }

    const std::uint32_t m_id;
    const TimerCallback m_callback;
    const std::uintptr_t m_user;
    const HANDLE m_tick = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    const HANDLE m_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread m_thread;
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
