// The Qt window on a recording logic: the controls of template 103, the ways
// the dialog may and may not end, the view operations and the event loop.

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <memory>
#include <thread>
#include <tuple>

#include "app/qt/dialog_units.h"
#include "app/qt/updater_window.h"

namespace corvane::app::qt {

namespace {

struct Calls {
    int init = 0;
    int execute = 0;
    int rescan = 0;
    int destroy = 0;
    bool canClose = true;
};

class RecordingLogic final : public WindowEvents {
public:
    explicit RecordingLogic(Calls& calls) : m_calls(calls) {}
    void OnInitDialog() override { ++m_calls.init; }
    void OnExecute() override { ++m_calls.execute; }
    void OnRescanDevice() override { ++m_calls.rescan; }
    void OnDestroy() override { ++m_calls.destroy; }
    bool CanClose() const override { return m_calls.canClose; }

private:
    Calls& m_calls;
};

struct Expected {
    int id;
    const char* className;
    const char* text;
    QRect du;
};

}  // namespace

class UpdaterWindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<UpdaterWindow> Open(Calls& calls) {
        auto window = std::make_unique<UpdaterWindow>(
            [&calls](DialogView&, UiLoop&) { return std::make_unique<RecordingLogic>(calls); });
        window->show();
        window->activateWindow();
        return window;
    }

private slots:
    void controlsFollowTheTemplate() {
        Calls calls;
        const auto window = Open(calls);
        QCOMPARE(calls.init, 1);
        const DialogUnits du(window->font());
        QCOMPARE(window->size(), QSize(du.X(239), du.Y(225)));
        QCOMPARE(window->minimumSize(), window->maximumSize());

        const Expected controls[] = {
            {1, "QPushButton", "&Execute", {119, 202, 50, 16}},
            {2, "QPushButton", "E&xit", {182, 202, 50, 16}},
            {1000, "QComboBox", "", {7, 15, 225, 0}},
            {1001, "QComboBox", "", {7, 45, 225, 0}},
            {1002, "QProgressBar", "", {7, 107, 225, 14}},
            {1003, "QLineEdit", "", {12, 91, 220, 12}},
            {1004, "QPushButton", "&Rescan Device", {145, 65, 87, 16}},
            {1005, "QLabel", "", {7, 184, 20, 20}},
            {1006, "QLineEdit", "", {12, 78, 29, 12}},
            {1007, "QLabel", "", {74, 146, 91, 46}},
            {1008, "QLineEdit", "", {12, 130, 220, 12}},
        };
        for (const Expected& c : controls) {
            auto* widget = window->findChild<QWidget*>(QStringLiteral("control%1").arg(c.id));
            QVERIFY2(widget != nullptr, qPrintable(QString::number(c.id)));
            QCOMPARE(widget->property(UpdaterWindow::kControlIdProperty).toInt(), c.id);
            QCOMPARE(widget->metaObject()->className(), c.className);
            QVERIFY(widget->isEnabled());
            QCOMPARE(widget->isVisible(), c.id != 1007);
            const QRect px = du.Rect(c.du.x(), c.du.y(), c.du.width(), c.du.height());
            QCOMPARE(widget->pos(), px.topLeft());
            QCOMPARE(widget->width(), px.width());
            if (auto* button = qobject_cast<QPushButton*>(widget)) {
                QCOMPARE(button->text(), QString(c.text));
                QCOMPARE(button->height(), px.height());
            }
            if (auto* line = qobject_cast<QLineEdit*>(widget)) {
                QVERIFY(line->isReadOnly());
                QVERIFY(!line->hasFrame());
                QVERIFY(line->text().isEmpty());
                QCOMPARE(line->height(), px.height());
            }
            if (auto* list = qobject_cast<QComboBox*>(widget)) {
                QVERIFY(!list->isEditable());
                QCOMPARE(list->count(), 0);
                QCOMPARE(list->currentIndex(), -1);
                QCOMPARE(list->property("dropDownHeight").toInt(), du.Y(115));
                QVERIFY(list->maxVisibleItems() >= 1);
            }
        }
        // Rescan Device is the one default button; Execute is pressed by
        // Enter only while it has the focus.
        auto* execute = window->findChild<QPushButton*>("control1");
        QVERIFY(!execute->isDefault());
        QVERIFY(execute->autoDefault());
        QVERIFY(window->findChild<QPushButton*>("control1004")->isDefault());
        QCOMPARE(window->focusWidget(), window->findChild<QWidget*>("control1000"));
        auto* progress = window->findChild<QProgressBar*>("control1002");
        QCOMPARE(progress->minimum(), 0);
        QCOMPARE(progress->maximum(), 100);
        QCOMPARE(progress->value(), 0);
        auto* restart = window->findChild<QLabel*>("control1007");
        QCOMPARE(restart->pixmap().size(), QSize(159, 69));
        QCOMPARE(restart->alignment(), Qt::AlignCenter);

        const std::tuple<const char*, const char*, const char*> labels[] = {
            {"label1000", "MIDI &IN", "control1000"}, {"label1001", "MIDI &OUT", "control1001"}};
        for (const auto& [name, text, buddy] : labels) {
            auto* label = window->findChild<QLabel*>(name);
            QVERIFY(label != nullptr);
            QCOMPARE(label->text(), QString(text));
            QCOMPARE(label->buddy(), window->findChild<QWidget*>(buddy));
        }
        QCOMPARE(window->findChild<QLabel*>("label1001")->geometry(), du.Rect(7, 37, 225, 8));

        const QList<QSize> iconSizes = window->windowIcon().availableSizes();
        for (int size : {16, 32, 48}) {
            QVERIFY(iconSizes.contains(QSize(size, size)));
        }
        QVERIFY(!(window->windowFlags() & Qt::WindowMinMaxButtonsHint));
    }

    void tabOrderFollowsTheTemplate() {
        Calls calls;
        const auto window = Open(calls);
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QCOMPARE(QApplication::focusWidget()->objectName(), QString("control1000"));
        const char* order[] = {"control1001", "control1004", "control1006", "control1003",
                               "control1008", "control1",    "control2",    "control1000"};
        for (const char* next : order) {
            QTest::keyClick(window.get(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget()->objectName(), QString(next));
        }
    }

    void executeAndEnterNeverEndTheDialog() {
        Calls calls;
        const auto window = Open(calls);
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QTest::mouseClick(window->findChild<QPushButton*>("control1"), Qt::LeftButton);
        QCOMPARE(calls.execute, 1);
        // Enter from a list or a field goes to Rescan Device, never to Execute.
        for (const char* focused : {"control1000", "control1003"}) {
            window->findChild<QWidget*>(focused)->setFocus();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter);
        }
        QCOMPARE(calls.execute, 1);
        QCOMPARE(calls.rescan, 4);
        window->findChild<QWidget*>("control1")->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter);
        QCOMPARE(calls.execute, 3);
        window->accept();
        QVERIFY(window->isVisible());
        QCOMPARE(calls.destroy, 0);

        QTest::mouseClick(window->findChild<QPushButton*>("control1004"), Qt::LeftButton);
        QCOMPARE(calls.rescan, 5);
        QCOMPARE(calls.execute, 3);
        // A label's mnemonic moves to its list.
        QTest::keyClick(window.get(), Qt::Key_O, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget()->objectName(), QString("control1001"));
        QTest::keyClick(window.get(), Qt::Key_I, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget()->objectName(), QString("control1000"));
    }

    // The close button only shows what the logic last said: whether a cancel
    // ends the dialog is asked of the logic alone, never of what is drawn.
    void closeButtonShowsTheCloseCommandAndDecidesNothing() {
        Calls calls;
        const auto window = Open(calls);
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        window->EnableCloseCommand(false);
        QVERIFY(!(window->windowFlags() & Qt::WindowCloseButtonHint));
        window->EnableCloseCommand(true);
        QVERIFY(window->windowFlags() & Qt::WindowCloseButtonHint);

        window->EnableCloseCommand(false);
        QTest::keyClick(window.get(), Qt::Key_Escape);
        QVERIFY(!window->isVisible());
        QCOMPARE(calls.destroy, 1);
        QCOMPARE(window->result(), int(QDialog::Rejected));
    }

    void nothingEndsTheDialogWhileTheLogicForbidsIt() {
        Calls calls;
        calls.canClose = false;
        const auto window = Open(calls);
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QTest::mouseClick(window->findChild<QPushButton*>("control2"), Qt::LeftButton);
        QTest::keyClick(window.get(), Qt::Key_Escape);
        QVERIFY(!window->close());
        QVERIFY(window->isVisible());
        QCOMPARE(calls.destroy, 0);

        calls.canClose = true;
        QTest::mouseClick(window->findChild<QPushButton*>("control2"), Qt::LeftButton);
        QVERIFY(!window->isVisible());
        QCOMPARE(calls.destroy, 1);
    }

    void destroyRunsOnceWhateverEndsTheWindow() {
        Calls closed;
        {
            const auto window = Open(closed);
            QVERIFY(window->close());
        }
        QCOMPARE(closed.destroy, 1);

        Calls dropped;
        { const auto window = Open(dropped); }
        QCOMPARE(dropped.destroy, 1);
    }

    void viewOperationsReachTheControls() {
        Calls calls;
        const auto window = Open(calls);
        auto* list = window->findChild<QComboBox*>("control1000");
        window->AddListEntry(Control::kMidiIn, "A");
        window->AddListEntry(Control::kMidiIn, "USB オーディオ デバイス");
        // Entries alone select nothing.
        QCOMPARE(window->ListSelection(Control::kMidiIn), -1);
        QCOMPARE(list->itemText(1), QString::fromUtf8("USB オーディオ デバイス"));
        window->SetListSelection(Control::kMidiIn, 1);
        window->AddListEntry(Control::kMidiIn, "B");
        QCOMPARE(window->ListSelection(Control::kMidiIn), 1);
        window->SetListSelection(Control::kMidiIn, 7);
        QCOMPARE(window->ListSelection(Control::kMidiIn), -1);
        window->ResetList(Control::kMidiIn);
        QCOMPARE(list->count(), 0);
        QCOMPARE(window->ListSelection(Control::kMidiOut), -1);

        window->SetTitle("BRAX Corvane System v1.10 Updater (2)");
        QCOMPARE(window->windowTitle(), QString("BRAX Corvane System v1.10 Updater (2)"));
        window->SetControlText(Control::kStatus, "Data transmit  3 / 9 ");
        QCOMPARE(window->findChild<QLineEdit*>("control1003")->text(),
                 QString("Data transmit  3 / 9 "));
        window->EnableControl(Control::kRescan, false);
        QVERIFY(!window->findChild<QWidget*>("control1004")->isEnabled());
        window->ShowControl(Control::kPicRestart, true);
        QVERIFY(window->findChild<QWidget*>("control1007")->isVisible());
        window->SetProgressRange(0, 9);
        window->SetProgressPos(3);
        auto* progress = window->findChild<QProgressBar*>("control1002");
        QCOMPARE(progress->maximum(), 9);
        QCOMPARE(progress->value(), 3);
    }

    void errorBoxIsAModalStopBoxOwnedByTheWindow() {
        Calls calls;
        const auto window = Open(calls);
        QString caption, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
        QWidget* owner = nullptr;
        bool modal = false;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) {
                return;
            }
            caption = box->windowTitle();
            text = box->text();
            icon = box->icon();
            buttons = box->standardButtons();
            owner = box->parentWidget();
            modal = box->isModal();
            box->button(QMessageBox::Ok)->click();
        });
        window->ShowErrorBox("Can't open MIDI Out device.", "Error");
        QCOMPARE(caption, QString("Error"));
        QCOMPARE(text, QString("Can't open MIDI Out device."));
        QCOMPARE(icon, QMessageBox::Critical);
        QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(owner, window.get());
        QVERIFY(modal);
    }

    void tasksRunOnTheWindowsThread() {
        Calls calls;
        const auto window = Open(calls);
        QVERIFY(window->IsUiThread());
        std::atomic<bool> fromWorkerOnUi{false};
        std::atomic<bool> workerIsUi{true};
        std::thread worker([&] {
            workerIsUi = window->IsUiThread();
            window->Post([&] { fromWorkerOnUi = window->IsUiThread(); });
        });
        worker.join();
        QVERIFY(!workerIsUi);
        QTRY_VERIFY(fromWorkerOnUi);

        bool delayed = false;
        window->PostDelayed(std::chrono::milliseconds(200), [&] { delayed = true; });
        QTest::qWait(50);
        QVERIFY(!delayed);
        QTRY_VERIFY(delayed);
    }
};

}  // namespace corvane::app::qt

QTEST_MAIN(corvane::app::qt::UpdaterWindowTest)
#include "updater_window_test.moc"
