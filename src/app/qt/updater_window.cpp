#include "app/qt/updater_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaObject>
#include <QPalette>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QWindow>

#include <algorithm>

#include "app/qt/artwork.h"
#include "app/qt/dialog_font.h"
#include "app/qt/dialog_units.h"

namespace corvane::app::qt {

namespace {

constexpr int kDialogWidth = 239;
constexpr int kDialogHeight = 225;
// Height of an opened port list, selection field included.
constexpr int kListDropHeight = 115;

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

QLineEdit* MakeLine(QWidget* parent) {
    auto* line = new QLineEdit(parent);
    line->setReadOnly(true);
    line->setFrame(false);
    // Read-only edits show the dialog's face, not an entry field's white.
    QPalette palette = line->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    line->setPalette(palette);
    return line;
}

}  // namespace

UpdaterWindow::UpdaterWindow(const LogicFactory& makeLogic)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setFont(DialogFont());
    setWindowIcon(DrawApplicationIcon());
    BuildControls();
    m_logic = makeLogic(*this, *this);
    m_logic->OnInitDialog();
}

UpdaterWindow::~UpdaterWindow() {
    DestroyOnce();
    m_logic.reset();
}

void UpdaterWindow::BuildControls() {
    const DialogUnits du(font());
    setFixedSize(du.X(kDialogWidth), du.Y(kDialogHeight));

    auto* execute = new QPushButton("&Execute", this);
    execute->setGeometry(du.Rect(119, 202, 50, 16));
    // Not the default: a stray Enter must not start an update. As in any
    // dialog, Enter presses it while it has the focus.
    execute->setAutoDefault(true);
    Register(execute, Control::kExecute);
    connect(execute, &QPushButton::clicked, this, [this] {
        if (m_logic) {
            m_logic->OnExecute();
        }
    });

    auto* exit = new QPushButton("E&xit", this);
    exit->setGeometry(du.Rect(182, 202, 50, 16));
    Register(exit, Control::kExit);
    connect(exit, &QPushButton::clicked, this, &UpdaterWindow::reject);

    auto* midiInLabel = new QLabel("MIDI &IN", this);
    midiInLabel->setObjectName("labelMidiIn");
    midiInLabel->setGeometry(du.Rect(7, 7, 225, 8));
    auto* midiOutLabel = new QLabel("MIDI &OUT", this);
    midiOutLabel->setObjectName("labelMidiOut");
    midiOutLabel->setGeometry(du.Rect(7, 37, 225, 8));

    for (const auto& [control, y] : {std::pair{Control::kMidiIn, 15}, {Control::kMidiOut, 45}}) {
        auto* list = new QComboBox(this);
        list->setEditable(false);
        const int fieldHeight = list->sizeHint().height();
        list->setGeometry(du.X(7), du.Y(y), du.X(225), fieldHeight);
        // The template gives the height of the opened list; Qt counts entries.
        const int dropHeight = du.Y(kListDropHeight);
        list->setProperty("dropDownHeight", dropHeight);
        list->setMaxVisibleItems(
            std::max(1, (dropHeight - fieldHeight) / (list->fontMetrics().height() + 2)));
        Register(list, control);
    }
    // A label names its list for screen readers, and its mnemonic moves there.
    midiInLabel->setBuddy(m_controls.at(Control::kMidiIn));
    midiOutLabel->setBuddy(m_controls.at(Control::kMidiOut));

    auto* progress = new QProgressBar(this);
    progress->setGeometry(du.Rect(7, 107, 225, 14));
    progress->setTextVisible(false);
    progress->setRange(0, 100);
    progress->setValue(0);
    Register(progress, Control::kProgress);

    auto* status = MakeLine(this);
    status->setGeometry(du.Rect(12, 91, 220, 12));
    Register(status, Control::kStatus);

    auto* rescan = new QPushButton("&Rescan Device", this);
    rescan->setGeometry(du.Rect(145, 65, 87, 16));
    // The one default button: Enter from a list or a field only re-reads the
    // ports.
    rescan->setDefault(true);
    Register(rescan, Control::kRescan);
    connect(rescan, &QPushButton::clicked, this, [this] {
        if (m_logic) {
            m_logic->OnRescanDevice();
        }
    });

    auto* icon = new QLabel(this);
    icon->setGeometry(du.Rect(7, 184, 20, 20));
    Register(icon, Control::kPicIcon);

    auto* step = MakeLine(this);
    step->setGeometry(du.Rect(12, 78, 29, 12));
    Register(step, Control::kStep);

    auto* restart = new QLabel(this);
    restart->setGeometry(du.Rect(74, 146, 91, 46));
    // Centred in the control and clipped when larger, as a centred bitmap is.
    restart->setAlignment(Qt::AlignCenter);
    restart->setPixmap(QPixmap::fromImage(DrawRestartPicture()));
    restart->hide();
    Register(restart, Control::kPicRestart);

    auto* hint = MakeLine(this);
    hint->setGeometry(du.Rect(12, 130, 220, 12));
    Register(hint, Control::kHint);

    const Control tabOrder[] = {Control::kMidiIn,  Control::kMidiOut, Control::kRescan,
                                Control::kStep,    Control::kStatus,  Control::kHint,
                                Control::kExecute, Control::kExit};
    for (std::size_t i = 1; i < std::size(tabOrder); ++i) {
        setTabOrder(m_controls.at(tabOrder[i - 1]), m_controls.at(tabOrder[i]));
    }
    m_controls.at(Control::kMidiIn)->setFocus();
}

void UpdaterWindow::Register(QWidget* widget, Control control) {
    const int id = static_cast<int>(control);
    widget->setProperty(kControlIdProperty, id);
    widget->setObjectName(QStringLiteral("control%1").arg(id));
    m_controls[control] = widget;
}

QWidget* UpdaterWindow::ControlWidget(Control control) const {
    const auto it = m_controls.find(control);
    return it == m_controls.end() ? nullptr : it->second;
}

QComboBox* UpdaterWindow::List(Control list) const {
    return qobject_cast<QComboBox*>(ControlWidget(list));
}

void UpdaterWindow::NotifyDeviceChange() {
    if (m_logic && !m_destroyed) {
        m_logic->OnDeviceChange();
    }
}

void UpdaterWindow::SetTitle(const std::string& title) {
    setWindowTitle(Text(title));
}

void UpdaterWindow::EnableControl(Control control, bool enable) {
    if (QWidget* widget = ControlWidget(control)) {
        widget->setEnabled(enable);
    }
}

void UpdaterWindow::ShowControl(Control control, bool show) {
    if (QWidget* widget = ControlWidget(control)) {
        widget->setVisible(show);
    }
}

void UpdaterWindow::SetControlText(Control control, const std::string& text) {
    QWidget* widget = ControlWidget(control);
    if (auto* line = qobject_cast<QLineEdit*>(widget)) {
        line->setText(Text(text));
    } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
        button->setText(Text(text));
    }
}

void UpdaterWindow::SetProgressRange(int lower, int upper) {
    static_cast<QProgressBar*>(m_controls.at(Control::kProgress))->setRange(lower, upper);
}

void UpdaterWindow::SetProgressPos(int position) {
    static_cast<QProgressBar*>(m_controls.at(Control::kProgress))->setValue(position);
}

void UpdaterWindow::EnableCloseCommand(bool enable) {
    if (windowFlags().testFlag(Qt::WindowCloseButtonHint) == enable) {
        return;
    }
    // Greys the title bar's close button where the platform can. The flags go
    // straight to the native window: QWidget::setWindowFlags would hide it.
    const Qt::WindowFlags flags = windowFlags().setFlag(Qt::WindowCloseButtonHint, enable);
    overrideWindowFlags(flags);
    if (QWindow* window = windowHandle()) {
        window->setFlags(flags);
    }
}

void UpdaterWindow::ResetList(Control list) {
    if (QComboBox* box = List(list)) {
        box->clear();
    }
}

void UpdaterWindow::AddListEntry(Control list, const std::string& text) {
    QComboBox* box = List(list);
    if (box == nullptr) {
        return;
    }
    // A list without a selection keeps none: Qt would select the first entry.
    const int selection = box->currentIndex();
    box->addItem(Text(text));
    box->setCurrentIndex(selection);
}

void UpdaterWindow::SetListSelection(Control list, int index) {
    if (QComboBox* box = List(list)) {
        box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1);
    }
}

int UpdaterWindow::ListSelection(Control list) const {
    const QComboBox* box = List(list);
    return box == nullptr ? -1 : box->currentIndex();
}

void UpdaterWindow::ShowErrorBox(const std::string& text, const std::string& caption) {
    QMessageBox box(QMessageBox::Critical, Text(caption), Text(text), QMessageBox::Ok, this);
    box.exec();
}

void UpdaterWindow::Post(Task task) {
    QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

void UpdaterWindow::PostDelayed(std::chrono::milliseconds delay, Task task) {
    QTimer::singleShot(delay, this, std::move(task));
}

bool UpdaterWindow::IsUiThread() const {
    return QThread::currentThread() == thread();
}

void UpdaterWindow::accept() {}

void UpdaterWindow::reject() {
    if (MayCancel()) {
        EndDialog();
    }
}

void UpdaterWindow::closeEvent(QCloseEvent* event) {
    if (m_destroyed || MayCancel()) {
        DestroyOnce();
        event->accept();
        QDialog::done(QDialog::Rejected);
    } else {
        event->ignore();
    }
}

bool UpdaterWindow::MayCancel() const {
    return m_logic == nullptr || m_logic->CanClose();
}

void UpdaterWindow::EndDialog() {
    DestroyOnce();
    QDialog::done(QDialog::Rejected);
}

void UpdaterWindow::DestroyOnce() {
    if (!m_destroyed && m_logic) {
        m_destroyed = true;
        m_logic->OnDestroy();
    }
}

}  // namespace corvane::app::qt
