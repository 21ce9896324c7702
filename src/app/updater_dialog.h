#pragma once
// The updater's window, without a toolkit: it owns the MIDI ports, the reply
// handler's timer and the update procedure, and drives its controls through a
// DialogView. A toolkit window forwards its events to the On... operations on
// its user-interface thread.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/dialog_view.h"
#include "app/ui_dispatcher.h"
#include "app/ui_loop.h"
#include "midi/midi_backend.h"
#include "midi/midi_in.h"
#include "midi/midi_out.h"
#include "midi/midi_timer.h"
#include "midi/port_directory.h"
#include "midi/port_watcher.h"
#include "protocol/messenger.h"
#include "protocol/reply_handler.h"
#include "update/timing.h"
#include "update/update_host.h"
#include "update/update_procedure.h"

namespace corvane::app {

inline constexpr int kMaxInstances = 20;

// "BRAX Corvane System v1.10 Updater", with " (n)" for copies 2 to 20.
std::string WindowTitle(int instanceNumber);
// The names of the devices the window looks for, in order of preference.
std::vector<std::string> DevicePortNames();
// The port names copy `instanceNumber` looks for, in order of preference:
// those of the devices named `bases` (empty: DevicePortNames()).
std::vector<std::string> WantedPortNames(int instanceNumber,
                                         const std::vector<std::string>& bases = {});

class CVekUpdatorDlg final : private update::UpdateHost {
public:
    struct Options {
        int instanceNumber = 1;
        update::Timing timing{};
        update::ImageSource image{};             // empty: the built-in image
        std::vector<std::string> deviceNames{};  // empty: DevicePortNames()
    };
    struct PortNames {
        std::string in;
        std::string out;
    };

    CVekUpdatorDlg(midi::MidiBackend& backend, DialogView& view, UiLoop& loop, Options options);
    // Stops the reply timer, then waits for the last update run to end.
    ~CVekUpdatorDlg() override;

    // Window events, on the user-interface thread. From OnInitDialog to
    // OnDestroy the dialog looks at the port lists itself (Timing::portListLook).
    void OnInitDialog();
    void OnExecute();
    void OnRescanDevice();
    // The MIDI port lists changed (a device came or went): the system's
    // device notification, or the dialog's own look at the lists.
    void OnDeviceChange();
    // The window is going away: closes the ports and releases a running
    // update, which then ends without touching the window again.
    void OnDestroy();
    // Whether a cancel (Escape, Exit, the Close command, the window manager's
    // close) may end the dialog: not while an update runs. Waiting for the
    // device may be given up. The view's Close command always shows this.
    bool CanClose() const;

    bool FillPortLists();
    // Opens the selected ports by their keys, wherever the system lists them
    // now, and starts a run.
    void StartUpdate();
    // The names of the ports the last start opened; empty for a port that is
    // not open. Callable from any thread.
    PortNames OpenPortNames() const;

    // Control operations; callable from any thread.
    void RestoreControls();
    void EnableExecute(bool enable);

    bool Running() const { return m_running; }
    bool RestartPending() const { return m_restartPending; }
    // Whether the last update run has ended (for tests and front ends).
    bool WorkerIdle() const;
    const std::string& Title() const { return m_title; }
    protocol::ReplyHandler& Replies() { return m_replies; }
    protocol::Messenger& Messenger() { return m_messenger; }
    update::UpdateProcedure& Procedure() { return m_update; }

private:
    // UpdateHost: what the worker calls.
    void EndWithError(update::StringId text) override;
    void EndCompleted() override;
    void EndWaitingForDevice() override;
    void SetStatusText(const std::string& text) override;
    void SetHintText(const std::string& text) override;
    void SetStepText(const std::string& text) override;
    void ShowRestartPicture(bool show) override;
    void SetProgressRange(int lower, int upper) override;
    void SetProgressPos(int position) override;
    bool DeviceGone() override;

    // User-interface thread only.
    void ShowErrorBox(update::StringId text);
    void RestoreControlsNow();
    // Sets m_running and keeps the view's Close command in step with it.
    void SetRunning(bool running);

    void FillList(Control list, const std::vector<midi::Port>& ports);
    // The port of the entry selected in a port list; nullopt when none is.
    std::optional<midi::Port> SelectedPort(Control list) const;
    void SetOpenPortNames(PortNames names);
    bool SelectWanted(Control list, const std::vector<midi::Port>& ports);
    // Restarts the run once the device has had time to settle.
    void PlanRestart();
    void RestartAfterDeviceChange();
    void NoticeDeviceLeft();
    // Whether an open port has reported its device gone; any thread.
    bool HeldPortsGone();
    void ReapWorkers(bool wait);
    void WatchPortLists();

    Options m_options;
    midi::PortDirectory m_ports;
    DialogView& m_view;
    UiLoop& m_loop;
    UiDispatcher m_ui;
    std::string m_title;

    midi::CDxMidiIn m_midiIn;
    midi::CDxMidiOut m_midiOut;
    protocol::Messenger m_messenger;
    protocol::ReplyHandler m_replies;
    update::UpdateProcedure m_update;

    // The ports FillPortLists put in the lists, entry i being port i when
    // they were filled. User-interface thread only.
    std::vector<midi::Port> m_inPorts;
    std::vector<midi::Port> m_outPorts;
    // The keys of the ports the last start opened; user-interface thread only.
    std::string m_openInKey;
    std::string m_openOutKey;
    mutable std::mutex m_openNamesMutex;  // guards m_openNames
    PortNames m_openNames;

    std::atomic<bool> m_running{false};
    std::atomic<bool> m_restartPending{false};
    // The run's ports left the system's lists; set and cleared on the
    // user-interface thread, read by the worker.
    std::atomic<bool> m_deviceLeft{false};
    // Counts the device changes of a wait; only the restart planned by the
    // latest one runs. User-interface thread only.
    std::uint64_t m_restartGeneration = 0;
    bool m_destroyed = false;  // user-interface thread only
    // Expires with the dialog, for delayed tasks still queued in the loop.
    // The dialog is destroyed on the user-interface thread.
    std::shared_ptr<void> m_alive = std::make_shared<int>(0);

    // Looks at the port lists from OnInitDialog to OnDestroy; created and
    // destroyed on the user-interface thread.
    std::unique_ptr<midi::PortWatcher> m_portWatcher;

    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    mutable std::mutex m_workersMutex;  // guards m_workers
    std::vector<Worker> m_workers;

    // Declared last: destroyed first, so no tick runs once the rest goes.
    midi::CDxMTimer m_timer;
};

}  // namespace corvane::app
