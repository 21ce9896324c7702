// The window's hint when the MIDI device files are closed to the user: shown
// only when the port lists came out empty.

#include <QLineEdit>
#include <QTest>

#include "app/qt/device_access_hint.h"
#include "app/qt/updater_start.h"
#include "midi/loopback_backend.h"

namespace corvane::app::qt {

class DeviceAccessHintTest : public QObject {
    Q_OBJECT

private slots:
    void showsTheHintWhenNoPortIsListed() {
        midi::LoopbackBackend backend;
        auto window = MakeUpdaterWindow(backend, {});
        ShowDeviceAccessHint(*window, Blocked());
        auto* hint = window->findChild<QLineEdit*>("control1008");
        QVERIFY(hint);
        QCOMPARE(hint->text(), QString("No access to the MIDI devices: join the group \"audio\"."));
        QVERIFY(hint->toolTip().contains("/dev/snd/seq"));
    }

    void saysNothingWhenPortsAreListedOrNothingIsBlocked() {
        midi::LoopbackBackend withPorts;
        withPorts.AddInput("BRAX Lumen Series");
        withPorts.AddOutput("BRAX Lumen Series");
        auto listed = MakeUpdaterWindow(withPorts, {});
        ShowDeviceAccessHint(*listed, Blocked());
        QCOMPARE(listed->findChild<QLineEdit*>("control1008")->text(), QString());

        midi::LoopbackBackend empty;
        auto open = MakeUpdaterWindow(empty, {});
        ShowDeviceAccessHint(*open, {});
        QCOMPARE(open->findChild<QLineEdit*>("control1008")->text(), QString());
    }

private:
    static midi::BlockedMidiDevices Blocked() { return {{"/dev/snd/seq"}, "audio"}; }
};

}  // namespace corvane::app::qt

QTEST_MAIN(corvane::app::qt::DeviceAccessHintTest)
#include "device_access_hint_test.moc"
