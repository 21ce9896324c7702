#include "midi/system_backend.h"

#include <RtMidi.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <optional>

#include "midi/port_names.h"

#if defined(__linux__)
#include <alsa/asoundlib.h>
#include <jack/jack.h>
#include <unistd.h>
#endif

namespace corvane::midi {

namespace {

constexpr const char* kClientName = "Corvane Updater";

// RtMidi drops a longer message on JACK without reporting it (its ring buffer
// holds 16 KiB with the length); Send refuses such a message instead.
constexpr std::size_t kJackMaxMessage = 16379;

// RtMidi reports here instead of printing to stderr or throwing: an operation
// failed when anything was reported while it ran. Atomic because RtMidi's own
// input thread may report too.
struct ErrorSink {
    std::atomic<bool> reported{false};
};

void OnRtMidiError(RtMidiError::Type, const std::string&, void* user) {
    static_cast<ErrorSink*>(user)->reported = true;
}

template <typename Port>
std::unique_ptr<Port> MakePort(RtMidi::Api api, const std::string& clientName, ErrorSink& sink) {
    auto port = std::make_unique<Port>(api, clientName);
    port->setErrorCallback(OnRtMidiError, &sink);
    return port;
}

bool Compiled(RtMidi::Api api) {
    std::vector<RtMidi::Api> apis;
    RtMidi::getCompiledApi(apis);
    return std::find(apis.begin(), apis.end(), api) != apis.end();
}

#if defined(__linux__)
void SilentJack(const char*) {}

// Asks without starting a server. libjack's own complaints about a missing
// server are silenced for the whole process: the updater shows none of the
// MIDI system's texts.
bool JackServerRunning() {
    static std::once_flag silenced;
    std::call_once(silenced, [] {
        jack_set_error_function(SilentJack);
        jack_set_info_function(SilentJack);
    });
    jack_status_t status{};
    jack_client_t* client = jack_client_open("corvane-probe", JackNoStartServer, &status);
    if (client == nullptr) {
        return false;
    }
    jack_client_close(client);
    return true;
}
#endif

// The MIDI system to use; nullopt when none is reachable. RtMidi's default
// choice throws when the ALSA sequencer is missing instead of trying a running
// JACK server, so the choice is made here.
std::optional<RtMidi::Api> ChooseApi() {
#if defined(__linux__)
    if (Compiled(RtMidi::LINUX_ALSA) && access("/dev/snd/seq", R_OK | W_OK) == 0) {
        return RtMidi::LINUX_ALSA;
    }
    if (Compiled(RtMidi::UNIX_JACK) && JackServerRunning()) {
        return RtMidi::UNIX_JACK;
    }
    return std::nullopt;
#elif defined(_WIN32)
    // RtMidi must be built without its unique-name suffix here
    // (RTMIDI_DO_NOT_ENSURE_UNIQUE_PORTNAMES), so that winmm's names come
    // through as they are and identical devices are told apart below.
    return RtMidi::WINDOWS_MM;
#elif defined(__APPLE__)
    return RtMidi::MACOSX_CORE;
#else
    return std::nullopt;
#endif
}

// Hands System Exclusive messages to the handler until closed. The lock makes
// closing wait for a delivery in progress.
struct InputState {
    std::mutex mutex;  // guards open and handler; held while the handler runs
    bool open = true;
    InputHandler handler;
};

// Runs on the MIDI system's thread (JACK: its realtime thread); the handler
// copies and returns at once. Short messages are ignored: the device speaks
// System Exclusive only.
void OnRtMidiInput(double, std::vector<unsigned char>* message, void* user) {
    if (message == nullptr || message->empty() || message->front() != 0xF0) {
        return;
    }
    auto* state = static_cast<InputState*>(user);
    std::lock_guard lock(state->mutex);
    if (state->open && state->handler) {
        state->handler(ByteView(message->data(), message->size()));
    }
}

std::unique_ptr<RtMidiIn> MakeInput(RtMidi::Api api, const std::string& clientName, ErrorSink& sink,
                                    InputState& state) {
    auto port = MakePort<RtMidiIn>(api, clientName, sink);
    port->ignoreTypes(false, true, true);
    port->setCallback(OnRtMidiInput, &state);
    return port;
}

// Blocks until RtMidi has taken the whole message.
bool SendThrough(RtMidiOut& port, ErrorSink& sink, ByteView message) {
    if (message.empty() ||
        (port.getCurrentApi() == RtMidi::UNIX_JACK && message.size() > kJackMaxMessage)) {
        return false;
    }
    sink.reported = false;
    try {
        port.sendMessage(message.data(), message.size());
    } catch (const std::exception&) {
        return false;
    }
    return !sink.reported;
}

class SystemOutput final : public OutputConnection {
public:
    SystemOutput(std::unique_ptr<ErrorSink> sink, std::unique_ptr<RtMidiOut> port)
        : m_sink(std::move(sink)), m_port(std::move(port)) {}
    bool Send(ByteView message) override { return SendThrough(*m_port, *m_sink, message); }

private:
    std::unique_ptr<ErrorSink> m_sink;
    std::unique_ptr<RtMidiOut> m_port;
};

class SystemInput final : public InputConnection {
public:
    SystemInput(std::unique_ptr<InputState> state, std::unique_ptr<ErrorSink> sink,
                std::unique_ptr<RtMidiIn> port)
        : m_state(std::move(state)), m_sink(std::move(sink)), m_port(std::move(port)) {}
    ~SystemInput() override {
        {
            std::lock_guard lock(m_state->mutex);
            m_state->open = false;
        }
        // Stops RtMidi's input thread before the state and sink go.
        m_port.reset();
    }

private:
    std::unique_ptr<InputState> m_state;
    std::unique_ptr<ErrorSink> m_sink;
    std::unique_ptr<RtMidiIn> m_port;
};

class SystemVirtualPorts final : public VirtualPortPair {
public:
    SystemVirtualPorts(std::unique_ptr<InputState> state, std::unique_ptr<ErrorSink> sink,
                       std::unique_ptr<RtMidiIn> in, std::unique_ptr<RtMidiOut> out)
        : m_state(std::move(state)),
          m_sink(std::move(sink)),
          m_in(std::move(in)),
          m_out(std::move(out)) {}
    ~SystemVirtualPorts() override {
        {
            std::lock_guard lock(m_state->mutex);
            m_state->open = false;
        }
        m_in.reset();
        m_out.reset();
    }
    bool Send(ByteView message) override {
        std::lock_guard lock(m_sendMutex);
        return SendThrough(*m_out, *m_sink, message);
    }

private:
    std::unique_ptr<InputState> m_state;
    std::unique_ptr<ErrorSink> m_sink;
    std::unique_ptr<RtMidiIn> m_in;
    std::mutex m_sendMutex;  // RtMidi objects are not safe for concurrent use
    std::unique_ptr<RtMidiOut> m_out;
};

class SystemBackend final : public MidiBackend {
public:
    ~SystemBackend() override {
#if defined(__linux__)
        if (m_seq != nullptr) {
            snd_seq_close(m_seq);
        }
#endif
    }

    std::vector<std::string> InputPortNames() override {
        std::lock_guard lock(m_mutex);
        return Connect() ? Names(*m_listIn) : std::vector<std::string>{};
    }

    std::vector<std::string> OutputPortNames() override {
        std::lock_guard lock(m_mutex);
        return Connect() ? Names(*m_listOut) : std::vector<std::string>{};
    }

    std::unique_ptr<OutputConnection> OpenOutput(int index) override {
        const auto api = Api();
        if (!api || index < 0) {
            return nullptr;
        }
        auto sink = std::make_unique<ErrorSink>();
        try {
            auto port = MakePort<RtMidiOut>(*api, kClientName, *sink);
            port->openPort(static_cast<unsigned>(index), "out");
            if (!port->isPortOpen() || sink->reported) {
                return nullptr;
            }
            return std::make_unique<SystemOutput>(std::move(sink), std::move(port));
        } catch (const std::exception&) {
            return nullptr;
        }
    }

    std::unique_ptr<InputConnection> OpenInput(int index, InputHandler handler) override {
        const auto api = Api();
        if (!api || index < 0) {
            return nullptr;
        }
        auto sink = std::make_unique<ErrorSink>();
        auto state = std::make_unique<InputState>();
        state->handler = std::move(handler);
        try {
            auto port = MakeInput(*api, kClientName, *sink, *state);
            port->openPort(static_cast<unsigned>(index), "in");
            if (!port->isPortOpen() || sink->reported) {
                return nullptr;
            }
            return std::make_unique<SystemInput>(std::move(state), std::move(sink),
                                                 std::move(port));
        } catch (const std::exception&) {
            return nullptr;
        }
    }

private:
    std::optional<RtMidi::Api> Api() {
        std::lock_guard lock(m_mutex);
        return Connect() ? m_api : std::nullopt;
    }

    // Looks for a MIDI system until one is found, so that one started after
    // the updater shows up at the next listing. m_mutex held.
    bool Connect() {
        if (m_api) {
            return true;
        }
        const auto api = ChooseApi();
        if (!api) {
            return false;
        }
        try {
            m_listIn = MakePort<RtMidiIn>(*api, kClientName, m_sink);
            m_listOut = MakePort<RtMidiOut>(*api, kClientName, m_sink);
        } catch (const std::exception&) {
            m_listIn.reset();
            m_listOut.reset();
            return false;
        }
#if defined(__linux__)
        if (*api == RtMidi::LINUX_ALSA &&
            snd_seq_open(&m_seq, "default", SND_SEQ_OPEN_DUPLEX, 0) < 0) {
            m_seq = nullptr;
        }
#endif
        m_api = api;
        return true;
    }

    // A port that vanished between counting and naming keeps its place with
    // an empty name, so that indexes still match the MIDI system's order.
    template <typename Port>
    std::vector<std::string> Names(Port& lister) {
        std::vector<std::string> names;
        try {
            const unsigned count = lister.getPortCount();
            for (unsigned i = 0; i < count; ++i) {
                names.push_back(DeviceName(lister.getPortName(i)));
            }
        } catch (const std::exception&) {
            return {};
        }
        return NumberDuplicates(std::move(names));
    }

    std::string DeviceName(const std::string& rtmidiName) const {
        if (rtmidiName.empty()) {
            return {};
        }
        switch (*m_api) {
            case RtMidi::LINUX_ALSA:
                return AlsaClientName(rtmidiName);
            case RtMidi::UNIX_JACK:
                return JackPortShortName(rtmidiName);
            default:
                return rtmidiName;
        }
    }

    // The sequencer client's own name, asked by the client number in RtMidi's
    // name, because client and port names may both hold colons; the text
    // before the first colon when the sequencer does not know the client.
    std::string AlsaClientName(const std::string& rtmidiName) const {
        const auto address = ParseAlsaPortName(rtmidiName);
        if (!address) {
            return AlsaClientNameFromText(rtmidiName);
        }
#if defined(__linux__)
        if (m_seq != nullptr) {
            snd_seq_client_info_t* info = nullptr;
            if (snd_seq_client_info_malloc(&info) == 0) {
                std::string name;
                if (snd_seq_get_any_client_info(m_seq, address->client, info) == 0) {
                    name = snd_seq_client_info_get_name(info);
                }
                snd_seq_client_info_free(info);
                if (!name.empty()) {
                    return name;
                }
            }
        }
#endif
        return AlsaClientNameFromText(address->text);
    }

    std::mutex m_mutex;  // guards everything below: RtMidi objects are not thread-safe
    std::optional<RtMidi::Api> m_api;
    ErrorSink m_sink;
    std::unique_ptr<RtMidiIn> m_listIn;
    std::unique_ptr<RtMidiOut> m_listOut;
#if defined(__linux__)
    snd_seq_t* m_seq = nullptr;  // for client names only
#endif
};

}  // namespace

std::unique_ptr<MidiBackend> CreateSystemBackend() {
    return std::make_unique<SystemBackend>();
}

std::unique_ptr<VirtualPortPair> OpenVirtualPorts(const std::string& name, InputHandler onReceive) {
    const auto api = ChooseApi();
    if (!api) {
        return nullptr;
    }
    auto sink = std::make_unique<ErrorSink>();
    auto state = std::make_unique<InputState>();
    state->handler = std::move(onReceive);
    try {
        // The client name is what ALSA lists, the port name what JACK lists.
        auto in = MakeInput(*api, name, *sink, *state);
        in->openVirtualPort(name);
        auto out = MakePort<RtMidiOut>(*api, name, *sink);
        out->openVirtualPort(name);
        if (sink->reported) {
            return nullptr;
        }
        return std::make_unique<SystemVirtualPorts>(std::move(state), std::move(sink),
                                                    std::move(in), std::move(out));
    } catch (const std::exception&) {
        return nullptr;
    }
}

}  // namespace corvane::midi
