// The demo as a user sees it: the window on the simulated device goes through
// the replug step and completes the update by itself, and a user tired of
// waiting for the device can leave.

#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "app/qt/updater_start.h"
#include "device/demo_system.h"
#include "support/dialog_harness.h"

namespace corvane::app::qt {

class DemoWindowTest : public QObject {
    Q_OBJECT

private slots:
    void completesAfterTheReplug() {
        // Away for longer than the window's one-second look at the port lists.
        device::DemoSystem demo(device::DemoSystem::DemoDevice(std::chrono::milliseconds(1500)));
        CVekUpdatorDlg::Options options;
        options.timing = testing::FastTiming();
        auto window = MakeUpdaterWindow(demo, options);
        window->show();
        auto* status = window->findChild<QLineEdit*>("control1003");
        auto* hint = window->findChild<QLineEdit*>("control1008");
        auto* execute = window->findChild<QPushButton*>("control1");
        QVERIFY(status && hint && execute);

        execute->click();
        // The worker sets the status and the hint one after the other.
        QTRY_COMPARE_WITH_TIMEOUT(status->text(), QString("Ready for firmware update!"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(hint->text(), QString("Please restart the device."), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(status->text(), QString("Firmware update completed."), 30000);
        QVERIFY(demo.Device().InUpdateMode());
        QVERIFY(window->isVisible());

        QDir().mkpath(CORVANE_SCREENSHOT_DIR);
        QVERIFY(window->grab().save(CORVANE_SCREENSHOT_DIR "/demo-completed.png"));
    }

    void exitEndsTheWaitForADeviceThatNeverReturns() {
        device::DemoSystem demo(device::DemoSystem::DemoDevice(device::kForever));
        CVekUpdatorDlg::Options options;
        options.timing = testing::FastTiming();
        auto window = MakeUpdaterWindow(demo, options);
        window->show();
        auto* hint = window->findChild<QLineEdit*>("control1008");
        auto* execute = window->findChild<QPushButton*>("control1");
        auto* exit = window->findChild<QPushButton*>("control2");
        auto* rescan = window->findChild<QPushButton*>("control1004");
        auto* list = window->findChild<QWidget*>("control1000");
        QVERIFY(hint && execute && exit && rescan && list);

        execute->click();
        QTRY_COMPARE_WITH_TIMEOUT(hint->text(), QString("Please restart the device."), 10000);
        // The waiting state's controls come one call at a time; the lists last.
        QTRY_VERIFY_WITH_TIMEOUT(!list->isEnabled() && !execute->isEnabled() &&
                                     !rescan->isEnabled() && exit->isEnabled(),
                                 10000);
        QVERIFY(window->windowFlags() & Qt::WindowCloseButtonHint);
        QTest::mouseClick(exit, Qt::LeftButton);
        QVERIFY(!window->isVisible());
        QCOMPARE(window->result(), int(QDialog::Rejected));
    }
};

}  // namespace corvane::app::qt

QTEST_MAIN(corvane::app::qt::DemoWindowTest)
#include "demo_window_test.moc"
