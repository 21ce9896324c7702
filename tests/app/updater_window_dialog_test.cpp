// The Qt window bound to the real dialog on loopback ports: titles per copy,
// port pre-selection as the user sees it in the lists, "Rescan Device", an
// error box of the dialog, when the window may close, the port-list poller,
// and screenshots.

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <memory>
#include <string>
#include <vector>

#include "app/qt/updater_start.h"
#include "device/loopback_ports.h"
#include "midi/loopback_backend.h"
#include "support/dialog_harness.h"
#include "support/run_end.h"

namespace corvane::app::qt {

using Names = std::vector<std::string>;

using testing::RunEnd;

class UpdaterWindowDialogTest : public QObject {
    Q_OBJECT

private:
    static std::unique_ptr<UpdaterWindow> Open(midi::LoopbackBackend& backend, int copy) {
        CVekUpdatorDlg::Options options;
        options.instanceNumber = copy;
        auto window = MakeUpdaterWindow(backend, options);
        window->show();
        return window;
    }
    static void AddPorts(midi::LoopbackBackend& backend, const Names& inputs,
                         const Names& outputs) {
        for (const auto& name : inputs) {
            backend.AddInput(name);
        }
        for (const auto& name : outputs) {
            backend.AddOutput(name);
        }
    }
    static QString Selected(const UpdaterWindow& window, const char* list) {
        return window.findChild<QComboBox*>(list)->currentText();
    }
    static void SaveScreenshot(QWidget& window, const QString& name) {
        QDir().mkpath(CORVANE_SCREENSHOT_DIR);
        QVERIFY(window.grab().save(QString(CORVANE_SCREENSHOT_DIR "/%1.png").arg(name)));
    }

private slots:
    void titleNamesTheCopy_data() {
        QTest::addColumn<int>("copy");
        QTest::addColumn<QString>("title");
        QTest::newRow("1") << 1 << "BRAX Corvane System v1.10 Updater";
        QTest::newRow("2") << 2 << "BRAX Corvane System v1.10 Updater (2)";
        QTest::newRow("20") << 20 << "BRAX Corvane System v1.10 Updater (20)";
    }
    void titleNamesTheCopy() {
        QFETCH(int, copy);
        QFETCH(QString, title);
        midi::LoopbackBackend backend;
        QCOMPARE(Open(backend, copy)->windowTitle(), title);
    }

    void listsPreselectTheCopysDevice_data() {
        QTest::addColumn<int>("copy");
        QTest::addColumn<Names>("inputs");
        QTest::addColumn<Names>("outputs");
        QTest::addColumn<QString>("selectedIn");
        QTest::addColumn<QString>("selectedOut");
        const Names pair{"USB Audio Device", "USB Audio Device (2)"};
        QTest::newRow("copy 1") << 1 << pair << pair << "USB Audio Device"
                                << "USB Audio Device";
        QTest::newRow("copy 2") << 2 << pair << pair << "USB Audio Device (2)"
                                << "USB Audio Device (2)";
        QTest::newRow("copy 3") << 3 << pair << pair << ""
                                << "";
        QTest::newRow("copy 20") << 20 << Names{"BRAX Lumen Series", "BRAX Lumen Series (20)"}
                                 << Names{"BRAX Lumen Series (20)"} << "BRAX Lumen Series (20)"
                                 << "BRAX Lumen Series (20)";
        QTest::newRow("japanese name")
            << 1 << Names{"USB オーディオ デバイス"} << Names{"Other", "USB オーディオ デバイス"}
            << "USB オーディオ デバイス"
            << "USB オーディオ デバイス";
        QTest::newRow("last match wins")
            << 1 << Names{"BRAX Lumen Series", "Synth", "USB Audio Device"}
            << Names{"USB Audio Device", "BRAX Lumen Series"} << "USB Audio Device"
            << "BRAX Lumen Series";
        QTest::newRow("case and extra characters")
            << 1 << Names{"usb audio device", "USB Audio Device ", "USB Audio Device (2)"}
            << Names{"BRAX LUMEN SERIES", "BRAX Lumen Series 2"} << ""
            << "";
        QTest::newRow("input without output")
            << 1 << Names{"USB Audio Device"} << Names{"Synth"} << "USB Audio Device"
            << "";
        QTest::newRow("no devices") << 1 << Names{} << Names{} << ""
                                    << "";
    }
    void listsPreselectTheCopysDevice() {
        QFETCH(int, copy);
        QFETCH(Names, inputs);
        QFETCH(Names, outputs);
        QFETCH(QString, selectedIn);
        QFETCH(QString, selectedOut);
        midi::LoopbackBackend backend;
        AddPorts(backend, inputs, outputs);
        const auto window = Open(backend, copy);
        auto* in = window->findChild<QComboBox*>("control1000");
        auto* out = window->findChild<QComboBox*>("control1001");
        // Never sorted: entry i is device i.
        QCOMPARE(in->count(), int(inputs.size()));
        QCOMPARE(out->count(), int(outputs.size()));
        for (int i = 0; i < out->count(); ++i) {
            QCOMPARE(out->itemText(i), QString::fromStdString(outputs[i]));
        }
        QCOMPARE(in->currentText(), selectedIn);
        QCOMPARE(out->currentText(), selectedOut);
        QCOMPARE(in->currentIndex() == -1, selectedIn.isEmpty());
        QCOMPARE(out->currentIndex() == -1, selectedOut.isEmpty());
    }

    void rescanDeviceRefillsTheListsAndEnablesExecute() {
        midi::LoopbackBackend backend;
        const auto window = Open(backend, 1);
        window->EnableControl(Control::kExecute, false);
        window->ShowControl(Control::kPicRestart, true);
        window->SetControlText(Control::kStatus, "Firmware update completed.");
        AddPorts(backend, {"Synth", "USB Audio Device"}, {"USB Audio Device"});

        QTest::mouseClick(window->findChild<QPushButton*>("control1004"), Qt::LeftButton);
        QCOMPARE(window->ListSelection(Control::kMidiIn), 1);
        QCOMPARE(window->ListSelection(Control::kMidiOut), 0);
        QVERIFY(window->findChild<QWidget*>("control1")->isEnabled());
        QVERIFY(!window->findChild<QWidget*>("control1007")->isVisible());
        QCOMPARE(window->findChild<QLineEdit*>("control1003")->text(),
                 QString("Firmware update completed."));
    }

    void executeWithoutPortsShowsTheDialogsErrorBox() {
        midi::LoopbackBackend backend;
        const auto window = Open(backend, 1);
        QString caption, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QWidget* owner = nullptr;
        QTimer::singleShot(0, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                caption = box->windowTitle();
                text = box->text();
                icon = box->icon();
                owner = box->parentWidget();
                box->button(QMessageBox::Ok)->click();
            }
        });
        QTest::mouseClick(window->findChild<QPushButton*>("control1"), Qt::LeftButton);
        QCOMPARE(caption, QString("Error"));
        QCOMPARE(text, QString("Can't open MIDI Out device."));
        QCOMPARE(icon, QMessageBox::Critical);
        QCOMPARE(owner, window.get());
        QVERIFY(window->isVisible());
    }

    // One answer to "may the window close" after each way a start or a run
    // can end: the close button, Escape and the title bar's close all give it.
    void closingFollowsTheEndOfTheRun_data() {
        QTest::addColumn<RunEnd>("end");
        QTest::addColumn<bool>("byEscape");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("mayClose");
        const struct {
            RunEnd end;
            const char* name;
            const char* box;
            const char* status;
            bool mayClose;
        } rows[] = {
            {RunEnd::kOutputRefused, "output refused", "Can't open MIDI Out device.", "", true},
            {RunEnd::kInputRefused, "input refused", "Can't open MIDI In device.", "", true},
            {RunEnd::kFailed, "failed", "Transfer error occurred.", "", true},
            {RunEnd::kCompleted, "completed", "", "Firmware update completed.", true},
            {RunEnd::kWaiting, "waiting for the device", "", "Ready for firmware update!", true},
            {RunEnd::kRunning, "running", "", "", false},
        };
        for (const auto& row : rows) {
            for (const bool byEscape : {true, false}) {
                QTest::addRow("%s, %s", row.name, byEscape ? "Escape" : "title bar")
                    << row.end << byEscape << QString(row.box) << QString(row.status)
                    << row.mayClose;
            }
        }
    }
    void closingFollowsTheEndOfTheRun() {
        QFETCH(RunEnd, end);
        QFETCH(bool, byEscape);
        QFETCH(QString, box);
        QFETCH(QString, status);
        QFETCH(bool, mayClose);
        midi::LoopbackBackend backend;
        const auto device = testing::StartDeviceEndingIn(backend, end);
        CVekUpdatorDlg::Options options;
        options.timing = testing::FastTiming();
        // The running row's run waits for the identity reply until the window goes.
        options.timing.identityWait = std::chrono::minutes(10);
        const auto window = MakeUpdaterWindow(backend, options);
        window->show();
        QStringList boxes;
        QTimer closer;
        connect(&closer, &QTimer::timeout, [&] {
            if (auto* shown = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                boxes << shown->text();
                shown->button(QMessageBox::Ok)->click();
            }
        });
        closer.start(5);
        auto* exit = window->findChild<QPushButton*>("control2");
        auto* statusLine = window->findChild<QLineEdit*>("control1003");

        QTest::mouseClick(window->findChild<QPushButton*>("control1"), Qt::LeftButton);
        const QStringList expectedBoxes = box.isEmpty() ? QStringList() : QStringList{box};
        QTRY_VERIFY_WITH_TIMEOUT(boxes == expectedBoxes &&
                                     (status.isEmpty() || statusLine->text() == status) &&
                                     exit->isEnabled() == mayClose,
                                 20000);
        QCOMPARE(window->windowFlags().testFlag(Qt::WindowCloseButtonHint), mayClose);
        if (byEscape) {
            QTest::keyClick(window.get(), Qt::Key_Escape);
        } else {
            QCOMPARE(window->close(), mayClose);
        }
        QCOMPARE(window->isVisible(), !mayClose);
    }

    void screenshots() {
        midi::LoopbackBackend backend;
        AddPorts(backend, {"USB Audio Device"}, {"USB Audio Device"});
        const auto window = Open(backend, 1);
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        SaveScreenshot(*window, "dialog-idle");

        window->SetControlText(Control::kStatus, "Ready for firmware update!");
        window->SetControlText(Control::kHint, "Please restart the device.");
        window->SetControlText(Control::kStep, "0/4");
        window->ShowControl(Control::kPicRestart, true);
        SaveScreenshot(*window, "dialog-restart");
        window->findChild<QLabel*>("control1007")
            ->pixmap()
            .save(CORVANE_SCREENSHOT_DIR "/restart-picture.png");
        window->windowIcon().pixmap(48).save(CORVANE_SCREENSHOT_DIR "/icon-48.png");
    }
};

}  // namespace corvane::app::qt

QTEST_MAIN(corvane::app::qt::UpdaterWindowDialogTest)
#include "updater_window_dialog_test.moc"
