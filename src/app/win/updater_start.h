#pragma once
// The start of one copy of the updater on Windows: the common controls, its
// number, then its window run modally on a MIDI backend, or the refusal when
// all numbers are taken.

#include <functional>
#include <memory>

#include "app/updater_app.h"
#include "app/updater_dialog.h"
#include "midi/midi_backend.h"

namespace corvane::app::win {

using BackendFactory = std::function<std::unique_ptr<midi::MidiBackend>()>;

// Returns the process exit code.
int RunUpdater(CVekUpdatorApp& app, const BackendFactory& makeBackend,
               CVekUpdatorDlg::Options options = {});

}  // namespace corvane::app::win
