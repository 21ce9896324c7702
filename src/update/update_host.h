#pragma once
// What an update run needs from the window it runs under. Every call may come
// from the worker thread; the host completes it on its user-interface thread
// before returning, or returns at once once the window is gone.

#include <string>

#include "update/strings.h"

namespace corvane::update {

class UpdateHost {
public:
    virtual ~UpdateHost() = default;

    // The ends of a run, each one step on the user-interface thread, so that
    // nothing the user does can come between their parts. Each gives the
    // controls back and clears the running flag last; none returns before the
    // window shows the end.
    // A modal error box (caption "Error", stop icon, OK), then the controls.
    virtual void EndWithError(StringId text) = 0;
    // "Firmware update completed.": everything back but Execute.
    virtual void EndCompleted() = 0;
    // The device restarts into its update mode; the window waits for it.
    virtual void EndWaitingForDevice() = 0;

    virtual void SetStatusText(const std::string& text) = 0;
    virtual void SetHintText(const std::string& text) = 0;
    virtual void SetStepText(const std::string& text) = 0;
    virtual void ShowRestartPicture(bool show) = 0;
    virtual void SetProgressRange(int lower, int upper) = 0;
    virtual void SetProgressPos(int position) = 0;

    // Whether the device has gone since the run's ports were opened: a port
    // said so, or left the system's list. Called on the worker thread.
    virtual bool DeviceGone() = 0;
};

}  // namespace corvane::update
