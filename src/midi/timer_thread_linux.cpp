#include <sys/timerfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>

#include "midi/timer_thread.h"

namespace corvane::midi {

namespace {

// A kernel periodic timer drives the thread: each tick costs one blocking
// read, with no clock reads or locking between ticks, which keeps an idle 1 ms
// timer cheap. Expirations that pile up during a slow tick are taken by one
// read, so the next tick follows at once instead of a burst of missed ones.
class TimerFdThread final : public TimerThread {
public:
    explicit TimerFdThread(int fd) : m_fd(fd) {}

    void Run(std::uint32_t id, TimerCallback callback, std::uintptr_t user) {
        m_thread = std::thread([this, id, callback, user] {
            std::uint64_t expirations = 0;
            while (true) {
                const ssize_t n = read(m_fd, &expirations, sizeof expirations);
                if (m_stop) {
                    return;
                }
                if (n == sizeof expirations) {
                    callback(id, 0, user, 0, 0);
                }
            }
        });
    }

    ~TimerFdThread() override {
        m_stop = true;
        if (m_thread.joinable()) {
            // An expiry right away ends a read in progress; the thread then sees stop.
            const itimerspec now{{0, 0}, {0, 1}};
            timerfd_settime(m_fd, 0, &now, nullptr);
            m_thread.join();
        }
        close(m_fd);
    }

private:
    const int m_fd;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

}  // namespace

std::unique_ptr<TimerThread> StartTimerThread(std::uint32_t id, std::uint32_t periodMs,
                                              std::uint32_t, TimerCallback callback,
                                              std::uintptr_t user) {
    const int fd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    auto timer = std::make_unique<TimerFdThread>(fd);
    const std::uint32_t ms = periodMs == 0 ? 1 : periodMs;
    timespec period{};
    period.tv_sec = static_cast<time_t>(ms / 1000);
    period.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    const itimerspec interval{period, period};
    if (timerfd_settime(fd, 0, &interval, nullptr) != 0) {
        return nullptr;
    }
    try {
        timer->Run(id, callback, user);
    } catch (const std::system_error&) {
        return nullptr;
    }
    return timer;
}

}  // namespace corvane::midi
