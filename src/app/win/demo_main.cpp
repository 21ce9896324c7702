// corvane-updater-demo: the updater's window on an in-process MIDI system
// with a simulated device, to try the whole update without hardware.

#include "app/updater_app.h"
#include "app/win/updater_start.h"
#include "device/demo_system.h"

int main() {
    corvane::app::CVekUpdatorApp app;
    return corvane::app::win::RunUpdater(
        app, [] { return std::make_unique<corvane::device::DemoSystem>(); });
}
