#pragma once
// One run of the updater's dialog without a window: the thread that calls
// ListPorts or Update becomes the user-interface thread, creates the dialog,
// lets it fill and pre-select the port lists, presses "Execute", and watches
// the update to its end, across a restart of the device into its update mode.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "app/event_loop.h"
#include "app/updater_dialog.h"
#include "tools/session_view.h"

namespace corvane::tools {

struct FlashOutcome {
    bool completed = false;
    std::chrono::duration<double> elapsed{0};
    std::uint64_t requests = 0;
};

class FlashSession {
public:
    FlashSession(midi::MidiBackend& backend, SessionView& view,
                 app::CVekUpdatorDlg::Options options);
    ~FlashSession();
    FlashSession(const FlashSession&) = delete;
    FlashSession& operator=(const FlashSession&) = delete;

    // Prints both port lists as the dialog shows them, "*" marking the
    // pre-selected entries.
    void ListPorts();
    // Selects the ports (by exact name where given, else the dialog's
    // pre-selection), runs the update and returns once it has ended.
    FlashOutcome Update(const std::optional<std::string>& inPort,
                        const std::optional<std::string>& outPort);
    // Ends a running Update as failed, also one that has not yet begun;
    // callable from any thread.
    void Interrupt();

private:
    void Open();
    void Close();
    bool Choose(app::Control list, const char* label, const std::optional<std::string>& name);
    void Begin(const std::optional<std::string>& inPort, const std::optional<std::string>& outPort);
    void Check();
    void Finish(bool completed);

    midi::MidiBackend& m_backend;
    SessionView& m_view;
    const app::CVekUpdatorDlg::Options m_options;
    app::EventLoop m_loop;
    std::atomic<bool> m_interrupted{false};

    // User-interface thread only.
    std::unique_ptr<app::CVekUpdatorDlg> m_dialog;
    std::chrono::steady_clock::time_point m_start;
    FlashOutcome m_outcome;
};

}  // namespace corvane::tools
