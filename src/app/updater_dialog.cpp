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
      m_ports(backend),
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
        m_ports,
        [this, alive = std::weak_ptr<void>(m_alive)](const std::vector<midi::PortChange>&) {
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
    midi::PortSnapshot ports = m_ports.Look();
    FillList(Control::kMidiOut, ports.outputs);
    FillList(Control::kMidiIn, ports.inputs);
    const bool outSelected = SelectWanted(Control::kMidiOut, ports.outputs);
    const bool inSelected = SelectWanted(Control::kMidiIn, ports.inputs);
    m_outPorts = std::move(ports.outputs);
    m_inPorts = std::move(ports.inputs);
    return outSelected && inSelected;
}

void CVekUpdatorDlg::FillList(Control list, const std::vector<midi::Port>& ports) {
    m_view.ResetList(list);
    for (const midi::Port& port : ports) {
        m_view.AddListEntry(list, port.name);
    }
}

bool CVekUpdatorDlg::SelectWanted(Control list, const std::vector<midi::Port>& ports) {
    const std::vector<std::string> wanted =
        WantedPortNames(m_options.instanceNumber, m_options.deviceNames);
    bool selected = false;
    // Every entry is looked at, so the last matching one stays selected.
    for (std::size_t e = 0; e < ports.size(); ++e) {
        if (std::find(wanted.begin(), wanted.end(), ports[e].name) != wanted.end()) {
            m_view.SetListSelection(list, static_cast<int>(e));
            selected = true;
        }
    }
    return selected;
}

std::optional<midi::Port> CVekUpdatorDlg::SelectedPort(Control list) const {
    const std::vector<midi::Port>& ports = list == Control::kMidiIn ? m_inPorts : m_outPorts;
    const int selection = m_view.ListSelection(list);
    if (selection < 0 || selection >= static_cast<int>(ports.size())) {
        return std::nullopt;
    }
    return ports[static_cast<std::size_t>(selection)];
}

void CVekUpdatorDlg::OnExecute() {
    StartUpdate();
}

void CVekUpdatorDlg::StartUpdate() {
    if (m_running) {
        ShowErrorBox(update::IDS_IN_PROGRESS);
        return;
    }
    const std::optional<midi::Port> out = SelectedPort(Control::kMidiOut);
    const std::optional<midi::Port> in = SelectedPort(Control::kMidiIn);
    SetOpenPortNames({});
    m_openOutKey.clear();
    m_openInKey.clear();
    m_midiOut.Close();
    if (!out || m_midiOut.Open(m_ports.OpenOutput(out->key)) == 0) {
        ShowErrorBox(update::IDS_CANT_OPEN_MIDI_OUT);
        return;
    }
    SetOpenPortNames({"", out->name});
    m_openOutKey = out->key;
    m_midiIn.Close();
    if (!in || m_midiIn.Open([this, &in](midi::InputHandler handler) {
            return m_ports.OpenInput(in->key, std::move(handler));
        }) == 0) {
        ShowErrorBox(update::IDS_CANT_OPEN_MIDI_IN);
        return;
    }
    SetOpenPortNames({in->name, out->name});
    m_openInKey = in->key;
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
    const midi::PortSnapshot ports = m_ports.Look();
    if (ports.Find(midi::PortList::kInput, m_openInKey) == nullptr ||
        ports.Find(midi::PortList::kOutput, m_openOutKey) == nullptr) {
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
    m_openOutKey.clear();
    m_openInKey.clear();
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
