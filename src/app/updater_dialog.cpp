#include "app/updater_dialog.h"

#include <algorithm>

#include "midi/port_names.h"
#include "update/strings.h"

namespace corvane::app {

using update::LoadString;
using update::StringId;

namespace {

constexpr const char* kTitle = "BRAX Corvane System v1.10 Updater";

// The generic name a USB MIDI device gets on a Japanese system. Port names are
// UTF-8 on every platform; the Windows backend converts the system's names.
constexpr const char* kJapaneseGenericName = "USB オーディオ デバイス";

constexpr const char* kBasePortNames[] = {kJapaneseGenericName, "USB Audio Device",
                                          "BRAX Lumen Series"};

std::string WithInstance(const std::string& base, int instanceNumber) {
    if (instanceNumber <= 1) {
        return base;
    }
    return base + " (" + std::to_string(instanceNumber) + ")";
}

// Where the device named `name` stands in the system's list now: devices
// plugged in or out since the lists were filled move it. -1 when it is gone
// or no name is given.
template <typename Port>
int DeviceIndexNow(const Port& port, const std::optional<std::string>& name) {
    if (name) {
        for (int i = 0, n = port.GetDeviceCount(); i < n; ++i) {
            if (port.GetDeviceName(i) == *name) {
                return i;
            }
        }
    }
    return -1;
}

}  // namespace

std::string WindowTitle(int instanceNumber) {
    return WithInstance(kTitle, instanceNumber);
}

std::vector<std::string> DevicePortNames() {
    return {std::begin(kBasePortNames), std::end(kBasePortNames)};
}

std::vector<std::string> WantedPortNames(int instanceNumber,
                                         const std::vector<std::string>& bases) {
    std::vector<std::string> names;
    for (const std::string& base : bases.empty() ? DevicePortNames() : bases) {
        for (std::string& name : midi::NthDeviceNames(base, instanceNumber)) {
            names.push_back(std::move(name));
        }
    }
    return names;
}

CVekUpdatorDlg::CVekUpdatorDlg(midi::MidiBackend& backend, DialogView& view, UiLoop& loop,
                               Options options)
    : m_options(std::move(options)),
      m_backend(backend),
      m_view(view),
      m_loop(loop),
      m_ui(loop),
      m_title(WindowTitle(m_options.instanceNumber)),
      m_midiIn(backend),
      m_midiOut(backend),
      m_messenger(m_midiOut),
      m_replies(m_midiIn, m_messenger),
      m_update(*this, m_messenger, m_replies, m_options.timing, m_options.image) {}

CVekUpdatorDlg::~CVekUpdatorDlg() {
    m_portWatcher.reset();
    m_replies.Abandon();
    m_ui.Close();
    m_timer.Stop();
    ReapWorkers(true);
    m_alive.reset();
}

void CVekUpdatorDlg::OnInitDialog() {
    m_view.ShowControl(Control::kPicRestart, false);
    FillPortLists();
    m_timer.Start(static_cast<std::uint32_t>(m_options.timing.replyTick.count()),
                  protocol::ReplyHandler::OnReplyTimer,
                  reinterpret_cast<std::uintptr_t>(&m_replies));
    m_view.SetProgressRange(0, 100);
    m_view.SetTitle(m_title);
    WatchPortLists();
}

void CVekUpdatorDlg::WatchPortLists() {
    if (m_options.timing.portListLook <= update::Millis::zero()) {
        return;
    }
    // The watcher calls from its own thread; the change is handled on the
    // user-interface thread, and not at all once the dialog has gone.
    m_portWatcher = std::make_unique<midi::PortWatcher>(
        m_backend,
        [this, alive = std::weak_ptr<void>(m_alive)] {
            m_loop.Post([this, alive] {
                if (alive.lock()) {
                    OnDeviceChange();
                }
            });
        },
        m_options.timing.portListLook, [this] { return HeldPortsGone(); });
    m_portWatcher->Start();
}

bool CVekUpdatorDlg::FillPortLists() {
    std::vector<std::string> outNames;
    for (int i = 0, n = m_midiOut.GetDeviceCount(); i < n; ++i) {
        outNames.push_back(m_midiOut.GetDeviceName(i));
    }
    FillList(Control::kMidiOut, outNames);
    std::vector<std::string> inNames;
    for (int i = 0, n = m_midiIn.GetDeviceCount(); i < n; ++i) {
        inNames.push_back(m_midiIn.GetDeviceName(i));
    }
    FillList(Control::kMidiIn, inNames);
    const bool outSelected = SelectWanted(Control::kMidiOut, outNames);
    const bool inSelected = SelectWanted(Control::kMidiIn, inNames);
    m_outNames = std::move(outNames);
    m_inNames = std::move(inNames);
    return outSelected && inSelected;
}

void CVekUpdatorDlg::FillList(Control list, const std::vector<std::string>& names) {
    m_view.ResetList(list);
    for (const std::string& name : names) {
        m_view.AddListEntry(list, name);
    }
}

bool CVekUpdatorDlg::SelectWanted(Control list, const std::vector<std::string>& names) {
    const std::vector<std::string> wanted =
        WantedPortNames(m_options.instanceNumber, m_options.deviceNames);
    bool selected = false;
    // Every entry is looked at, so the last matching one stays selected.
    for (std::size_t e = 0; e < names.size(); ++e) {
        if (std::find(wanted.begin(), wanted.end(), names[e]) != wanted.end()) {
            m_view.SetListSelection(list, static_cast<int>(e));
            selected = true;
        }
    }
    return selected;
}

std::optional<std::string> CVekUpdatorDlg::SelectedName(Control list) const {
    const std::vector<std::string>& names = list == Control::kMidiIn ? m_inNames : m_outNames;
    const int selection = m_view.ListSelection(list);
    if (selection < 0 || selection >= static_cast<int>(names.size())) {
        return std::nullopt;
    }
    return names[static_cast<std::size_t>(selection)];
}

void CVekUpdatorDlg::OnExecute() {
    StartUpdate();
}

void CVekUpdatorDlg::StartUpdate() {
    if (m_running) {
        ShowErrorBox(update::IDS_IN_PROGRESS);
        return;
    }
    const std::optional<std::string> outName = SelectedName(Control::kMidiOut);
    const std::optional<std::string> inName = SelectedName(Control::kMidiIn);
    SetOpenPortNames({});
    m_midiOut.Close();
    const int out = DeviceIndexNow(m_midiOut, outName);
    if (out < 0 || m_midiOut.Open(out) == 0) {
        ShowErrorBox(update::IDS_CANT_OPEN_MIDI_OUT);
        return;
    }
    SetOpenPortNames({"", *outName});
    m_midiIn.Close();
    const int in = DeviceIndexNow(m_midiIn, inName);
    m_midiIn.SetDeviceIndex(in);
    if (in < 0 || m_midiIn.Open() == 0) {
        ShowErrorBox(update::IDS_CANT_OPEN_MIDI_IN);
        return;
    }
    SetOpenPortNames({*inName, *outName});
    for (Control c : {Control::kMidiIn, Control::kMidiOut, Control::kExecute, Control::kExit,
                      Control::kRescan}) {
        m_view.EnableControl(c, false);
    }
    m_deviceLeft = false;
    SetRunning(true);

    ReapWorkers(false);
    auto done = std::make_shared<std::atomic<bool>>(false);
    try {
        std::thread thread([this, done] {
            m_update.Run();
            *done = true;
        });
        std::lock_guard lock(m_workersMutex);
        m_workers.push_back(Worker{std::move(thread), done});
    } catch (const std::system_error&) {
        RestoreControls();
    }
}

void CVekUpdatorDlg::OnRescanDevice() {
    FillPortLists();
    EnableExecute(true);
    m_restartPending = false;
    m_view.ShowControl(Control::kPicRestart, false);
}

void CVekUpdatorDlg::OnDeviceChange() {
    if (m_destroyed) {
        return;
    }
    if (m_running) {
        NoticeDeviceLeft();
        return;
    }
    if (m_restartPending) {
        PlanRestart();
    }
}

void CVekUpdatorDlg::PlanRestart() {
    // The device needs a moment to settle after it re-enumerates; wait for it
    // without blocking the window. An unplug and a replug are two changes, and
    // the wait counts from the last: each change outdates the restart that an
    // earlier one planned.
    const std::uint64_t generation = ++m_restartGeneration;
    m_loop.PostDelayed(m_options.timing.restartDelay,
                       [this, generation, alive = std::weak_ptr<void>(m_alive)] {
                           if (alive.lock() && generation == m_restartGeneration) {
                               RestartAfterDeviceChange();
                           }
                       });
}

// Some ports cannot tell that their device went (a software port, or a driver
// that keeps a dead device open): the run's device has gone when its ports
// are no longer listed.
void CVekUpdatorDlg::NoticeDeviceLeft() {
    const PortNames open = OpenPortNames();
    if (DeviceIndexNow(m_midiIn, open.in) < 0 || DeviceIndexNow(m_midiOut, open.out) < 0) {
        m_deviceLeft = true;
    }
}

void CVekUpdatorDlg::RestartAfterDeviceChange() {
    if (!m_restartPending || m_destroyed) {
        return;
    }
    if (!FillPortLists()) {
        return;  // not back yet: the next device change tries again
    }
    SetRunning(false);
    StartUpdate();
    m_restartPending = false;
    if (!m_running) {
        // A port did not open: give the user the controls back rather than
        // leaving everything disabled with nothing pending.
        RestoreControls();
    }
}

void CVekUpdatorDlg::OnDestroy() {
    if (m_destroyed) {
        return;
    }
    m_destroyed = true;
    m_portWatcher.reset();
    // Gives up a wait for the device and outdates a restart already planned.
    m_restartPending = false;
    ++m_restartGeneration;
    m_midiOut.Close();
    m_midiIn.Close();
    SetOpenPortNames({});
    m_replies.Abandon();
    m_ui.Close();
}

CVekUpdatorDlg::PortNames CVekUpdatorDlg::OpenPortNames() const {
    std::lock_guard lock(m_openNamesMutex);
    return m_openNames;
}

void CVekUpdatorDlg::SetOpenPortNames(PortNames names) {
    std::lock_guard lock(m_openNamesMutex);
    m_openNames = std::move(names);
}

bool CVekUpdatorDlg::CanClose() const {
    return !m_running;
}

void CVekUpdatorDlg::SetRunning(bool running) {
    m_running = running;
    m_view.EnableCloseCommand(CanClose());
}

bool CVekUpdatorDlg::WorkerIdle() const {
    std::lock_guard lock(m_workersMutex);
    return std::all_of(m_workers.begin(), m_workers.end(),
                       [](const Worker& w) { return w.done->load(); });
}

void CVekUpdatorDlg::ReapWorkers(bool wait) {
    std::vector<Worker> finished;
    {
        std::lock_guard lock(m_workersMutex);
        auto split = std::partition(m_workers.begin(), m_workers.end(),
                                    [wait](const Worker& w) { return !wait && !w.done->load(); });
        std::move(split, m_workers.end(), std::back_inserter(finished));
        m_workers.erase(split, m_workers.end());
    }
    for (Worker& w : finished) {
        w.thread.join();
    }
}

void CVekUpdatorDlg::RestoreControls() {
    m_ui.Invoke([this] { RestoreControlsNow(); });
}

void CVekUpdatorDlg::RestoreControlsNow() {
    for (Control c : {Control::kMidiIn, Control::kMidiOut, Control::kExecute, Control::kExit,
                      Control::kRescan}) {
        m_view.EnableControl(c, true);
    }
    SetRunning(false);
}

void CVekUpdatorDlg::EndWithError(StringId text) {
    m_ui.Invoke([this, text] {
        ShowErrorBox(text);
        RestoreControlsNow();
    });
}

void CVekUpdatorDlg::EndCompleted() {
    m_ui.Invoke([this] {
        m_view.SetControlText(Control::kStatus, LoadString(update::IDS_UPDATE_COMPLETED));
        m_view.SetControlText(Control::kHint, LoadString(update::IDS_RESTART_DEVICE));
        m_view.ShowControl(Control::kPicRestart, true);
        RestoreControlsNow();
        m_view.EnableControl(Control::kExecute, false);
    });
}

void CVekUpdatorDlg::EndWaitingForDevice() {
    m_ui.Invoke([this] {
        m_view.SetControlText(Control::kStatus, LoadString(update::IDS_READY_FOR_UPDATE));
        m_view.SetControlText(Control::kHint, LoadString(update::IDS_RESTART_DEVICE));
        m_view.ShowControl(Control::kPicRestart, true);
        // No worker runs while the window waits, so Exit and Close stay: the
        // user may give up a device that never comes back.
        RestoreControlsNow();
        for (Control c :
             {Control::kExecute, Control::kRescan, Control::kMidiIn, Control::kMidiOut}) {
            m_view.EnableControl(c, false);
        }
        m_restartPending = true;
        // A device quick to restart may have gone and come back before the
        // wait began, and its lists then show no change to wait for.
        if (HeldPortsGone()) {
            PlanRestart();
        }
    });
}

bool CVekUpdatorDlg::HeldPortsGone() {
    return m_midiIn.Gone() || m_midiOut.Gone();
}

void CVekUpdatorDlg::EnableExecute(bool enable) {
    m_ui.Invoke([this, enable] { m_view.EnableControl(Control::kExecute, enable); });
}

void CVekUpdatorDlg::ShowErrorBox(StringId text) {
    m_view.ShowErrorBox(LoadString(text), LoadString(update::IDS_ERROR_CAPTION));
}

void CVekUpdatorDlg::SetStatusText(const std::string& text) {
    m_ui.Post([this, text] { m_view.SetControlText(Control::kStatus, text); });
}

void CVekUpdatorDlg::SetHintText(const std::string& text) {
    m_ui.Invoke([this, text] { m_view.SetControlText(Control::kHint, text); });
}

void CVekUpdatorDlg::SetStepText(const std::string& text) {
    m_ui.Invoke([this, text] { m_view.SetControlText(Control::kStep, text); });
}

void CVekUpdatorDlg::ShowRestartPicture(bool show) {
    m_ui.Invoke([this, show] { m_view.ShowControl(Control::kPicRestart, show); });
}

void CVekUpdatorDlg::SetProgressRange(int lower, int upper) {
    m_ui.Invoke([this, lower, upper] { m_view.SetProgressRange(lower, upper); });
}

bool CVekUpdatorDlg::DeviceGone() {
    return m_deviceLeft || HeldPortsGone();
}

void CVekUpdatorDlg::SetProgressPos(int position) {
    m_ui.Post([this, position] { m_view.SetProgressPos(position); });
}

}  // namespace corvane::app
