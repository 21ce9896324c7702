#pragma once
// The window of one device's run in a many-device update: it keeps what the
// controls hold, as the console view does, and tells the fleet's report what
// the run shows instead of drawing it. Every call comes on the run's
// user-interface thread.

#include <map>
#include <string>
#include <vector>

#include "tools/fleet_report.h"
#include "tools/list_entries.h"
#include "tools/session_view.h"

namespace corvane::tools {

class DeviceRunView final : public SessionView {
public:
    DeviceRunView(FleetReport& report, int device);

    void SetTitle(const std::string&) override {}
    void EnableControl(app::Control, bool) override {}
    void ShowControl(app::Control control, bool show) override;
    void SetControlText(app::Control control, const std::string& text) override;
    void SetProgressRange(int lower, int upper) override;
    void SetProgressPos(int position) override;
    void EnableCloseCommand(bool) override {}
    void ResetList(app::Control list) override;
    void AddListEntry(app::Control list, const std::string& text) override;
    void SetListSelection(app::Control list, int index) override;
    int ListSelection(app::Control list) const override;
    void ShowErrorBox(const std::string& text, const std::string& caption) override;

    const std::vector<std::string>& List(app::Control list) const override;
    int FindEntry(app::Control list, const std::string& name) const override;
    const std::string& Text(app::Control control) const override;
    int ErrorBoxes() const override { return m_errorBoxes; }
    void Print(const std::string&) override {}
    void PrintError(const std::string& line) override;

    // What ended the run when it failed: the first error box, or the
    // session's own error; empty when there was none.
    const std::string& Box() const { return m_box; }

private:
    FleetReport& m_report;
    const int m_device;
    std::map<app::Control, std::string> m_texts;
    ListEntries m_lists;
    int m_lower = 0;
    int m_upper = 100;
    int m_errorBoxes = 0;
    std::string m_box;
};

}  // namespace corvane::tools
