#include "update/timing.h"

#include <algorithm>

namespace corvane::update {

Timing Timing::Scaled(int factor) {
    Timing t;
    auto scale = [factor](Millis& m) { m = std::max(Millis{1}, m / std::max(1, factor)); };
    for (Millis* m : {&t.identityWait, &t.openingWait, &t.versionWait, &t.permissionWait,
                      &t.prepareWait, &t.eraseWait, &t.blockWait, &t.closingWait, &t.goneCheck,
                      &t.retryPause, &t.beforeSteps, &t.afterClosing, &t.restartDelay}) {
        scale(*m);
    }
    return t;
}

}  // namespace corvane::update
