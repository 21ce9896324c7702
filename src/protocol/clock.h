#pragma once
// Where the update's waits take their time from: the steady clock in the
// programs; in the fault explorer a clock the test drives, so that a wait of
// a minute costs no real time and a run repeats exactly from its seed.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace corvane::protocol {

class Clock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual ~Clock() = default;
    virtual TimePoint Now() = 0;
    // Waits on `changed` until `done()` holds or `deadline` has come; `lock`
    // (the one `changed` is used with) is held on entry and on return.
    // Returns done().
    virtual bool WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& changed,
                           TimePoint deadline, const std::function<bool()>& done) = 0;

    // The steady clock, for everything that is not driven.
    static Clock& Steady();
};

}  // namespace corvane::protocol
