#pragma once
// The start of one copy of the updater in Qt: its number, then its window
// run modally on a MIDI backend, or the refusal when all numbers are taken.

#include <functional>
#include <memory>

#include "app/qt/updater_window.h"
#include "app/updater_app.h"
#include "app/updater_dialog.h"
#include "midi/midi_backend.h"

namespace corvane::app::qt {

using BackendFactory = std::function<std::unique_ptr<midi::MidiBackend>()>;

// The window bound to a dialog on `backend`.
std::unique_ptr<UpdaterWindow> MakeUpdaterWindow(midi::MidiBackend& backend,
                                                 CVekUpdatorDlg::Options options);

// Claims a number with `app`; then runs the window on the backend that
// `makeBackend` gives until it closes, or shows the refusal, or the error
// box when the lock directory cannot be used. Needs a QApplication.
// Returns the process exit code.
int RunUpdater(CVekUpdatorApp& app, const BackendFactory& makeBackend,
               CVekUpdatorDlg::Options options = {});

}  // namespace corvane::app::qt
