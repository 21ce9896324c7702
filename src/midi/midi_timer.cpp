#include "midi/midi_timer.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace corvane::midi {

namespace {

std::atomic<std::uint32_t> g_nextTimerId{1};

void DefaultCallback(std::uint32_t, std::uint32_t, std::uintptr_t user, std::uintptr_t,
                     std::uintptr_t) {
    reinterpret_cast<CDxMTimer*>(user)->OnTimerEvent();
}

// The platform has no timer resolution to raise; the pair stays so that every
// raise is matched by exactly one restore.
void RaiseResolution(std::uint32_t) {}
void RestoreResolution(std::uint32_t) {}

}  // namespace

// The tick thread of one running timer.
struct CDxMTimer::Runner {
    std::mutex mutex;  // guards stop
    std::condition_variable wake;
    bool stop = false;
    std::thread thread;

    Runner(std::uint32_t id, std::uint32_t periodMs, TimerCallback callback, std::uintptr_t user) {
        thread = std::thread([this, id, periodMs, callback, user] {
            using Clock = std::chrono::steady_clock;
            const auto period = std::chrono::milliseconds(periodMs == 0 ? 1 : periodMs);
            auto next = Clock::now() + period;
            std::unique_lock lock(mutex);
            while (!wake.wait_until(lock, next, [this] { return stop; })) {
                lock.unlock();
                callback(id, 0, user, 0, 0);
                lock.lock();
                // A slow tick pushes the next one back instead of bunching
                // the missed ticks together.
                next = std::max(next + period, Clock::now());
            }
        });
    }

    ~Runner() {
        {
            std::lock_guard lock(mutex);
            stop = true;
        }
        wake.notify_one();
        thread.join();
    }
};

CDxMTimer::CDxMTimer() = default;

CDxMTimer::~CDxMTimer() {
    Stop();
}

std::uint32_t CDxMTimer::Start(std::uint32_t periodMs, TimerCallback callback,
                               std::uintptr_t context) {
    Stop();
    RaiseResolution(m_minPeriod);
    if (callback == nullptr) {
        callback = DefaultCallback;
        context = reinterpret_cast<std::uintptr_t>(this);
    }
    const std::uint32_t id = g_nextTimerId++;
    try {
        m_runner = std::make_unique<Runner>(id, periodMs, callback, context);
    } catch (const std::system_error&) {
        RestoreResolution(m_minPeriod);
        return 0;
    }
    m_timerId = id;
    return id;
}

int CDxMTimer::Stop() {
    if (m_timerId != 0) {
        m_runner.reset();
        RestoreResolution(m_minPeriod);
    }
    m_timerId = 0;
    return 1;
}

}  // namespace corvane::midi
