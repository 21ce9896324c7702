#include "app/qt/port_list_poller.h"

#include <utility>

namespace corvane::app::qt {

PortListPoller::PortListPoller(midi::MidiBackend& backend, std::function<void()> onChange,
                               QObject* parent, std::chrono::milliseconds period)
    : QObject(parent), m_ports(backend), m_onChange(std::move(onChange)) {
    connect(&m_timer, &QTimer::timeout, this, &PortListPoller::Check);
    m_timer.start(period);
}

void PortListPoller::Check() {
    if (m_ports.LookAgain()) {
        m_onChange();
    }
}

}  // namespace corvane::app::qt
