#include "midi/port_watcher.h"

namespace corvane::midi {

PortWatcher::PortWatcher(MidiBackend& backend, Callback onDevicesChanged,
                         std::chrono::milliseconds period)
    : m_backend(backend), m_onDevicesChanged(std::move(onDevicesChanged)), m_period(period) {}

PortWatcher::~PortWatcher() {
    Stop();
}

void PortWatcher::Start() {
    if (m_thread.joinable()) {
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_stop = false;
    }
    m_thread = std::thread(
        [this, first = PortListSnapshot(m_backend)]() mutable { Run(std::move(first)); });
}

void PortWatcher::Stop() {
    if (!m_thread.joinable()) {
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void PortWatcher::Run(PortListSnapshot ports) {
    std::unique_lock lock(m_mutex);
    while (!m_wake.wait_for(lock, m_period, [this] { return m_stop; })) {
        lock.unlock();
        if (ports.LookAgain() && m_onDevicesChanged) {
            m_onDevicesChanged();
        }
        lock.lock();
    }
}

}  // namespace corvane::midi
