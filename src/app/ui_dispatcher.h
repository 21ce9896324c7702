#pragma once
// Runs control calls of any thread on the user-interface thread: a caller on
// another thread waits until its call has run there, or posts it and goes on.
// Once closed (the window is gone), calls return at once without running and
// every waiting caller is released, so a worker never waits on a window that
// no longer exists.

#include <condition_variable>
#include <functional>
#include <mutex>

#include "app/ui_loop.h"

namespace corvane::app {

class UiDispatcher {
public:
    explicit UiDispatcher(UiLoop& loop);
    ~UiDispatcher();

    // Runs `call` on the user-interface thread and returns when it has run,
    // or when the dispatcher was closed. False when it did not run.
    bool Invoke(std::function<void()> call);
    // Runs `call` on the user-interface thread after the calls posted or
    // invoked before it, without waiting for it; not at all once closed. On
    // that thread it runs at once.
    void Post(std::function<void()> call);
    // User-interface thread only.
    void Close();
    bool Closed() const;

private:
    struct State;
    UiLoop& m_loop;
    std::shared_ptr<State> m_state;
};

}  // namespace corvane::app
