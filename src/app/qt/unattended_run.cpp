#include "app/qt/unattended_run.h"

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include <cstdio>
#include <utility>

#include "program/exit_codes.h"
#include "update/strings.h"

namespace corvane::app::qt {

namespace {

// Often enough to look quick, seldom enough to cost nothing.
constexpr int kPollMilliseconds = 50;

// Nobody is there to read a box: its text goes to the error stream.
class ErrorStreamBoxes final : public StartUpBoxes {
public:
    void Warning(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
    void Error(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
};

}  // namespace

UnattendedRun::UnattendedRun(UpdaterWindow& window, std::function<void()> onCompleted)
    : m_window(window), m_onCompleted(std::move(onCompleted)) {
    m_poll.setInterval(kPollMilliseconds);
    connect(&m_poll, &QTimer::timeout, this, [this] { Look(); });
    // Once the window's modal run has begun and shown it.
    QTimer::singleShot(0, this, [this] { Start(); });
}

void UnattendedRun::Start() {
    // Before the click: a box that refuses the start comes up inside it.
    m_poll.start();
    auto* execute = qobject_cast<QPushButton*>(m_window.ControlWidget(Control::kExecute));
    if (execute == nullptr || !execute->isEnabled()) {
        m_failure = "Execute is not available.";
        m_ended = true;
    } else {
        execute->click();
    }
    Look();
}

void UnattendedRun::Look() {
    if (!m_ended) {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        auto* status = qobject_cast<QLineEdit*>(m_window.ControlWidget(Control::kStatus));
        if (box != nullptr) {
            m_failure = box->text();
            m_ended = true;
            box->done(QMessageBox::Ok);
        } else if (status != nullptr && status->text() == QString::fromUtf8(update::LoadString(
                                                              update::IDS_UPDATE_COMPLETED))) {
            m_completed = true;
            m_ended = true;
            if (m_onCompleted) {
                m_onCompleted();
            }
        }
    }
    // As a person would: Exit, which stays disabled until the run has let go
    // of the window (the Close command may stay greyed after a refused start).
    auto* exit = qobject_cast<QPushButton*>(m_window.ControlWidget(Control::kExit));
    if (m_ended && exit != nullptr && exit->isEnabled()) {
        exit->click();
    }
}

int RunUnattended(CVekUpdatorApp& app, const BackendFactory& makeBackend,
                  CVekUpdatorDlg::Options options,
                  const std::function<void(UpdaterWindow&)>& onCompleted) {
    ErrorStreamBoxes boxes;
    // A run that could not start has not updated anything.
    if (ClaimForWindow(app, boxes)) {
        return kExitFailure;
    }
    options.instanceNumber = app.GetInstanceNumber();
    const std::unique_ptr<midi::MidiBackend> backend = makeBackend();
    const std::unique_ptr<UpdaterWindow> window = MakeUpdaterWindow(*backend, std::move(options));
    UnattendedRun run(*window, [&] {
        if (onCompleted) {
            onCompleted(*window);
        }
    });
    window->exec();
    if (!run.Completed()) {
        std::fprintf(stderr, "%s\n", run.Failure().toLocal8Bit().constData());
        return kExitFailure;
    }
    return kExitSuccess;
}

}  // namespace corvane::app::qt
