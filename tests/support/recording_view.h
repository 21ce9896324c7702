#pragma once
// A window double: keeps the state of every control and a log of what the
// dialog did to them, in order. Error boxes close at once, as if the user
// pressed OK straight away.

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/dialog_view.h"

namespace corvane::testing {

using app::Control;

class RecordingView final : public app::DialogView {
public:
    struct Box {
        std::string text;
        std::string caption;
    };

    void SetTitle(const std::string& title) override {
        std::lock_guard lock(m_mutex);
        m_title = title;
    }
    void EnableControl(Control c, bool enable) override {
        {
            std::lock_guard lock(m_mutex);
            m_enabled[c] = enable;
        }
        if (m_onEnable) {
            m_onEnable(c, enable);
        }
    }
    // Called on the user-interface thread after each change of a control's
    // enabled state; set before the dialog is opened.
    void OnEnable(std::function<void(Control, bool)> hook) { m_onEnable = std::move(hook); }
    void ShowControl(Control c, bool show) override {
        std::lock_guard lock(m_mutex);
        m_shown[c] = show;
        Log(std::string(show ? "show " : "hide ") + std::to_string(static_cast<int>(c)));
    }
    void SetControlText(Control c, const std::string& text) override {
        std::lock_guard lock(m_mutex);
        m_texts[c] = text;
        m_textLog[c].push_back(text);
    }
    void SetProgressRange(int lower, int upper) override {
        std::lock_guard lock(m_mutex);
        m_progressRange = {lower, upper};
    }
    void SetProgressPos(int position) override {
        std::lock_guard lock(m_mutex);
        m_progressPos = position;
        m_progressLog.push_back(position);
    }
    void EnableCloseCommand(bool enable) override {
        std::lock_guard lock(m_mutex);
        m_closeEnabled = enable;
    }
    void ResetList(Control list) override {
        std::lock_guard lock(m_mutex);
        m_lists[list].clear();
        m_selection[list] = -1;
    }
    void AddListEntry(Control list, const std::string& text) override {
        std::lock_guard lock(m_mutex);
        m_lists[list].push_back(text);
    }
    void SetListSelection(Control list, int index) override {
        std::lock_guard lock(m_mutex);
        m_selection[list] = index;
    }
    int ListSelection(Control list) const override {
        std::lock_guard lock(m_mutex);
        auto it = m_selection.find(list);
        return it == m_selection.end() ? -1 : it->second;
    }
    void ShowErrorBox(const std::string& text, const std::string& caption) override {
        std::lock_guard lock(m_mutex);
        m_boxes.push_back({text, caption});
        Log("box " + text);
    }

    // What the tests read; callable from any thread.
    std::string Title() const { return Get(m_title); }
    bool Enabled(Control c) const {
        std::lock_guard lock(m_mutex);
        auto it = m_enabled.find(c);
        return it == m_enabled.end() || it->second;  // controls start enabled
    }
    bool Shown(Control c) const {
        std::lock_guard lock(m_mutex);
        auto it = m_shown.find(c);
        return it != m_shown.end() && it->second;
    }
    std::string Text(Control c) const {
        std::lock_guard lock(m_mutex);
        auto it = m_texts.find(c);
        return it == m_texts.end() ? std::string{} : it->second;
    }
    std::vector<std::string> TextLog(Control c) const {
        std::lock_guard lock(m_mutex);
        auto it = m_textLog.find(c);
        return it == m_textLog.end() ? std::vector<std::string>{} : it->second;
    }
    std::vector<std::string> List(Control c) const {
        std::lock_guard lock(m_mutex);
        auto it = m_lists.find(c);
        return it == m_lists.end() ? std::vector<std::string>{} : it->second;
    }
    std::vector<Box> Boxes() const { return Get(m_boxes); }
    std::vector<std::string> Log() const { return Get(m_log); }
    std::vector<int> ProgressLog() const { return Get(m_progressLog); }
    std::pair<int, int> ProgressRange() const { return Get(m_progressRange); }
    int ProgressPos() const { return Get(m_progressPos); }
    bool CloseEnabled() const { return Get(m_closeEnabled); }
    // The enabled state of the port lists and the three buttons.
    bool AllEnabled() const {
        return Enabled(Control::kMidiIn) && Enabled(Control::kMidiOut) &&
               Enabled(Control::kExecute) && Enabled(Control::kExit) && Enabled(Control::kRescan);
    }
    bool AllDisabled() const {
        return !Enabled(Control::kMidiIn) && !Enabled(Control::kMidiOut) &&
               !Enabled(Control::kExecute) && !Enabled(Control::kExit) &&
               !Enabled(Control::kRescan);
    }

private:
    template <typename T>
    T Get(const T& member) const {
        std::lock_guard lock(m_mutex);
        return member;
    }
    void Log(std::string entry) { m_log.push_back(std::move(entry)); }

    std::function<void(Control, bool)> m_onEnable;  // set before use, then only read
    mutable std::mutex m_mutex;                     // guards everything below
    std::string m_title;
    std::map<Control, bool> m_enabled;
    std::map<Control, bool> m_shown;
    std::map<Control, std::string> m_texts;
    std::map<Control, std::vector<std::string>> m_textLog;
    std::map<Control, std::vector<std::string>> m_lists;
    std::map<Control, int> m_selection;
    std::pair<int, int> m_progressRange{0, 0};
    int m_progressPos = 0;
    std::vector<int> m_progressLog;
    bool m_closeEnabled = true;
    std::vector<Box> m_boxes;
    std::vector<std::string> m_log;
};

}  // namespace corvane::testing
