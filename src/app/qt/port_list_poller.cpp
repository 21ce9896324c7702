#include "app/qt/port_list_poller.h"

#include <utility>

namespace corvane::app::qt {

PortListPoller::PortListPoller(midi::MidiBackend& backend, std::function<void()> onChange,
                               QObject* parent, std::chrono::milliseconds period)
    : QObject(parent),
      m_backend(backend),
      m_onChange(std::move(onChange)),
      m_inputs(backend.InputPortNames()),
      m_outputs(backend.OutputPortNames()) {
    connect(&m_timer, &QTimer::timeout, this, &PortListPoller::Check);
    m_timer.start(period);
}

void PortListPoller::Check() {
    auto inputs = m_backend.InputPortNames();
    auto outputs = m_backend.OutputPortNames();
    if (inputs == m_inputs && outputs == m_outputs) {
        return;
    }
    m_inputs = std::move(inputs);
    m_outputs = std::move(outputs);
    m_onChange();
}

}  // namespace corvane::app::qt
