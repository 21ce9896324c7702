#pragma once
// A periodic timer whose ticks run on a timer thread, one at a time: a tick
// that takes longer than the period delays the next instead of overlapping
// it. Ticks follow a steady clock. The timers of a process may share the
// thread, as the platform's multimedia timers do.

#include <atomic>
#include <cstdint>
#include <memory>

namespace corvane::midi {

class TimerThread;

// The periodic-timer callback: timer id, message, the context given to Start,
// two reserved values (always 0).
using TimerCallback = void (*)(std::uint32_t timerId, std::uint32_t message, std::uintptr_t user,
                               std::uintptr_t reserved1, std::uintptr_t reserved2);

class CDxMTimer {
public:
    CDxMTimer();
    virtual ~CDxMTimer();
    CDxMTimer(const CDxMTimer&) = delete;
    CDxMTimer& operator=(const CDxMTimer&) = delete;

    // Stops any running timer, then ticks every periodMs milliseconds. With a
    // null callback every tick goes to OnTimerEvent() of this object. Returns
    // the new timer id, 0 when no timer could be made.
    std::uint32_t Start(std::uint32_t periodMs, TimerCallback callback, std::uintptr_t context);
    // Stops the timer and waits for a tick in progress to return. Always 1.
    int Stop();

    // Tick handler for a timer started without a callback; the updater always
    // passes one. A class that overrides it calls Stop in its own destructor,
    // so that no tick reaches a half-destroyed object.
    virtual void OnTimerEvent() {}

private:
    std::unique_ptr<TimerThread> m_runner;  // touched only by the owning thread
    std::uint32_t m_timerId = 0;
    std::uint32_t m_minPeriod = 1;
};

}  // namespace corvane::midi
