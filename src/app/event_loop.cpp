#include "app/event_loop.h"

namespace corvane::app {

void EventLoop::Post(Task task) {
    {
        std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    m_wake.notify_one();
}

void EventLoop::PostDelayed(std::chrono::milliseconds delay, Task task) {
    {
        std::lock_guard lock(m_mutex);
        m_delayed.emplace(Clock::now() + delay, std::move(task));
    }
    m_wake.notify_one();
}

bool EventLoop::IsUiThread() const {
    return m_uiThread.load() == std::this_thread::get_id();
}

void EventLoop::Run() {
    m_uiThread = std::this_thread::get_id();
    std::unique_lock lock(m_mutex);
    while (!m_quit) {
        const auto now = Clock::now();
        if (!m_delayed.empty() && m_delayed.begin()->first <= now) {
            m_tasks.push_back(std::move(m_delayed.begin()->second));
            m_delayed.erase(m_delayed.begin());
        }
        if (!m_tasks.empty()) {
            Task task = std::move(m_tasks.front());
            m_tasks.pop_front();
            lock.unlock();
            task();
            lock.lock();
            continue;
        }
        if (m_delayed.empty()) {
            m_wake.wait(lock);
        } else {
            m_wake.wait_until(lock, m_delayed.begin()->first);
        }
    }
    m_uiThread = std::thread::id{};
}

void EventLoop::Quit() {
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_one();
}

}  // namespace corvane::app
