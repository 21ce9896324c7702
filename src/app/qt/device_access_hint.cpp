#include "app/qt/device_access_hint.h"

#include <QComboBox>

namespace corvane::app::qt {

namespace {

bool ListEmpty(const UpdaterWindow& window, Control list) {
    const auto* box = qobject_cast<const QComboBox*>(window.ControlWidget(list));
    return box == nullptr || box->count() == 0;
}

}  // namespace

void ShowDeviceAccessHint(UpdaterWindow& window, const midi::BlockedMidiDevices& blocked) {
    if (!blocked.Any() || !ListEmpty(window, Control::kMidiIn) ||
        !ListEmpty(window, Control::kMidiOut)) {
        return;
    }
    window.SetControlText(Control::kHint, midi::DeviceAccessHint(blocked));
    if (QWidget* hint = window.ControlWidget(Control::kHint)) {
        hint->setToolTip(QString::fromStdString(midi::DeviceAccessExplanation(blocked)));
    }
}

}  // namespace corvane::app::qt
