// corvane-updater-demo: the updater's window on an in-process MIDI system
// with a simulated device, to try the whole update without hardware.

#include <QApplication>

#include "app/qt/updater_start.h"
#include "app/updater_app.h"
#include "device/demo_system.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    corvane::app::CVekUpdatorApp app;
    return corvane::app::qt::RunUpdater(
        app, [] { return std::make_unique<corvane::device::DemoSystem>(); });
}
