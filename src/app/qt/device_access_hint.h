#pragma once
// The window's word on MIDI device files this user may not open: shown in
// the hint line, the whole explanation in its tooltip, when the port lists
// came out empty. Only at start-up: once a run is on, the hint line is the
// run's, and a user who joins the group must log in again anyway.

#include "app/qt/updater_window.h"
#include "midi/device_access.h"

namespace corvane::app::qt {

void ShowDeviceAccessHint(UpdaterWindow& window, const midi::BlockedMidiDevices& blocked);

}  // namespace corvane::app::qt
