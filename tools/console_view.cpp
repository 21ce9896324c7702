#include "tools/console_view.h"

#include <algorithm>

namespace corvane::tools {

using app::Control;

namespace {

constexpr int kBarWidth = 24;
constexpr int kPlainProgressStep = 10;  // percent between two plain progress lines

const char* PlainLabel(Control control) {
    switch (control) {
        case Control::kStep:
            return "step";
        case Control::kStatus:
            return "status";
        case Control::kHint:
            return "hint";
        default:
            return "text";
    }
}

}  // namespace

ConsoleView::ConsoleView(std::FILE* out, std::FILE* err, bool terminal)
    : m_out(out), m_err(err), m_terminal(terminal) {}

ConsoleView::~ConsoleView() {
    // The last state of the progress line stays on the screen.
    if (m_lineDrawn) {
        std::fputc('\n', m_out);
        std::fflush(m_out);
    }
}

void ConsoleView::SetTitle(const std::string& title) {
    Print(title);
}

void ConsoleView::ShowControl(Control control, bool show) {
    // The restart picture asks for the replug in two panels; say it in words.
    if (control == Control::kPicRestart && show) {
        Print("Unplug the device: 1. OFF, pull the USB plug out; 2. ON, plug it back in.");
    }
}

void ConsoleView::SetControlText(Control control, const std::string& text) {
    std::string& shown = m_texts[control];
    if (shown == text) {
        return;  // nothing changed on the screen
    }
    shown = text;
    if (control == Control::kHint && m_terminal) {
        if (text.empty()) {
            return;
        }
        // The hint asks the user to act: it gets a line of its own.
        Print(text);
        return;
    }
    if (m_terminal) {
        Redraw();
    } else if (!text.empty()) {
        // Clearing a line is no news worth a line of its own.
        std::fprintf(m_out, "%s: %s\n", PlainLabel(control), text.c_str());
        std::fflush(m_out);
    }
}

void ConsoleView::SetProgressRange(int lower, int upper) {
    m_lower = lower;
    m_upper = upper;
    m_position = lower;
    m_shownPercent = -1;
}

void ConsoleView::SetProgressPos(int position) {
    m_position = position;
    if (m_terminal) {
        Redraw();
        return;
    }
    const int step = Percent() / kPlainProgressStep * kPlainProgressStep;
    if (step != m_shownPercent) {
        m_shownPercent = step;
        std::fprintf(m_out, "progress: %d%%\n", step);
        std::fflush(m_out);
    }
}

void ConsoleView::ResetList(Control list) {
    m_lists.Reset(list);
}

void ConsoleView::AddListEntry(Control list, const std::string& text) {
    m_lists.Add(list, text);
}

void ConsoleView::SetListSelection(Control list, int index) {
    m_lists.Select(list, index);
}

int ConsoleView::ListSelection(Control list) const {
    return m_lists.Selection(list);
}

void ConsoleView::ShowErrorBox(const std::string& text, const std::string&) {
    ++m_errorBoxes;
    PrintError("Error: " + text);
}

const std::vector<std::string>& ConsoleView::List(Control list) const {
    return m_lists.Entries(list);
}

int ConsoleView::FindEntry(Control list, const std::string& name) const {
    return m_lists.Find(list, name);
}

const std::string& ConsoleView::Text(Control control) const {
    static const std::string kEmpty;
    const auto it = m_texts.find(control);
    return it == m_texts.end() ? kEmpty : it->second;
}

void ConsoleView::Print(const std::string& line) {
    ClearLine();
    std::fprintf(m_out, "%s\n", line.c_str());
    std::fflush(m_out);
    if (m_terminal) {
        Redraw();
    }
}

void ConsoleView::PrintError(const std::string& line) {
    ClearLine();
    std::fflush(m_out);
    std::fprintf(m_err, "%s\n", line.c_str());
    std::fflush(m_err);
}

void ConsoleView::FinishProgress() {
    if (m_lineDrawn) {
        std::fputc('\n', m_out);
        std::fflush(m_out);
        m_lineDrawn = false;
    }
    m_progressFinished = true;
}

int ConsoleView::Percent() const {
    const long long span = static_cast<long long>(m_upper) - m_lower;
    if (span <= 0) {
        return 0;
    }
    const long long done =
        std::clamp<long long>(m_position - static_cast<long long>(m_lower), 0, span);
    return static_cast<int>(done * 100 / span);
}

void ConsoleView::Redraw() {
    const std::string& step = Text(Control::kStep);
    const std::string& status = Text(Control::kStatus);
    if (m_progressFinished || (step.empty() && status.empty())) {
        return;  // nothing has happened yet, or the run is over
    }
    const int percent = Percent();
    const int filled = percent * kBarWidth / 100;
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kBarWidth - filled), '-');
    // \r and "erase line" keep the line in place as it changes.
    std::fprintf(m_out, "\r\033[K%-5s %-40s [%s] %3d%%", step.c_str(), status.c_str(), bar.c_str(),
                 percent);
    std::fflush(m_out);
    m_lineDrawn = true;
}

void ConsoleView::ClearLine() {
    if (m_lineDrawn) {
        std::fprintf(m_out, "\r\033[K");
        m_lineDrawn = false;
    }
}

}  // namespace corvane::tools
