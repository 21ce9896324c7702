#pragma once
// The user-interface thread's event loop as the window's logic needs it.

#include <chrono>
#include <functional>

namespace corvane::app {

class UiLoop {
public:
    using Task = std::function<void()>;
    virtual ~UiLoop() = default;

    // Runs the task on the user-interface thread later; callable from any thread.
    virtual void Post(Task task) = 0;
    // Runs the task on the user-interface thread once `delay` has passed,
    // without blocking that thread meanwhile.
    virtual void PostDelayed(std::chrono::milliseconds delay, Task task) = 0;
    virtual bool IsUiThread() const = 0;
};

}  // namespace corvane::app
