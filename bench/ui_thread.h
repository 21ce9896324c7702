#pragma once
// An event loop on a user-interface thread of its own, for the benchmarks
// that drive the dialog.

#include <future>
#include <thread>

#include "app/event_loop.h"

namespace corvane::bench {

class UiThread {
public:
    UiThread() : m_thread([this] { m_loop.Run(); }) {}
    ~UiThread() {
        m_loop.Quit();
        m_thread.join();
    }
    template <typename F>
    auto Run(F f) -> decltype(f()) {
        std::packaged_task<decltype(f())()> task(std::move(f));
        auto result = task.get_future();
        m_loop.Post([&task] { task(); });
        return result.get();
    }
    app::EventLoop& Loop() { return m_loop; }

private:
    app::EventLoop m_loop;
    std::thread m_thread;
};

}  // namespace corvane::bench
