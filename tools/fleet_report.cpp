#include "tools/fleet_report.h"

#include <algorithm>

namespace corvane::tools {

namespace {

// A status whose numbers alone moved ("Data transmit  4096 / 921600") is
// progress, which the progress events tell; its words are the news.
std::string Words(const std::string& status) {
    std::string words = status;
    std::erase_if(words, [](char c) { return c >= '0' && c <= '9'; });
    return words;
}

}  // namespace

FleetReport::FleetReport(ReportOutput& output) : m_output(output) {}

DeviceState& FleetReport::At(int device) {
    return m_devices.at(static_cast<std::size_t>(device - 1));
}

int FleetReport::Found(const std::string& socket, const std::string& name) {
    std::lock_guard lock(m_mutex);
    DeviceState state;
    state.number = static_cast<int>(m_devices.size()) + 1;
    state.socket = socket;
    state.name = name;
    m_devices.push_back(std::move(state));
    m_output.Event(ReportEvent::kFound, m_devices, m_devices.back());
    return m_devices.back().number;
}

void FleetReport::Step(int device, const std::string& step, const std::string& status) {
    std::lock_guard lock(m_mutex);
    DeviceState& state = At(device);
    const bool news = state.step != step || Words(state.status) != Words(status);
    state.step = step;
    state.status = status;
    if (news) {
        m_output.Event(ReportEvent::kStep, m_devices, state);
    }
}

void FleetReport::Progress(int device, int percent) {
    std::lock_guard lock(m_mutex);
    DeviceState& state = At(device);
    if (state.percent == percent) {
        return;
    }
    state.percent = percent;
    m_output.Event(ReportEvent::kProgress, m_devices, state);
}

void FleetReport::Restart(int device) {
    std::lock_guard lock(m_mutex);
    m_output.Event(ReportEvent::kRestart, m_devices, At(device));
}

void FleetReport::Ended(int device, bool completed, const std::string& box,
                        std::chrono::duration<double> elapsed) {
    std::lock_guard lock(m_mutex);
    DeviceState& state = At(device);
    state.outcome = completed ? Outcome::kCompleted : Outcome::kFailed;
    state.box = box;
    state.seconds = elapsed.count();
    m_output.Event(ReportEvent::kEnded, m_devices, state);
}

bool FleetReport::Finish() {
    std::lock_guard lock(m_mutex);
    m_output.Table(m_devices);
    return std::all_of(m_devices.begin(), m_devices.end(),
                       [](const DeviceState& d) { return d.outcome == Outcome::kCompleted; });
}

}  // namespace corvane::tools
