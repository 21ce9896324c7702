#include "app/qt/updater_start.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>

#include <utility>

#include "app/qt/device_access_hint.h"
#include "app/qt/dialog_binding.h"
#include "program/exit_codes.h"

namespace corvane::app::qt {

std::unique_ptr<UpdaterWindow> MakeUpdaterWindow(midi::MidiBackend& backend,
                                                 CVekUpdatorDlg::Options options) {
    return std::make_unique<UpdaterWindow>(DialogBinding::Factory(backend, std::move(options)));
}

namespace {

// A box that belongs to no window, the program's name as its caption.
void ShowStartUpBox(QMessageBox::Icon icon, const QString& text) {
    const QString caption = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    QMessageBox box(icon, caption, text, QMessageBox::Ok);
    box.exec();
}

}  // namespace

void ShowTooManyInstancesBox() {
    ShowStartUpBox(QMessageBox::Warning, kTooManyInstancesText);
}

int RunUpdater(CVekUpdatorApp& app, const BackendFactory& makeBackend,
               CVekUpdatorDlg::Options options) {
    switch (app.ClaimInstanceNumber()) {
        case InstanceClaim::kClaimed:
            break;
        case InstanceClaim::kAllTaken:
            ShowTooManyInstancesBox();
            return kExitSuccess;
        case InstanceClaim::kNoLockDirectory:
            ShowStartUpBox(QMessageBox::Critical,
                           QString::fromStdString(LockDirectoryErrorText(app.LockDirectory())));
            return kExitFailure;
    }
    options.instanceNumber = app.GetInstanceNumber();
    const std::unique_ptr<midi::MidiBackend> backend = makeBackend();
    const std::unique_ptr<UpdaterWindow> window = MakeUpdaterWindow(*backend, std::move(options));
    ShowDeviceAccessHint(*window, midi::FindBlockedMidiDevices());
    window->exec();
    return kExitSuccess;
}

}  // namespace corvane::app::qt
