#pragma once
// The updater's window on a console. On a terminal the step indicator, the
// status line and a progress bar share one line that is redrawn in place; when
// the output is a file or a pipe every change is one plain line. Error boxes go
// to the error stream as "Error: <text>" and close at once, as if OK had been
// pressed. Every call comes on the user-interface thread.

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "tools/list_entries.h"
#include "tools/session_view.h"

namespace corvane::tools {

class ConsoleView final : public SessionView {
public:
    ConsoleView(std::FILE* out, std::FILE* err, bool terminal);
    ~ConsoleView() override;

    void SetTitle(const std::string& title) override;
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
    void Print(const std::string& line) override;
    void PrintError(const std::string& line) override;
    void FinishProgress() override;

private:
    // Percent of the progress range, 0 to 100.
    int Percent() const;
    void Redraw();
    void ClearLine();

    std::FILE* const m_out;
    std::FILE* const m_err;
    const bool m_terminal;
    bool m_lineDrawn = false;         // terminal: the progress line stands unfinished
    bool m_progressFinished = false;  // terminal: the progress line is drawn no more

    std::map<app::Control, std::string> m_texts;
    ListEntries m_lists;
    int m_lower = 0;
    int m_upper = 100;
    int m_position = 0;
    int m_shownPercent = -1;  // plain output: the last percent step printed
    int m_errorBoxes = 0;
};

}  // namespace corvane::tools
