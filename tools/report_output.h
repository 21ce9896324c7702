#pragma once
// Where the report of a many-device run goes: on a terminal one line per
// device redrawn in place, without one a line per event, or one JSON object
// per event for a program to read (the schema is in the README). The report
// calls these under its lock, one at a time.

#include <cstdio>
#include <string>
#include <vector>

namespace corvane::tools {

enum class Outcome { kRunning, kCompleted, kFailed };

struct DeviceState {
    int number = 0;      // from 1, in the order found
    std::string socket;  // empty: followed by its port names
    std::string name;
    std::string step;
    std::string status;
    int percent = 0;
    Outcome outcome = Outcome::kRunning;
    std::string box;  // a failed run's error box
    double seconds = 0;
};

enum class ReportEvent { kFound, kStep, kProgress, kRestart, kEnded };

class ReportOutput {
public:
    virtual ~ReportOutput() = default;
    // `changed` is one of `devices`.
    virtual void Event(ReportEvent event, const std::vector<DeviceState>& devices,
                       const DeviceState& changed) = 0;
    // Once every run has ended.
    virtual void Table(const std::vector<DeviceState>& devices) = 0;
};

// The end table: socket, name, outcome (completed, or the box text), time.
std::string EndTable(const std::vector<DeviceState>& devices);

// One line per device, redrawn in place; then the end table.
class LiveScreen final : public ReportOutput {
public:
    explicit LiveScreen(std::FILE* out) : m_out(out) {}
    void Event(ReportEvent event, const std::vector<DeviceState>& devices,
               const DeviceState& changed) override;
    void Table(const std::vector<DeviceState>& devices) override;

private:
    std::FILE* const m_out;
    std::size_t m_drawn = 0;  // lines of the last drawing
};

// One line per event, progress in steps of ten percent; then the end table.
class EventLines final : public ReportOutput {
public:
    explicit EventLines(std::FILE* out) : m_out(out) {}
    void Event(ReportEvent event, const std::vector<DeviceState>& devices,
               const DeviceState& changed) override;
    void Table(const std::vector<DeviceState>& devices) override;

private:
    std::FILE* const m_out;
    std::vector<int> m_shownPercent;  // per device, the last step printed
};

// One JSON object per event and line; the end events are the table.
class JsonEvents final : public ReportOutput {
public:
    explicit JsonEvents(std::FILE* out) : m_out(out) {}
    void Event(ReportEvent event, const std::vector<DeviceState>& devices,
               const DeviceState& changed) override;
    void Table(const std::vector<DeviceState>&) override {}

private:
    std::FILE* const m_out;
};

}  // namespace corvane::tools
