// The demo as a user sees it: the window on the simulated device goes through
// the replug step and completes the update by itself.

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
        QTRY_COMPARE_WITH_TIMEOUT(status->text(), QString("Ready for firmware update!"), 10000);
        // The hint follows the status in a call of its own.
        QTRY_COMPARE_WITH_TIMEOUT(hint->text(), QString("Please restart the device."), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(status->text(), QString("Firmware update completed."), 30000);
        QVERIFY(demo.Device().InUpdateMode());
        QVERIFY(window->isVisible());

        QDir().mkpath(CORVANE_SCREENSHOT_DIR);
        QVERIFY(window->grab().save(CORVANE_SCREENSHOT_DIR "/demo-completed.png"));
    }
};

}  // namespace corvane::app::qt

QTEST_MAIN(corvane::app::qt::DemoWindowTest)
#include "demo_window_test.moc"
