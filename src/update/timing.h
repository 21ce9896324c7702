#pragma once
// Every time-out and pause of an update run. The defaults are the product's;
// tests pass shorter ones so that no test waits for real seconds.

#include <chrono>

namespace corvane::update {

using Millis = std::chrono::milliseconds;

struct Timing {
    // Waits for the device's answer to each request.
    Millis identityWait{30000};
    Millis openingWait{30000};
    Millis versionWait{60000};
    Millis permissionWait{60000};
    Millis prepareWait{30000};
    Millis eraseWait{60000};
    Millis blockWait{1000};
    Millis closingWait{30000};
    // How often a wait looks whether the device has gone: a run ends this
    // long, at most, after its ports said so.
    Millis goneCheck{250};
    // Pauses.
    Millis retryPause{100};
    Millis beforeSteps{500};
    Millis afterClosing{2000};
    // From a device change to the look for the restarted device's ports.
    Millis restartDelay{5000};
    // How often the window looks at the port lists for a device that came or
    // went, as the system's device notification does where there is none
    // (software ports, raw MIDI): a run over ports that cannot tell that
    // their device went ends about this long after it went. Zero: it does
    // not look, and only its front end tells it of device changes.
    Millis portListLook{250};
    // The reply handler's tick.
    Millis replyTick{1};

    // Every wait and pause divided by `factor` (at least 1 ms each), for tests.
    static Timing Scaled(int factor);
};

}  // namespace corvane::update
