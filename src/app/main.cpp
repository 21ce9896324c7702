// corvane-updater: the updater's window on the platform's MIDI ports. It takes
// no command line; --version alone prints the version and ends.

#include <QApplication>

#include "app/qt/updater_start.h"
#include "app/updater_app.h"
#include "midi/system_backend.h"
#include "program/exit_codes.h"
#include "version/program_version.h"

int main(int argc, char** argv) {
    if (corvane::AsksForVersion(argc, argv)) {
        corvane::PrintVersion("corvane-updater");
        return corvane::kExitSuccess;
    }
    QApplication application(argc, argv);
    // Ties the window to the installed desktop entry and its icon.
    QGuiApplication::setDesktopFileName("corvane-updater");
    corvane::app::CVekUpdatorApp app;
    return corvane::app::qt::RunUpdater(app, [] { return corvane::midi::CreateSystemBackend(); });
}
