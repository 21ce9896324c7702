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
    m_lists.Reset(list);
}

void DeviceRunView::AddListEntry(Control list, const std::string& text) {
    m_lists.Add(list, text);
}

void DeviceRunView::SetListSelection(Control list, int index) {
    m_lists.Select(list, index);
}

int DeviceRunView::ListSelection(Control list) const {
    return m_lists.Selection(list);
}

void DeviceRunView::ShowErrorBox(const std::string& text, const std::string&) {
    ++m_errorBoxes;
    if (m_box.empty()) {
        m_box = text;
    }
}

const std::vector<std::string>& DeviceRunView::List(Control list) const {
    return m_lists.Entries(list);
}

int DeviceRunView::FindEntry(Control list, const std::string& name) const {
    return m_lists.Find(list, name);
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
