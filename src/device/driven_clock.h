#pragma once
// A clock a test drives, for a whole update on one thread: time stands still
// until the worker waits, and then jumps from one task to the next. The
// device's answers, its vanishing and the reply handler's tick are its tasks,
// so a run repeats exactly and a minute's wait costs no real time.

#include <cstdint>
#include <functional>
#include <map>
#include <utility>

#include "protocol/clock.h"

namespace corvane::device {

class DrivenClock final : public protocol::Clock {
public:
    using Task = std::function<void()>;
    using Millis = std::chrono::milliseconds;

    TimePoint Now() override { return m_now; }
    // Runs the tasks due before `deadline` or until `done()`; the lock is
    // let go while a task runs, as a real wait lets other threads in.
    bool WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& changed,
                   TimePoint deadline, const std::function<bool()>& done) override;

    // Runs `task` at `at` (now, if that has passed), after the tasks due by
    // then that were given before it.
    void At(TimePoint at, Task task);
    // A periodic tick that has work only when a task has run: it runs at the
    // first multiple of `period` after each task, not in between, where it
    // would find nothing to do.
    void SetTick(Millis period, Task tick);
    // Runs every task due by `deadline`; the time then stands at `deadline`.
    void RunUntil(TimePoint deadline);

private:
    // Runs the next task if it is due by `deadline`; false when none is.
    bool RunNext(TimePoint deadline);

    TimePoint m_now{};
    struct Due {
        Task task;
        bool tick = false;
    };
    std::map<std::pair<TimePoint, std::uint64_t>, Due> m_tasks;
    std::uint64_t m_sequence = 0;
    Millis m_period{0};
    Task m_tick;
    bool m_tickDue = false;
};

}  // namespace corvane::device
