#pragma once
// An event that releases one waiter per signal and then resets itself. A
// signal with nobody waiting is kept until the next wait takes it. Whatever the
// signalling thread wrote before Set() is visible to the waiter that Set()
// released.

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace corvane::midi {

enum class WaitResult { kSignalled, kTimedOut };

class AutoResetEvent {
public:
    void Set();
    void Reset();
    WaitResult Wait(std::chrono::milliseconds timeout);

private:
    std::mutex m_mutex;  // guards m_signalled
    std::condition_variable m_cv;
    bool m_signalled = false;
};

}  // namespace corvane::midi
