// corvane-updater: the updater's window on the system's MIDI devices.

#include "app/updater_app.h"
#include "app/win/updater_start.h"
#include "midi/system_backend.h"

int main() {
    corvane::app::CVekUpdatorApp app;
    return corvane::app::win::RunUpdater(app, [] { return corvane::midi::CreateSystemBackend(); });
}
