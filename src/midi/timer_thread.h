#pragma once
// The platform's source of periodic ticks for one running CDxMTimer: ticks come
// on a thread that is not the caller's, one at a time, until the object is
// destroyed; its destructor returns only after a tick in progress has ended.

#include <cstdint>
#include <memory>

#include "midi/midi_timer.h"

namespace corvane::midi {

class TimerThread {
public:
    virtual ~TimerThread() = default;
};

// Calls callback(id, 0, user, 0, 0) every periodMs milliseconds (0 counts as 1)
// at `resolutionMs`; null when the platform cannot make the timer.
std::unique_ptr<TimerThread> StartTimerThread(std::uint32_t id, std::uint32_t periodMs,
                                              std::uint32_t resolutionMs, TimerCallback callback,
                                              std::uintptr_t user);

// The finest period the platform's timer offers, in milliseconds.
std::uint32_t MinimumTimerPeriod();
// Raise and restore the system's timer resolution; each raise is matched by
// one restore with the same value.
void RaiseTimerResolution(std::uint32_t periodMs);
void RestoreTimerResolution(std::uint32_t periodMs);

}  // namespace corvane::midi
