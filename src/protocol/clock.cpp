#include "protocol/clock.h"

namespace corvane::protocol {

namespace {

class SteadyClock final : public Clock {
public:
    TimePoint Now() override { return std::chrono::steady_clock::now(); }
    bool WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& changed,
                   TimePoint deadline, const std::function<bool()>& done) override {
        return changed.wait_until(lock, deadline, done);
    }
};

}  // namespace

Clock& Clock::Steady() {
    static SteadyClock clock;
    return clock;
}

}  // namespace corvane::protocol
