#pragma once
// One update in a shown updater window with nobody at it, for the demo's
// --unattended and for the picture of the window the build takes: presses
// Execute, and once the run has ended (completed, or an error box came up,
// which it closes) presses Exit.

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

#include "app/qt/updater_start.h"

namespace corvane::app::qt {

class UnattendedRun final : public QObject {
public:
    // `onCompleted` runs once when the update has completed, while the window
    // still shows the outcome.
    UnattendedRun(UpdaterWindow& window, std::function<void()> onCompleted);

    bool Completed() const { return m_completed; }
    // Why the run did not complete; empty when it did or has not ended.
    const QString& Failure() const { return m_failure; }

private:
    void Start();
    void Look();

    UpdaterWindow& m_window;
    std::function<void()> m_onCompleted;
    QTimer m_poll;
    bool m_ended = false;
    bool m_completed = false;
    QString m_failure;
};

// Claims a number with `app` and runs the window on the backend that
// `makeBackend` gives through one unattended update; failures go to standard
// error instead of boxes. `onCompleted` gets the window when the update has
// completed. Needs a QApplication. Returns 0 when the update completed, else 1.
int RunUnattended(CVekUpdatorApp& app, const BackendFactory& makeBackend,
                  CVekUpdatorDlg::Options options = {},
                  const std::function<void(UpdaterWindow&)>& onCompleted = {});

}  // namespace corvane::app::qt
