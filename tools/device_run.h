#pragma once
// One device's run in a many-device update: the dialog of one window on the
// device's bound ports, driven by a FlashSession on a thread of its own, which
// reports to the fleet's report and ends the run there.

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/updater_dialog.h"
#include "midi/device_binding.h"
#include "tools/device_run_view.h"
#include "tools/flash_session.h"

namespace corvane::tools {

class DeviceRun {
public:
    // Starts the run at once. `bases`: the names the device may carry.
    DeviceRun(midi::PortDirectory& ports, const midi::DeviceBinding& device,
              const std::vector<std::string>& bases, const app::CVekUpdatorDlg::Options& options,
              FleetReport& report);
    // Waits for the run's end.
    ~DeviceRun();
    DeviceRun(const DeviceRun&) = delete;
    DeviceRun& operator=(const DeviceRun&) = delete;

    // Ends the run as failed, the dialog abandoning it as a closed window
    // does; any thread.
    void Interrupt() { m_session.Interrupt(); }
    // Whether the run has ended and its end is in the report; any thread.
    bool Ended() const { return m_ended; }
    const midi::DeviceBinding& Device() const { return m_device; }

private:
    void Run();

    const midi::DeviceBinding m_device;
    FleetReport& m_report;
    const int m_number;
    midi::BoundPorts m_ports;
    DeviceRunView m_view;  // the run's thread only, once it has started
    FlashSession m_session;
    std::atomic<bool> m_ended{false};
    std::thread m_thread;  // last: starts once everything above exists
};

}  // namespace corvane::tools
