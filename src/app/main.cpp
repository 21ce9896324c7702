// corvane-updater: the updater's window on the platform's MIDI ports.

#include <QApplication>

#include "app/qt/updater_start.h"
#include "app/updater_app.h"
#include "midi/system_backend.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    corvane::app::CVekUpdatorApp app;
    return corvane::app::qt::RunUpdater(app, [] { return corvane::midi::CreateSystemBackend(); });
}
