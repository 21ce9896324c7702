#pragma once
// A user-interface loop without a toolkit, for the console front end and for
// tests: the thread that calls Run() is the user-interface thread.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "app/ui_loop.h"

namespace corvane::app {

class EventLoop final : public UiLoop {
public:
    void Post(Task task) override;
    void PostDelayed(std::chrono::milliseconds delay, Task task) override;
    bool IsUiThread() const override;

    // Runs posted tasks, and delayed ones when due, until Quit().
    void Run();
    // Callable from any thread, also from a task.
    void Quit();

private:
    using Clock = std::chrono::steady_clock;

    std::mutex m_mutex;  // guards the queues and m_quit
    std::condition_variable m_wake;
    std::deque<Task> m_tasks;
    std::multimap<Clock::time_point, Task> m_delayed;
    bool m_quit = false;
    std::atomic<std::thread::id> m_uiThread{};
};

}  // namespace corvane::app
