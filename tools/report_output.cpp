#include "tools/report_output.h"

#include <algorithm>

#include "tools/json_line.h"

namespace corvane::tools {

namespace {

constexpr int kPlainProgressStep = 10;  // percent between two plain progress lines

std::string SocketText(const DeviceState& d) {
    return d.socket.empty() ? "(by name)" : d.socket;
}

std::string OutcomeText(const DeviceState& d) {
    switch (d.outcome) {
        case Outcome::kCompleted:
            return "completed";
        case Outcome::kFailed:
            return d.box.empty() ? "failed" : d.box;
        case Outcome::kRunning:
            break;
    }
    return "running";
}

std::string SecondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", seconds);
    return text;
}

// Characters, not bytes, so that columns of UTF-8 names line up.
std::size_t Width(const std::string& text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

std::string Padded(const std::string& text, std::size_t width) {
    return text + std::string(width - std::min(width, Width(text)), ' ');
}

std::string Columns(const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (std::size_t c = 0; c < row.size(); ++c) {
            widths[c] = std::max(widths[c], Width(row[c]));
        }
    }
    std::string text;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) {
            line += c + 1 < row.size() ? Padded(row[c], widths[c]) + "  " : row[c];
        }
        text += line + "\n";
    }
    return text;
}

// Built by appending: GCC 12 at -O3 takes "#" + std::to_string(...) for an
// overlapping copy and fails the build with -Werror=restrict.
std::string NumberTag(const DeviceState& d) {
    std::string tag = "#";
    tag += std::to_string(d.number);
    return tag;
}

std::string LiveLine(const DeviceState& d) {
    std::string state;
    if (d.outcome != Outcome::kRunning) {
        state = OutcomeText(d) + " (" + SecondsText(d.seconds) + ")";
    } else {
        state = d.status + " " + std::to_string(d.percent) + "%";
    }
    return NumberTag(d) + "  " + SocketText(d) + "  " + d.name + "  " + d.step + "  " + state;
}

}  // namespace

std::string EndTable(const std::vector<DeviceState>& devices) {
    std::vector<std::vector<std::string>> rows{{"#", "SOCKET", "NAME", "OUTCOME", "TIME"}};
    for (const DeviceState& d : devices) {
        rows.push_back({std::to_string(d.number), SocketText(d), d.name, OutcomeText(d),
                        SecondsText(d.seconds)});
    }
    return Columns(rows);
}

void LiveScreen::Event(ReportEvent, const std::vector<DeviceState>& devices, const DeviceState&) {
    // Back to the first line of the last drawing, then every line anew.
    if (m_drawn > 0) {
        std::fprintf(m_out, "\033[%zuA", m_drawn);
    }
    for (const DeviceState& d : devices) {
        std::fprintf(m_out, "\r\033[K%s\n", LiveLine(d).c_str());
    }
    m_drawn = devices.size();
    std::fflush(m_out);
}

void LiveScreen::Table(const std::vector<DeviceState>& devices) {
    std::fprintf(m_out, "\n%s", EndTable(devices).c_str());
    std::fflush(m_out);
}

void EventLines::Event(ReportEvent event, const std::vector<DeviceState>&, const DeviceState& d) {
    const std::string who = NumberTag(d) + " " + SocketText(d) + ": ";
    std::string what;
    switch (event) {
        case ReportEvent::kFound:
            what = "found " + d.name;
            break;
        case ReportEvent::kStep:
            what = "step " + d.step + " " + d.status;
            break;
        case ReportEvent::kProgress: {
            m_shownPercent.resize(
                std::max<std::size_t>(m_shownPercent.size(), static_cast<std::size_t>(d.number)),
                -1);
            int& shown = m_shownPercent[static_cast<std::size_t>(d.number - 1)];
            const int step = d.percent / kPlainProgressStep * kPlainProgressStep;
            if (step == shown) {
                return;
            }
            shown = step;
            what = "progress " + std::to_string(step) + "%";
            break;
        }
        case ReportEvent::kRestart:
            what = "restart into update mode";
            break;
        case ReportEvent::kEnded:
            what = OutcomeText(d) + " in " + SecondsText(d.seconds);
            break;
    }
    std::fprintf(m_out, "%s%s\n", who.c_str(), what.c_str());
    std::fflush(m_out);
}

void EventLines::Table(const std::vector<DeviceState>& devices) {
    std::fprintf(m_out, "%s", EndTable(devices).c_str());
    std::fflush(m_out);
}

void JsonEvents::Event(ReportEvent event, const std::vector<DeviceState>&, const DeviceState& d) {
    static constexpr const char* kNames[] = {"found", "step", "progress", "restart", "end"};
    JsonLine line;
    line.Text("event", kNames[static_cast<int>(event)]).Number("device", d.number);
    if (d.socket.empty()) {
        line.Null("socket");
    } else {
        line.Text("socket", d.socket);
    }
    switch (event) {
        case ReportEvent::kFound:
            line.Text("name", d.name).Text("bound", d.socket.empty() ? "name" : "socket");
            break;
        case ReportEvent::kStep:
            line.Text("step", d.step).Text("status", d.status);
            break;
        case ReportEvent::kProgress:
            line.Number("percent", d.percent);
            break;
        case ReportEvent::kRestart:
            break;
        case ReportEvent::kEnded:
            line.Text("name", d.name);
            line.Text("outcome", d.outcome == Outcome::kCompleted ? "completed" : "failed");
            if (d.box.empty()) {
                line.Null("box");
            } else {
                line.Text("box", d.box);
            }
            line.Seconds("seconds", d.seconds);
            break;
    }
    std::fprintf(m_out, "%s\n", line.Object().c_str());
    std::fflush(m_out);
}

}  // namespace corvane::tools
