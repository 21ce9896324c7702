// corvane-updater as a user drives it, for the USB rig: the same start as the
// program (its instance number, the window on the system's MIDI ports), and a
// timer standing in for the user, who presses "Execute" once the device is
// pre-selected and waits for the end. Exit 0 when the window reported the
// completed update, 1 when it showed an error box or timed out.

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "app/qt/updater_start.h"
#include "app/updater_app.h"
#include "midi/system_backend.h"

namespace {

constexpr auto kPatience = std::chrono::seconds(180);
const QString kCompleted = QStringLiteral("Firmware update completed.");
const QString kDevice = QStringLiteral("BRAX Lumen Series");

QWidget* FindWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && widget->findChild<QPushButton*>("control1") != nullptr) {
            return widget;
        }
    }
    return nullptr;
}

// What the user sees and does, once a tick.
class User : public QObject {
public:
    User() : m_start(std::chrono::steady_clock::now()) {
        connect(&m_timer, &QTimer::timeout, this, [this] { Look(); });
        m_timer.start(100);
    }
    int result() const { return m_result; }

private:
    void Finish(int result, const QString& why) {
        std::printf("window: %s\n", qPrintable(why));
        std::fflush(stdout);
        m_result = result;
        m_timer.stop();
        QCoreApplication::exit(result);
    }

    void Look() {
        if (std::chrono::steady_clock::now() - m_start > kPatience) {
            Finish(1, QStringLiteral("no completion in time"));
            return;
        }
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            Finish(1, QStringLiteral("box: ") + box->text());
            return;
        }
        QWidget* window = FindWindow();
        if (window == nullptr) {
            return;
        }
        auto* status = window->findChild<QLineEdit*>("control1003");
        auto* execute = window->findChild<QPushButton*>("control1");
        const auto boxes = window->findChildren<QComboBox*>();
        if (status == nullptr || execute == nullptr) {
            return;
        }
        if (status->text() != m_lastStatus) {
            m_lastStatus = status->text();
            std::printf("window: status \"%s\"\n", qPrintable(m_lastStatus));
            std::fflush(stdout);
        }
        if (m_pressed && status->text() == kCompleted) {
            Finish(0, QStringLiteral("completed"));
            return;
        }
        const bool preselected =
            !boxes.isEmpty() && std::all_of(boxes.begin(), boxes.end(), [](QComboBox* box) {
                return box->currentText() == kDevice;
            });
        if (!m_pressed && preselected && execute->isEnabled()) {
            m_pressed = true;
            std::printf("window: pressing Execute\n");
            execute->click();
        }
    }

    const std::chrono::steady_clock::time_point m_start;
    QTimer m_timer;
    QString m_lastStatus;
    bool m_pressed = false;
    int m_result = 1;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    corvane::app::CVekUpdatorApp app;
    User user;
    corvane::app::qt::RunUpdater(app, [] { return corvane::midi::CreateSystemBackend(); });
    return user.result();
}
