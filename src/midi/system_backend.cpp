#include "midi/system_backend.h"

#include <exception>
#include <mutex>
#include <optional>
#include <vector>

#include "midi/joined_backend.h"
#include "midi/midi_system.h"
#include "midi/port_names.h"
#include "midi/port_source.h"
#include "midi/rtmidi_ports.h"

#if defined(__linux__)
#include "midi/rawmidi_backend.h"
#endif

namespace corvane::midi {

namespace {

constexpr const char* kClientName = "Corvane Updater";

// The platform's MIDI system through RtMidi. On the ALSA sequencer the ports
// of sound cards can be left out, for raw MIDI to list them instead.
class RtMidiSource final : public PortSource {
public:
    explicit RtMidiSource(bool skipHardware) : m_skipHardware(skipHardware) {}

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
            return MakeOutputConnection(std::move(sink), std::move(out));
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
            return MakeInputConnection(std::move(state), std::move(sink), std::move(in));
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
        if (*api == RtMidi::LINUX_ALSA) {
            m_clients = OpenSequencerClients();
        }
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
    std::optional<ClientInfo> Client(const std::string& rtmidiName) const {
        if (*m_api != RtMidi::LINUX_ALSA || !m_clients) {
            return std::nullopt;
        }
        return m_clients->Find(rtmidiName);
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
    std::unique_ptr<SequencerClients> m_clients;
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

}  // namespace corvane::midi
