#pragma once
// The updater's window in Qt Widgets: the controls of dialog template 103 at
// their dialog-unit positions, shown and changed for the window's logic
// through DialogView, with the Qt event loop as the logic's UiLoop.

#include <QDialog>

#include <functional>
#include <map>
#include <memory>

#include "app/dialog_template.h"
#include "app/dialog_view.h"
#include "app/qt/window_events.h"
#include "app/ui_loop.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace corvane::app::qt {

class DialogUnits;

class UpdaterWindow final : public QDialog, public DialogView, public UiLoop {
public:
    // Builds the logic once the controls exist; the logic drives them through
    // the view and the loop it is given.
    using LogicFactory = std::function<std::unique_ptr<WindowEvents>(DialogView&, UiLoop&)>;

    // The property every control carries its template id in.
    static constexpr const char* kControlIdProperty = "controlId";

    explicit UpdaterWindow(const LogicFactory& makeLogic);
    // Runs OnDestroy when no close did, then ends the logic before the controls go.
    ~UpdaterWindow() override;

    QWidget* ControlWidget(Control control) const;

    // DialogView.
    void SetTitle(const std::string& title) override;
    void EnableControl(Control control, bool enable) override;
    void ShowControl(Control control, bool show) override;
    void SetControlText(Control control, const std::string& text) override;
    void SetProgressRange(int lower, int upper) override;
    void SetProgressPos(int position) override;
    void EnableCloseCommand(bool enable) override;
    void ResetList(Control list) override;
    void AddListEntry(Control list, const std::string& text) override;
    void SetListSelection(Control list, int index) override;
    int ListSelection(Control list) const override;
    void ShowErrorBox(const std::string& text, const std::string& caption) override;

    // UiLoop.
    void Post(Task task) override;
    void PostDelayed(std::chrono::milliseconds delay, Task task) override;
    bool IsUiThread() const override;

    // Nothing the dialog accepts ends it; Execute starts an update.
    void accept() override;
    // Escape and Exit: end the dialog when the logic lets it close.
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    QWidget* MakeControl(const TemplateControl& control, const DialogUnits& du);
    QPushButton* Button(Control button) const;
    void Register(QWidget* widget, Control control);
    QComboBox* List(Control list) const;
    bool MayCancel() const;
    void EndDialog();
    void DestroyOnce();

    std::map<Control, QWidget*> m_controls;
    std::unique_ptr<WindowEvents> m_logic;
    bool m_destroyed = false;
};

}  // namespace corvane::app::qt
