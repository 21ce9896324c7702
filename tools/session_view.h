#pragma once
// The window a FlashSession runs its dialog in: the dialog's controls, what
// they hold, and a place for the session's own lines. Every call comes on the
// session's user-interface thread.

#include <string>
#include <vector>

#include "app/dialog_view.h"

namespace corvane::tools {

class SessionView : public app::DialogView {
public:
    virtual const std::vector<std::string>& List(app::Control list) const = 0;
    // The entry named exactly `name`, the last one when several are; -1 when none.
    virtual int FindEntry(app::Control list, const std::string& name) const = 0;
    virtual const std::string& Text(app::Control control) const = 0;
    virtual int ErrorBoxes() const = 0;
    // Lines of the front end's own between the view's output.
    virtual void Print(const std::string& line) = 0;
    // The run is over: the progress shown stays as it stands, and lines
    // printed later follow it.
    virtual void FinishProgress() {}
    virtual void PrintError(const std::string& line) = 0;
};

}  // namespace corvane::tools
