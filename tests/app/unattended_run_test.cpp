// The demo's unattended run: it presses Execute, and ends the window when the
// update has completed or a box has ended it.

#include <QTest>

#include "app/qt/unattended_run.h"
#include "device/demo_system.h"
#include "support/dialog_harness.h"

namespace corvane::app::qt {

class UnattendedRunTest : public QObject {
    Q_OBJECT

private slots:
    void endsTheWindowOnceTheUpdateHasCompleted() {
        device::DeviceConfig config = device::DemoSystem::DemoDevice();
        config.prepareStatus = device::kPrepareReady;
        device::DemoSystem demo(config);
        auto window = MakeUpdaterWindow(demo, Fast());
        int completions = 0;
        UnattendedRun run(*window, [&] { ++completions; });
        window->exec();
        QVERIFY(run.Completed());
        QCOMPARE(completions, 1);
        QCOMPARE(run.Failure(), QString());
    }

    void closesTheBoxThatEndedTheRunAndSaysWhatItSaid() {
        device::DeviceConfig config = device::DemoSystem::DemoDevice();
        config.prepareStatus = device::kPrepareLowBattery;
        device::DemoSystem demo(config);
        auto window = MakeUpdaterWindow(demo, Fast());
        int completions = 0;
        UnattendedRun run(*window, [&] { ++completions; });
        window->exec();
        QVERIFY(!run.Completed());
        QCOMPARE(completions, 0);
        QCOMPARE(run.Failure(), QString("Low Battery"));
    }

    // The box that refuses the start comes up inside the click on Execute.
    void failsAtOnceWhenThereIsNoDeviceToUpdate() {
        midi::LoopbackBackend nothing;
        auto window = MakeUpdaterWindow(nothing, Fast());
        UnattendedRun run(*window, {});
        window->exec();
        QVERIFY(!run.Completed());
        QVERIFY(!run.Failure().isEmpty());
    }

private:
    static CVekUpdatorDlg::Options Fast() {
        CVekUpdatorDlg::Options options;
        options.timing = testing::FastTiming();
        return options;
    }
};

}  // namespace corvane::app::qt

QTEST_MAIN(corvane::app::qt::UnattendedRunTest)
#include "unattended_run_test.moc"
