#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "midi/timer_thread.h"

namespace corvane::midi {

namespace {

// A thread waiting on a steady clock, for platforms without a timer of their own.
class ClockThread final : public TimerThread {
public:
    void Run(std::uint32_t id, std::uint32_t periodMs, TimerCallback callback,
             std::uintptr_t user) {
        m_thread = std::thread([this, id, periodMs, callback, user] {
            using Clock = std::chrono::steady_clock;
            const auto period = std::chrono::milliseconds(periodMs == 0 ? 1 : periodMs);
            auto next = Clock::now() + period;
            std::unique_lock lock(m_mutex);
            while (!m_wake.wait_until(lock, next, [this] { return m_stop; })) {
                lock.unlock();
                callback(id, 0, user, 0, 0);
                lock.lock();
                // A slow tick pushes the next one back instead of bunching
                // the missed ticks together.
                next = std::max(next + period, Clock::now());
            }
        });
    }

    ~ClockThread() override {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_one();
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }

private:
    std::mutex m_mutex;  // guards m_stop
    std::condition_variable m_wake;
    bool m_stop = false;
    std::thread m_thread;
};

}  // namespace

std::unique_ptr<TimerThread> StartTimerThread(std::uint32_t id, std::uint32_t periodMs,
                                              std::uint32_t, TimerCallback callback,
                                              std::uintptr_t user) {
    auto timer = std::make_unique<ClockThread>();
    try {
        timer->Run(id, periodMs, callback, user);
    } catch (const std::system_error&) {
        return nullptr;
    }
    return timer;
}

}  // namespace corvane::midi
