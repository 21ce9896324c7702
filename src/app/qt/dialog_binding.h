#pragma once
// Hands the Qt window's events to the toolkit-free dialog it drives.

#include <memory>

#include "app/qt/updater_window.h"
#include "app/qt/window_events.h"
#include "app/updater_dialog.h"

namespace corvane::app::qt {

class DialogBinding final : public WindowEvents {
public:
    DialogBinding(midi::MidiBackend& backend, DialogView& view, UiLoop& loop,
                  CVekUpdatorDlg::Options options);

    // A window factory that binds each window to a dialog on `backend`.
    static UpdaterWindow::LogicFactory Factory(midi::MidiBackend& backend,
                                               CVekUpdatorDlg::Options options);

    void OnInitDialog() override { m_dialog.OnInitDialog(); }
    void OnExecute() override { m_dialog.OnExecute(); }
    void OnRescanDevice() override { m_dialog.OnRescanDevice(); }
    void OnDestroy() override { m_dialog.OnDestroy(); }
    bool CanClose() const override { return m_dialog.CanClose(); }

    CVekUpdatorDlg& Dialog() { return m_dialog; }

private:
    CVekUpdatorDlg m_dialog;
};

}  // namespace corvane::app::qt
