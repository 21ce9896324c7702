#include "tools/flash_session.h"

#include "update/strings.h"

namespace corvane::tools {

using app::Control;

namespace {

// How often the run's end is looked for.
constexpr std::chrono::milliseconds kCheckPeriod{10};

}  // namespace

FlashSession::FlashSession(midi::MidiBackend& backend, SessionView& view,
                           app::CVekUpdatorDlg::Options options)
    : m_backend(backend), m_view(view), m_options(std::move(options)) {}

FlashSession::~FlashSession() = default;

void FlashSession::Open() {
    m_dialog = std::make_unique<app::CVekUpdatorDlg>(m_backend, m_view, m_loop, m_options);
    m_dialog->OnInitDialog();
}

void FlashSession::Close() {
    if (m_dialog) {
        m_dialog->OnDestroy();
        m_dialog.reset();
    }
    m_loop.Quit();
}

void FlashSession::ListPorts() {
    m_loop.Post([this] {
        Open();
        for (const auto& [list, label] :
             {std::pair{Control::kMidiIn, "MIDI IN"}, std::pair{Control::kMidiOut, "MIDI OUT"}}) {
            m_view.Print(std::string(label) + ":");
            const auto& entries = m_view.List(list);
            for (std::size_t i = 0; i < entries.size(); ++i) {
                const bool selected = m_view.ListSelection(list) == static_cast<int>(i);
                m_view.Print((selected ? "* " : "  ") + std::to_string(i) + "  " + entries[i]);
            }
        }
        Close();
    });
    m_loop.Run();
}

FlashOutcome FlashSession::Update(const std::optional<std::string>& inPort,
                                  const std::optional<std::string>& outPort) {
    m_loop.Post([&] { Begin(inPort, outPort); });
    m_loop.Run();
    return m_outcome;
}

void FlashSession::Interrupt() {
    m_interrupted = true;
    m_loop.Post([this] {
        if (m_dialog) {
            m_view.PrintError("Error: interrupted");
            Finish(false);
        }
    });
}

bool FlashSession::Choose(Control list, const char* label, const std::optional<std::string>& name) {
    if (!name) {
        return true;  // the dialog's pre-selection stands
    }
    const int index = m_view.FindEntry(list, *name);
    if (index < 0) {
        m_view.PrintError(std::string("Error: no ") + label + " port named \"" + *name + "\"");
        return false;
    }
    m_view.SetListSelection(list, index);
    return true;
}

void FlashSession::Begin(const std::optional<std::string>& inPort,
                         const std::optional<std::string>& outPort) {
    Open();
    m_start = std::chrono::steady_clock::now();
    if (m_interrupted) {
        m_view.PrintError("Error: interrupted");
        Finish(false);
        return;
    }
    if (!Choose(Control::kMidiIn, "MIDI IN", inPort) ||
        !Choose(Control::kMidiOut, "MIDI OUT", outPort)) {
        Finish(false);
        return;
    }
    m_dialog->OnExecute();
    Check();
}

void FlashSession::Check() {
    if (!m_dialog) {
        return;
    }
    // A run that asked for the device's restart has ended too, but the dialog
    // starts the next one by itself once the device is back.
    if (m_dialog->WorkerIdle() && !m_dialog->RestartPending()) {
        Finish(m_view.ErrorBoxes() == 0 &&
               m_view.Text(Control::kStatus) == update::LoadString(update::IDS_UPDATE_COMPLETED));
        return;
    }
    m_loop.PostDelayed(kCheckPeriod, [this] { Check(); });
}

void FlashSession::Finish(bool completed) {
    m_outcome.completed = completed;
    m_outcome.elapsed = std::chrono::steady_clock::now() - m_start;
    m_outcome.requests = m_dialog->Procedure().RequestsSent();
    Close();
    m_view.FinishProgress();
}

}  // namespace corvane::tools
