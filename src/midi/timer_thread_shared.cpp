#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "midi/timer_thread.h"

namespace corvane::midi {

namespace {

using Clock = std::chrono::steady_clock;

// Waits up to this long sleep instead of waiting on the condition.
constexpr std::chrono::milliseconds kShortSleep{2};

// Every timer of the process ticks on one thread, as the multimedia timers
// of Windows do: twenty windows' 1 ms timers cost one wake-up a millisecond,
// not twenty. A tick that runs long delays the next of every timer, never
// overlaps another.
class Ticker {
public:
    // Never destroyed: a timer stopped during the program's exit still finds it.
    static Ticker& Instance() {
        static Ticker* const ticker = new Ticker;
        return *ticker;
    }

    // Throws std::system_error when the thread cannot be started.
    void Add(std::uint32_t id, std::chrono::milliseconds period, TimerCallback callback,
             std::uintptr_t user) {
        std::lock_guard lock(m_mutex);
        if (!m_thread.joinable()) {
            m_thread = std::thread([this] { Run(); });
        }
        m_timers.push_back({id, period, Clock::now() + period, callback, user});
        m_changed.notify_all();
    }

    // Returns once a tick of the timer in progress has ended, unless the
    // tick itself asks.
    void Remove(std::uint32_t id) {
        std::unique_lock lock(m_mutex);
        std::erase_if(m_timers, [id](const Entry& e) { return e.id == id; });
        if (std::this_thread::get_id() != m_thread.get_id()) {
            m_changed.wait(lock, [&] { return m_ticking != id; });
        }
    }

private:
    struct Entry {
        std::uint32_t id;
        std::chrono::milliseconds period;
        Clock::time_point next;
        TimerCallback callback;
        std::uintptr_t user;
    };

    Ticker() = default;

    void Run() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            if (m_timers.empty()) {
                m_changed.wait(lock);
                continue;
            }
            const auto soonest =
                std::min_element(m_timers.begin(), m_timers.end(),
                                 [](const Entry& a, const Entry& b) { return a.next < b.next; });
            const auto now = Clock::now();
            if (now < soonest->next) {
                // A copy: the wait reads the time again after the list may
                // have changed under it.
                const Clock::time_point wakeAt = soonest->next;
                if (wakeAt - now <= kShortSleep) {
                    // A plain sleep costs an idle tick less than a wait on
                    // the condition; a timer added meanwhile starts after it.
                    lock.unlock();
                    std::this_thread::sleep_until(wakeAt);
                    lock.lock();
                } else {
                    m_changed.wait_until(lock, wakeAt);
                }
                continue;
            }
            // A slow tick pushes the next one back instead of bunching the
            // missed ticks together.
            soonest->next = std::max(soonest->next + soonest->period, now);
            const Entry due = *soonest;
            m_ticking = due.id;
            lock.unlock();
            due.callback(due.id, 0, due.user, 0, 0);
            lock.lock();
            m_ticking = 0;
            m_changed.notify_all();
        }
    }

    std::mutex m_mutex;  // guards everything below
    std::condition_variable m_changed;
    std::vector<Entry> m_timers;
    std::uint32_t m_ticking = 0;  // the timer whose tick runs; 0 for none
    std::thread m_thread;
};

class SharedTimer final : public TimerThread {
public:
    explicit SharedTimer(std::uint32_t id) : m_id(id) {}
    ~SharedTimer() override { Ticker::Instance().Remove(m_id); }
    SharedTimer(const SharedTimer&) = delete;
    SharedTimer& operator=(const SharedTimer&) = delete;

private:
    const std::uint32_t m_id;
};

}  // namespace

std::unique_ptr<TimerThread> StartTimerThread(std::uint32_t id, std::uint32_t periodMs,
                                              std::uint32_t, TimerCallback callback,
                                              std::uintptr_t user) {
    try {
        Ticker::Instance().Add(id, std::chrono::milliseconds(periodMs == 0 ? 1 : periodMs),
                               callback, user);
    } catch (const std::system_error&) {
        return nullptr;
    }
    return std::make_unique<SharedTimer>(id);
}

}  // namespace corvane::midi
