#include "tools/device_run_view.h"

#include <algorithm>

#include "update/strings.h"

namespace corvane::tools {

using app::Control;

DeviceRunView::DeviceRunView(FleetReport& report, int device)
    : m_report(report), m_device(device) {}

void DeviceRunView::ShowControl(Control control, bool show) {
    // The replug picture beside "Ready for firmware update!" asks for the
    // restart into update mode; beside "completed" it only closes the run.
    if (control == Control::kPicRestart && show &&
        Text(Control::kStatus) == update::LoadString(update::IDS_READY_FOR_UPDATE)) {
        m_report.Restart(m_device);
    }
}

void DeviceRunView::SetControlText(Control control, const std::string& text) {
    m_texts[control] = text;
    if (control == Control::kStep || control == Control::kStatus) {
        m_report.Step(m_device, Text(Control::kStep), Text(Control::kStatus));
    }
}

void DeviceRunView::SetProgressRange(int lower, int upper) {
    m_lower = lower;
    m_upper = upper;
}

void DeviceRunView::SetProgressPos(int position) {
    const long long span = static_cast<long long>(m_upper) - m_lower;
    if (span <= 0) {
        return;
    }
    const long long done =
        std::clamp<long long>(position - static_cast<long long>(m_lower), 0, span);
    m_report.Progress(m_device, static_cast<int>(done * 100 / span));
}

void DeviceRunView::ResetList(Control list) {
    m_lists[list].clear();
    m_selection[list] = -1;
}

void DeviceRunView::AddListEntry(Control list, const std::string& text) {
    m_lists[list].push_back(text);
}

void DeviceRunView::SetListSelection(Control list, int index) {
    const int count = static_cast<int>(m_lists[list].size());
    m_selection[list] = index >= 0 && index < count ? index : -1;
}

int DeviceRunView::ListSelection(Control list) const {
    const auto it = m_selection.find(list);
    return it == m_selection.end() ? -1 : it->second;
}

void DeviceRunView::ShowErrorBox(const std::string& text, const std::string&) {
    ++m_errorBoxes;
    if (m_box.empty()) {
        m_box = text;
    }
}

const std::vector<std::string>& DeviceRunView::List(Control list) const {
    static const std::vector<std::string> kEmpty;
    const auto it = m_lists.find(list);
    return it == m_lists.end() ? kEmpty : it->second;
}

int DeviceRunView::FindEntry(Control list, const std::string& name) const {
    const auto& entries = List(list);
    const auto it = std::find(entries.rbegin(), entries.rend(), name);
    return it == entries.rend() ? -1 : static_cast<int>(entries.rend() - it) - 1;
}

const std::string& DeviceRunView::Text(Control control) const {
    static const std::string kEmpty;
    const auto it = m_texts.find(control);
    return it == m_texts.end() ? kEmpty : it->second;
}

void DeviceRunView::PrintError(const std::string& line) {
    constexpr std::string_view kPrefix = "Error: ";
    if (m_box.empty()) {
        m_box = line.starts_with(kPrefix) ? line.substr(kPrefix.size()) : line;
    }
}

}  // namespace corvane::tools
