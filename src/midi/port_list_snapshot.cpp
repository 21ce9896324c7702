#include "midi/port_list_snapshot.h"

#include <utility>

namespace corvane::midi {

PortListSnapshot::PortListSnapshot(MidiBackend& backend)
    : m_backend(&backend),
      m_inputs(backend.InputPortNames()),
      m_outputs(backend.OutputPortNames()) {}

bool PortListSnapshot::LookAgain() {
    auto inputs = m_backend->InputPortNames();
    auto outputs = m_backend->OutputPortNames();
    if (inputs == m_inputs && outputs == m_outputs) {
        return false;
    }
    m_inputs = std::move(inputs);
    m_outputs = std::move(outputs);
    return true;
}

}  // namespace corvane::midi
