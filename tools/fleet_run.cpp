#include "tools/fleet_run.h"

#include "midi/device_binding.h"

namespace corvane::tools {

FleetRun::FleetRun(midi::MidiBackend& system, FleetReport& report, FleetOptions options)
    : m_ports(system), m_report(report), m_options(std::move(options)) {}

FleetRun::~FleetRun() = default;

namespace {

// Looks at the start, a look period apart, for one the system holds still for.
constexpr int kFirstLooks = 20;

}  // namespace

bool FleetRun::Look() {
    const auto ports = m_ports.SteadyLook();
    if (!ports) {
        // What is plugged in stays as the last look saw it: a device still
        // there is no new plug at the next look.
        return false;
    }
    std::set<std::string> present;
    for (const auto& run : m_runs) {
        if (!run->Ended()) {
            present.insert(run->Device().inKey);
        }
    }
    // A device is known between two looks by its input's key.
    for (const midi::DeviceBinding& device : midi::FindDevices(*ports, m_options.names)) {
        const std::string& key = device.inKey;
        // Still plugged in since the last look, or still being updated
        // (away for its restart, say): no new plug.
        if (!m_present.contains(key) && !present.contains(key)) {
            m_runs.push_back(std::make_unique<DeviceRun>(m_ports, device, m_options.names,
                                                         m_options.dialog, m_report));
            ++m_started;
        }
        present.insert(key);
    }
    m_present = std::move(present);
    return true;
}

int FleetRun::Run() {
    for (int look = 1; !Look() && look < kFirstLooks; ++look) {
        std::unique_lock lock(m_mutex);
        if (m_wake.wait_for(lock, m_options.lookPeriod, [this] { return m_stop; })) {
            break;
        }
    }
    for (;;) {
        bool stop = false;
        bool abandon = false;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait_for(lock, m_options.lookPeriod);
            stop = m_stop || !m_options.wait;
            abandon = m_abandon;
        }
        if (abandon) {
            for (const auto& run : m_runs) {
                run->Interrupt();
            }
        }
        // Ended runs go at once: a bench may plug units in for hours.
        std::erase_if(m_runs, [](const std::unique_ptr<DeviceRun>& run) { return run->Ended(); });
        if (stop && m_runs.empty()) {
            return m_started;
        }
        if (!stop) {
            Look();
        }
    }
}

void FleetRun::Stop(bool abandon) {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
        m_abandon = m_abandon || abandon;
    }
    m_wake.notify_all();
}

}  // namespace corvane::tools
