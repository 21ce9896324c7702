#include "midi/system_backend.h"

#include <RtMidi.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <optional>

#include "midi/joined_backend.h"
#include "midi/port_names.h"
#include "midi/port_source.h"

#if defined(__linux__)
#include <alsa/asoundlib.h>
#include <jack/jack.h>
#include <unistd.h>

#include "midi/rawmidi_backend.h"
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

// The platform's MIDI system through RtMidi. On the ALSA sequencer the ports
// of sound cards can be left out, for raw MIDI to list them instead.
class RtMidiSource final : public PortSource {
public:
    explicit RtMidiSource(bool skipHardware) : m_skipHardware(skipHardware) {}
    ~RtMidiSource() override {
#if defined(__linux__)
        if (m_seq != nullptr) {
            snd_seq_close(m_seq);
        }
#endif
    }
    RtMidiSource(const RtMidiSource&) = delete;
    RtMidiSource& operator=(const RtMidiSource&) = delete;

    std::vector<std::string> InputNames() override {
        std::lock_guard lock(m_mutex);
        return Connect() ? List(*m_listIn).names : std::vector<std::string>{};
    }

    std::vector<std::string> OutputNames() override {
        std::lock_guard lock(m_mutex);
        return Connect() ? List(*m_listOut).names : std::vector<std::string>{};
    }

    std::unique_ptr<OutputConnection> OpenOutput(int index) override {
        RtMidi::Api api{};
        unsigned port = 0;
        {
            std::lock_guard lock(m_mutex);
            if (!Connect() || !Locate(List(*m_listOut), index, port)) {
                return nullptr;
            }
            api = *m_api;
        }
        auto sink = std::make_unique<ErrorSink>();
        try {
            auto out = MakePort<RtMidiOut>(api, kClientName, *sink);
            out->openPort(port, "out");
            if (!out->isPortOpen() || sink->reported) {
                return nullptr;
            }
            return std::make_unique<SystemOutput>(std::move(sink), std::move(out));
        } catch (const std::exception&) {
            return nullptr;
        }
    }

    std::unique_ptr<InputConnection> OpenInput(int index, InputHandler handler) override {
        RtMidi::Api api{};
        unsigned port = 0;
        {
            std::lock_guard lock(m_mutex);
            if (!Connect() || !Locate(List(*m_listIn), index, port)) {
                return nullptr;
            }
            api = *m_api;
        }
        auto sink = std::make_unique<ErrorSink>();
        auto state = std::make_unique<InputState>();
        state->handler = std::move(handler);
        try {
            auto in = MakeInput(api, kClientName, *sink, *state);
            in->openPort(port, "in");
            if (!in->isPortOpen() || sink->reported) {
                return nullptr;
            }
            return std::make_unique<SystemInput>(std::move(state), std::move(sink), std::move(in));
        } catch (const std::exception&) {
            return nullptr;
        }
    }

private:
    // The listed ports: their device names and RtMidi's numbers for them.
    struct Listing {
        std::vector<std::string> names;
        std::vector<unsigned> ports;
    };

    static bool Locate(const Listing& listing, int index, unsigned& port) {
        if (index < 0 || static_cast<std::size_t>(index) >= listing.ports.size()) {
            return false;
        }
        port = listing.ports[static_cast<std::size_t>(index)];
        return true;
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
    // m_mutex held.
    template <typename Port>
    Listing List(Port& lister) {
        Listing listing;
        try {
            const unsigned count = lister.getPortCount();
            for (unsigned i = 0; i < count; ++i) {
                const std::string rtmidiName = lister.getPortName(i);
                const auto client = Client(rtmidiName);
                if (m_skipHardware && client && client->card >= 0) {
                    continue;
                }
                listing.names.push_back(DeviceName(rtmidiName, client));
                listing.ports.push_back(i);
            }
        } catch (const std::exception&) {
            return {};
        }
        return listing;
    }

    // What the ALSA sequencer says about the client of a port.
    struct ClientInfo {
        std::string name;
        int card = -1;  // the sound card whose port this is; -1 for software
    };

    // Asked by the client number in RtMidi's name, because client and port
    // names may both hold colons; nullopt when the sequencer does not know it.
    std::optional<ClientInfo> Client(const std::string& rtmidiName) const {
#if defined(__linux__)
        const auto address = ParseAlsaPortName(rtmidiName);
        if (*m_api != RtMidi::LINUX_ALSA || m_seq == nullptr || !address) {
            return std::nullopt;
        }
        snd_seq_client_info_t* info = nullptr;
        if (snd_seq_client_info_malloc(&info) != 0) {
            return std::nullopt;
        }
        std::optional<ClientInfo> client;
        if (snd_seq_get_any_client_info(m_seq, address->client, info) == 0) {
            client =
                ClientInfo{snd_seq_client_info_get_name(info), snd_seq_client_info_get_card(info)};
        }
        snd_seq_client_info_free(info);
        return client;
#else
        (void)rtmidiName;
        return std::nullopt;
#endif
    }

    std::string DeviceName(const std::string& rtmidiName,
                           const std::optional<ClientInfo>& client) const {
        if (rtmidiName.empty()) {
            return {};
        }
        switch (*m_api) {
            case RtMidi::LINUX_ALSA:
                if (client && !client->name.empty()) {
                    return client->name;
                }
                if (const auto address = ParseAlsaPortName(rtmidiName)) {
                    return AlsaClientNameFromText(address->text);
                }
                return AlsaClientNameFromText(rtmidiName);
            case RtMidi::UNIX_JACK:
                return JackPortShortName(rtmidiName);
            default:
                return rtmidiName;
        }
    }

    const bool m_skipHardware;
    std::mutex m_mutex;  // guards everything below: RtMidi objects are not thread-safe
    std::optional<RtMidi::Api> m_api;
    ErrorSink m_sink;
    std::unique_ptr<RtMidiIn> m_listIn;
    std::unique_ptr<RtMidiOut> m_listOut;
#if defined(__linux__)
    snd_seq_t* m_seq = nullptr;  // for client names and cards only
#endif
};

}  // namespace

std::unique_ptr<MidiBackend> CreateSystemBackend() {
    std::vector<std::unique_ptr<PortSource>> sources;
#if defined(__linux__)
    // Devices first, through raw MIDI; then the sequencer's software ports.
    sources.push_back(CreateRawMidiSource());
    sources.push_back(std::make_unique<RtMidiSource>(true));
#else
    sources.push_back(std::make_unique<RtMidiSource>(false));
#endif
    return JoinPortSources(std::move(sources));
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
