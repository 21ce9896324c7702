// Starts like corvane-updater (number, system MIDI ports, window) and prints
// one line once the window is first painted, then ends: the far end of the
// start-up benchmark.

#include <QApplication>
#include <QEvent>

#include <cstdio>

#include "app/qt/updater_start.h"
#include "app/updater_app.h"
#include "midi/system_backend.h"
#include "program/exit_codes.h"

namespace {

class FirstPaint final : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            std::puts("shown");
            std::fflush(stdout);
            QApplication::quit();
            watched->removeEventFilter(this);
        }
        return false;
    }
};

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    corvane::app::CVekUpdatorApp app;
    if (app.ClaimInstanceNumber() != corvane::app::InstanceClaim::kClaimed) {
        return corvane::kExitFailure;
    }
    corvane::app::CVekUpdatorDlg::Options options;
    options.instanceNumber = app.GetInstanceNumber();
    const auto backend = corvane::midi::CreateSystemBackend();
    const auto window = corvane::app::qt::MakeUpdaterWindow(*backend, options);
    FirstPaint probe;
    window->installEventFilter(&probe);
    window->show();
    return QApplication::exec();
}
