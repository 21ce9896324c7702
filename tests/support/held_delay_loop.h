#pragma once
// A user-interface loop that runs posted tasks on a real loop but holds the
// delayed ones until the test releases them: the test, not the clock, says
// when a delay has passed.

#include <chrono>
#include <cstddef>
#include <mutex>
#include <vector>

#include "app/ui_loop.h"

namespace corvane::testing {

class HeldDelayLoop final : public app::UiLoop {
public:
    struct Held {
        std::chrono::milliseconds delay;
        Task task;
    };

    explicit HeldDelayLoop(app::UiLoop& loop) : m_loop(loop) {}

    void Post(Task task) override { m_loop.Post(std::move(task)); }
    void PostDelayed(std::chrono::milliseconds delay, Task task) override {
        std::lock_guard lock(m_mutex);
        m_held.push_back({delay, std::move(task)});
    }
    bool IsUiThread() const override { return m_loop.IsUiThread(); }

    std::vector<std::chrono::milliseconds> Delays() const {
        std::lock_guard lock(m_mutex);
        std::vector<std::chrono::milliseconds> delays;
        for (const Held& h : m_held) {
            delays.push_back(h.delay);
        }
        return delays;
    }
    // The task of delayed post `index`, to run on the user-interface thread.
    Task Take(std::size_t index) {
        std::lock_guard lock(m_mutex);
        return std::move(m_held.at(index).task);
    }

private:
    app::UiLoop& m_loop;
    mutable std::mutex m_mutex;  // guards m_held
    std::vector<Held> m_held;
};

}  // namespace corvane::testing
