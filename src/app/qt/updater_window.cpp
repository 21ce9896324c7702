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

QComboBox* MakeList(QWidget* parent, const QRect& rect) {
    auto* list = new QComboBox(parent);
    list->setEditable(false);
    const int fieldHeight = list->sizeHint().height();
    list->setGeometry(rect.x(), rect.y(), rect.width(), fieldHeight);
    // The template gives the height of the opened list; Qt counts
    // entries.
    list->setProperty("dropDownHeight", rect.height());
    list->setMaxVisibleItems(
        std::max(1, (rect.height() - fieldHeight) / (list->fontMetrics().height() + 2)));
    return list;
}

QLabel* MakeRestartPicture(QWidget* parent, const QRect& rect) {
    auto* restart = new QLabel(parent);
    restart->setGeometry(rect);
    // Centred in the control and clipped when larger, as a centred
    // bitmap is.
    restart->setAlignment(Qt::AlignCenter);
    restart->setPixmap(QPixmap::fromImage(DrawRestartPicture()));
    restart->hide();
    return restart;
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
    QLabel* label = nullptr;  // the label that names the next control
    // Made in template order, which gives the focus chain its tab order.
    for (const TemplateControl& c : kDialogTemplate) {
        QWidget* widget = MakeControl(c, du);
        if (label != nullptr) {
            // A label names its control for screen readers, and its mnemonic
            // moves there.
            label->setBuddy(widget);
            label->setObjectName(QStringLiteral("label%1").arg(c.id));
        }
        label = c.kind == ControlKind::kLabel ? static_cast<QLabel*>(widget) : nullptr;
        if (c.id != kLabelId) {
            Register(widget, static_cast<Control>(c.id));
        }
    }
    m_controls.at(Control::kMidiIn)->setFocus();

    connect(Button(Control::kExecute), &QPushButton::clicked, this, [this] {
        if (m_logic) {
            m_logic->OnExecute();
        }
    });
    connect(Button(Control::kExit), &QPushButton::clicked, this, &UpdaterWindow::reject);
    connect(Button(Control::kRescan), &QPushButton::clicked, this, [this] {
        if (m_logic) {
            m_logic->OnRescanDevice();
        }
    });
}

QPushButton* UpdaterWindow::Button(Control control) const {
    return static_cast<QPushButton*>(m_controls.at(control));
}

QWidget* UpdaterWindow::MakeControl(const TemplateControl& c, const DialogUnits& du) {
    const QRect rect = du.Rect(c.x, c.y, c.width, c.height);
    switch (c.kind) {
        case ControlKind::kLabel: {
            auto* label = new QLabel(c.text, this);
            label->setGeometry(rect);
            return label;
        }
        case ControlKind::kList:
            return MakeList(this, rect);
        case ControlKind::kDefaultButton:
        case ControlKind::kButton: {
            auto* button = new QPushButton(c.text, this);
            button->setGeometry(rect);
            // Enter presses the default button, or another one while it has
            // the focus, as in a Windows dialog.
            button->setDefault(c.kind == ControlKind::kDefaultButton);
            button->setAutoDefault(true);
            return button;
        }
        case ControlKind::kLine: {
            auto* line = MakeLine(this);
            line->setGeometry(rect);
            return line;
        }
        case ControlKind::kProgress: {
            auto* progress = new QProgressBar(this);
            progress->setGeometry(rect);
            progress->setTextVisible(false);
            progress->setRange(0, 100);
            progress->setValue(0);
            return progress;
        }
        case ControlKind::kPicture: {
            auto* picture = new QLabel(this);
            picture->setGeometry(rect);
            return picture;
        }
        case ControlKind::kRestartPicture:
            return MakeRestartPicture(this, rect);
    }
    return nullptr;
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
