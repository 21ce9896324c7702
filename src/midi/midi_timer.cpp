#include "midi/midi_timer.h"

#include <system_error>
#include <thread>

#if defined(__linux__)
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#else
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#endif

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

#if defined(__linux__)
// The tick thread of one running timer. A kernel periodic timer drives it:
// each tick costs one blocking read, with no clock reads or locking between
// ticks, which keeps an idle 1 ms timer cheap. Expirations that pile up
// during a slow tick are taken by one read, so the next tick follows at once
// instead of a burst of missed ones.
struct CDxMTimer::Runner {
    int fd = -1;
    std::atomic<bool> stop{false};
    std::thread thread;

    Runner(std::uint32_t id, std::uint32_t periodMs, TimerCallback callback, std::uintptr_t user) {
        fd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
        if (fd < 0) {
            throw std::system_error(errno, std::generic_category());
        }
        const std::uint32_t ms = periodMs == 0 ? 1 : periodMs;
        timespec period{};
        period.tv_sec = static_cast<time_t>(ms / 1000);
        period.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
        const itimerspec interval{period, period};
        try {
            if (timerfd_settime(fd, 0, &interval, nullptr) != 0) {
                throw std::system_error(errno, std::generic_category());
            }
            thread = std::thread([this, id, callback, user] {
                std::uint64_t expirations = 0;
                while (true) {
                    const ssize_t n = read(fd, &expirations, sizeof expirations);
                    if (stop) {
                        return;
                    }
                    if (n == sizeof expirations) {
                        callback(id, 0, user, 0, 0);
                    }
                }
            });
        } catch (const std::system_error&) {
            close(fd);
            throw;
        }
    }

    ~Runner() {
        stop = true;
        // An expiry right away ends a read in progress; the thread then sees stop.
        const itimerspec now{{0, 0}, {0, 1}};
        timerfd_settime(fd, 0, &now, nullptr);
        thread.join();
        close(fd);
    }
};

#else

// The tick thread of one running timer, waiting on a steady clock.
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

#endif

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
