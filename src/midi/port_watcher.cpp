#include "midi/port_watcher.h"

namespace corvane::midi {

PortWatcher::PortWatcher(PortDirectory& ports, Callback onDevicesChanged,
                         std::chrono::milliseconds period, HeldGone heldGone)
    : m_ports(ports),
      m_onDevicesChanged(std::move(onDevicesChanged)),
      m_period(period),
      m_heldGone(std::move(heldGone)) {}

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
    m_thread = std::thread([this, first = m_ports.Look(), gone = HeldPortGone()]() mutable {
        Run(std::move(first), gone);
    });
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

bool PortWatcher::HeldPortGone() const {
    return m_heldGone && m_heldGone();
}

void PortWatcher::Run(PortSnapshot last, bool wasGone) {
    std::unique_lock lock(m_mutex);
    while (!m_wake.wait_for(lock, m_period, [this] { return m_stop; })) {
        lock.unlock();
        // While the system keeps changing, the next look tells.
        std::optional<PortSnapshot> now = m_ports.SteadyLook();
        std::vector<PortChange> changes;
        if (now) {
            changes = ChangesBetween(last, *now);
            last = std::move(*now);
        }
        // A gone port stays gone until the owner opens another: only its going counts.
        const bool gone = HeldPortGone();
        const bool went = gone && !wasGone;
        wasGone = gone;
        if ((!changes.empty() || went) && m_onDevicesChanged) {
            m_onDevicesChanged(changes);
        }
        lock.lock();
    }
}

}  // namespace corvane::midi
