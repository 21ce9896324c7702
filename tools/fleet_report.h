#pragma once
// What each device of a many-device run does and how its run ended: the one
// place the runs' threads report to. Each change goes to the output as it
// happens, in one order for all devices.

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "tools/report_output.h"

namespace corvane::tools {

class FleetReport {
public:
    explicit FleetReport(ReportOutput& output);

    // A device found; returns its number in the report, from 1. An empty
    // socket: the device is followed by its port names.
    int Found(const std::string& socket, const std::string& name);
    // The step indicator or the status line changed.
    void Step(int device, const std::string& step, const std::string& status);
    // Called as often as the progress moves; reported when the percent changes.
    void Progress(int device, int percent);
    // The device was asked to restart into its update mode.
    void Restart(int device);
    // `box`: the error box that ended a failed run, or what stopped it.
    void Ended(int device, bool completed, const std::string& box,
               std::chrono::duration<double> elapsed);
    // The table of every device and its outcome; true when every run completed.
    bool Finish();

private:
    DeviceState& At(int device);  // m_mutex held

    ReportOutput& m_output;
    std::mutex m_mutex;  // guards m_devices and every call of m_output
    std::vector<DeviceState> m_devices;
};

}  // namespace corvane::tools
