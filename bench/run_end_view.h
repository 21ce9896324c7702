#pragma once
// A window double for the benchmarks that drive the dialog: it keeps only
// what the dialog reads back (the port lists' selections) and how the run
// ended: completed, or with an error box. A derived view sees each status
// text as it is set, to time what it measures; nothing else is recorded, so
// the double does not grow over many runs.

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "app/dialog_view.h"
#include "update/strings.h"

namespace corvane::bench {

class RunEndView : public app::DialogView {
public:
    using Clock = std::chrono::steady_clock;
    using Control = app::Control;

    struct End {
        std::string box;  // empty when the run completed
        Clock::time_point at;
    };

    void SetTitle(const std::string&) override {}
    void EnableControl(Control, bool) override {}
    void ShowControl(Control, bool) override {}
    void SetControlText(Control control, const std::string& text) override {
        if (control != Control::kStatus) {
            return;
        }
        const Clock::time_point now = Clock::now();
        OnStatusText(text, now);
        if (text == update::LoadString(update::IDS_UPDATE_COMPLETED)) {
            Finish({"", now});
        }
    }
    void SetProgressRange(int, int) override {}
    void SetProgressPos(int) override {}
    void EnableCloseCommand(bool) override {}
    void ResetList(Control list) override { SetListSelection(list, -1); }
    void AddListEntry(Control, const std::string&) override {}
    void SetListSelection(Control list, int index) override {
        std::lock_guard lock(m_mutex);
        m_selection[list] = index;
    }
    int ListSelection(Control list) const override {
        std::lock_guard lock(m_mutex);
        const auto it = m_selection.find(list);
        return it == m_selection.end() ? -1 : it->second;
    }
    void ShowErrorBox(const std::string& text, const std::string&) override {
        Finish({text, Clock::now()});
    }

    // Forgets the last run's end, before the next run starts.
    void Arm() {
        std::lock_guard lock(m_mutex);
        m_end.reset();
    }
    // The run's end; nullopt when it did not end within `timeout`.
    std::optional<End> WaitEnd(std::chrono::seconds timeout) {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, timeout, [&] { return m_end.has_value(); });
        return m_end;
    }

protected:
    // Called on the thread that sets the text, before the end is noted.
    virtual void OnStatusText(const std::string&, Clock::time_point) {}

private:
    void Finish(End end) {
        std::lock_guard lock(m_mutex);
        m_end = std::move(end);
        m_changed.notify_all();
    }

    mutable std::mutex m_mutex;  // guards everything below
    std::condition_variable m_changed;
    std::map<Control, int> m_selection;
    std::optional<End> m_end;
};

}  // namespace corvane::bench
