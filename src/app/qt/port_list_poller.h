#pragma once
// Watches the MIDI port lists: about once a second it lists the ports again
// and reports a change (a device came or went) to its callback, on the
// thread that owns it.

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

#include "midi/midi_backend.h"
#include "midi/port_list_snapshot.h"

namespace corvane::app::qt {

class PortListPoller final : public QObject {
public:
    static constexpr std::chrono::milliseconds kDefaultPeriod{1000};

    PortListPoller(midi::MidiBackend& backend, std::function<void()> onChange, QObject* parent,
                   std::chrono::milliseconds period = kDefaultPeriod);

private:
    void Check();

    midi::PortListSnapshot m_ports;
    std::function<void()> m_onChange;
    QTimer m_timer;
};

}  // namespace corvane::app::qt
