#pragma once
// The controls of the updater's window as its logic sees them. A toolkit
// window implements this; so do the console front end and the tests' double.
// Every call comes on the user-interface thread.

#include <string>

namespace corvane::app {

// Control ids of the window.
enum class Control : int {
    kExecute = 1,
    kExit = 2,
    kMidiIn = 1000,
    kMidiOut = 1001,
    kProgress = 1002,
    kStatus = 1003,
    kRescan = 1004,
    kPicIcon = 1005,
    kStep = 1006,
    kPicRestart = 1007,
    kHint = 1008,
};

class DialogView {
public:
    virtual ~DialogView() = default;

    virtual void SetTitle(const std::string& title) = 0;
    virtual void EnableControl(Control control, bool enable) = 0;
    virtual void ShowControl(Control control, bool show) = 0;
    virtual void SetControlText(Control control, const std::string& text) = 0;
    virtual void SetProgressRange(int lower, int upper) = 0;
    virtual void SetProgressPos(int position) = 0;
    // The Close command of the window's system menu and the title bar's close
    // button, greyed where the platform can. It only shows the dialog's
    // CanClose(), which a window asks itself before it closes.
    virtual void EnableCloseCommand(bool enable) = 0;

    // Port lists (kMidiIn, kMidiOut): never sorted, entry i is device i.
    virtual void ResetList(Control list) = 0;
    virtual void AddListEntry(Control list, const std::string& text) = 0;
    virtual void SetListSelection(Control list, int index) = 0;  // -1: none
    virtual int ListSelection(Control list) const = 0;           // -1: none

    // A modal box owned by the window: the text, the caption, a stop icon and
    // an OK button. Returns when the user has closed it.
    virtual void ShowErrorBox(const std::string& text, const std::string& caption) = 0;
};

}  // namespace corvane::app
