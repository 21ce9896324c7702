#include "app/ui_dispatcher.h"

#include <memory>

namespace corvane::app {

// Shared with the tasks in flight, which may outlive the dispatcher.
struct UiDispatcher::State {
    std::mutex mutex;  // guards closed and every call's done flag
    std::condition_variable changed;
    bool closed = false;
};

UiDispatcher::UiDispatcher(UiLoop& loop) : m_loop(loop), m_state(std::make_shared<State>()) {}

UiDispatcher::~UiDispatcher() {
    Close();
}

bool UiDispatcher::Invoke(std::function<void()> call) {
    if (m_loop.IsUiThread()) {
        if (Closed()) {
            return false;
        }
        call();
        return true;
    }
    auto done = std::make_shared<bool>(false);
    auto ran = std::make_shared<bool>(false);
    {
        std::lock_guard lock(m_state->mutex);
        if (m_state->closed) {
            return false;
        }
    }
    // The task owns the call: a call that runs a nested loop (a modal box)
    // may still be running when a close has released its caller.
    m_loop.Post([state = m_state, done, ran, call = std::move(call)] {
        {
            std::lock_guard lock(state->mutex);
            if (state->closed) {
                return;
            }
        }
        call();
        {
            std::lock_guard lock(state->mutex);
            *done = true;
            *ran = true;
        }
        state->changed.notify_all();
    });
    std::unique_lock lock(m_state->mutex);
    m_state->changed.wait(lock, [&] { return *done || m_state->closed; });
    return *ran;
}

void UiDispatcher::Post(std::function<void()> call) {
    if (m_loop.IsUiThread()) {
        if (!Closed()) {
            call();
        }
        return;
    }
    m_loop.Post([state = m_state, call = std::move(call)] {
        {
            std::lock_guard lock(state->mutex);
            if (state->closed) {
                return;
            }
        }
        call();
    });
}

void UiDispatcher::Close() {
    {
        std::lock_guard lock(m_state->mutex);
        m_state->closed = true;
    }
    m_state->changed.notify_all();
}

bool UiDispatcher::Closed() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->closed;
}

}  // namespace corvane::app
