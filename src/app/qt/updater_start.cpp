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

// Boxes that belong to no window, the program's name as their caption.
class Boxes final : public StartUpBoxes {
public:
    void Warning(const std::string& text) override { Show(QMessageBox::Warning, text); }
    void Error(const std::string& text) override { Show(QMessageBox::Critical, text); }

private:
    static void Show(QMessageBox::Icon icon, const std::string& text) {
        const QString caption =
            QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
        QMessageBox box(icon, caption, QString::fromStdString(text), QMessageBox::Ok);
        box.exec();
    }
};

}  // namespace

int RunUpdater(CVekUpdatorApp& app, const BackendFactory& makeBackend,
               CVekUpdatorDlg::Options options) {
    Boxes boxes;
    if (const std::optional<int> refused = ClaimForWindow(app, boxes)) {
        return *refused;
    }
    options.instanceNumber = app.GetInstanceNumber();
    const std::unique_ptr<midi::MidiBackend> backend = makeBackend();
    const std::unique_ptr<UpdaterWindow> window = MakeUpdaterWindow(*backend, std::move(options));
    ShowDeviceAccessHint(*window, midi::FindBlockedMidiDevices());
    window->exec();
    return kExitSuccess;
}

}  // namespace corvane::app::qt
