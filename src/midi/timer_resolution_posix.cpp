#include "midi/timer_thread.h"

namespace corvane::midi {

// The timers here tick at the period asked for without a raised resolution;
// the pair stays so that every raise is matched by exactly one restore.
std::uint32_t MinimumTimerPeriod() {
    return 1;
}
void RaiseTimerResolution(std::uint32_t) {}
void RestoreTimerResolution(std::uint32_t) {}

}  // namespace corvane::midi
