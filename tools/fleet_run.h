#pragma once
// Updates many devices at once: every device found on the system whose ports
// carry one of the wanted names gets a run of its own (a DeviceRun), all in
// parallel, none disturbing another. With `wait` it goes on looking and
// updates each device as it is plugged in, once per plug, until stopped.

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "app/updater_dialog.h"
#include "midi/midi_backend.h"
#include "midi/port_directory.h"
#include "tools/device_run.h"
#include "tools/fleet_report.h"

namespace corvane::tools {

struct FleetOptions {
    std::vector<std::string> names;  // the wanted device names
    bool wait = false;
    app::CVekUpdatorDlg::Options dialog;  // of every run
    // How often the system is looked at for new devices (with `wait`) and
    // the runs for their end.
    std::chrono::milliseconds lookPeriod{250};
};

class FleetRun {
public:
    FleetRun(midi::MidiBackend& system, FleetReport& report, FleetOptions options);
    ~FleetRun();
    FleetRun(const FleetRun&) = delete;
    FleetRun& operator=(const FleetRun&) = delete;

    // Returns once every run has ended: without `wait` those of the devices
    // found at once, with it every run started until Stop. The number of
    // devices updated or tried.
    int Run();
    // No new device is taken; running updates end by themselves, or with
    // `abandon` are abandoned as a closed window abandons its run. Any thread.
    void Stop(bool abandon);

private:
    // Starts a run for each device plugged in since the last look; false
    // when the system kept changing and the look learnt nothing.
    bool Look();
    midi::PortDirectory m_ports;
    FleetReport& m_report;
    const FleetOptions m_options;

    std::mutex m_mutex;  // guards m_stop and m_abandon
    std::condition_variable m_wake;
    bool m_stop = false;
    bool m_abandon = false;

    // The thread of Run only.
    std::vector<std::unique_ptr<DeviceRun>> m_runs;
    std::set<std::string> m_present;  // devices of the last look and of running runs
    int m_started = 0;
};

}  // namespace corvane::tools
