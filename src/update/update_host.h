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

    // A modal error box (caption "Error", stop icon, OK); returns once closed.
    virtual void ErrorBox(StringId text) = 0;
    // Enables the port lists and the buttons, clears the running flag and
    // enables the Close command.
    virtual void RestoreControls() = 0;
    virtual void EnableExecute(bool enable) = 0;
    virtual void EnableExit(bool enable) = 0;
    virtual void EnableRescan(bool enable) = 0;
    virtual void EnablePortLists(bool enable) = 0;
    virtual void EnableCloseCommand(bool enable) = 0;
    virtual void SetStatusText(const std::string& text) = 0;
    virtual void SetHintText(const std::string& text) = 0;
    virtual void SetStepText(const std::string& text) = 0;
    virtual void ShowRestartPicture(bool show) = 0;
    virtual void SetProgressRange(int lower, int upper) = 0;
    virtual void SetProgressPos(int position) = 0;
    // The device restarts into its update mode; the window waits for it.
    virtual void SetRestartPending() = 0;
};

}  // namespace corvane::update
