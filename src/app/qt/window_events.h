#pragma once
// What the Qt window hands on to the window's logic: its events, on the
// user-interface thread, and the question whether a cancel may end it.

namespace corvane::app::qt {

class WindowEvents {
public:
    virtual ~WindowEvents() = default;

    virtual void OnInitDialog() = 0;
    virtual void OnExecute() = 0;
    virtual void OnRescanDevice() = 0;
    virtual void OnDestroy() = 0;
    virtual bool CanClose() const = 0;
};

}  // namespace corvane::app::qt
