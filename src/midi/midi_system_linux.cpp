#include <alsa/asoundlib.h>
#include <jack/jack.h>
#include <unistd.h>

#include <mutex>

#include "midi/midi_system.h"
#include "midi/port_names.h"
#include "midi/rtmidi_ports.h"

namespace corvane::midi {

namespace {

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

class AlsaSequencerClients final : public SequencerClients {
public:
    explicit AlsaSequencerClients(snd_seq_t* seq) : m_seq(seq) {}
    ~AlsaSequencerClients() override { snd_seq_close(m_seq); }
    AlsaSequencerClients(const AlsaSequencerClients&) = delete;
    AlsaSequencerClients& operator=(const AlsaSequencerClients&) = delete;

    std::optional<ClientInfo> Find(const std::string& rtmidiName) const override {
        const auto address = ParseAlsaPortName(rtmidiName);
        if (!address) {
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
    }

private:
    snd_seq_t* const m_seq;  // for client names and cards only
};

}  // namespace

std::optional<RtMidi::Api> ChooseApi() {
    if (Compiled(RtMidi::LINUX_ALSA) && access("/dev/snd/seq", R_OK | W_OK) == 0) {
        return RtMidi::LINUX_ALSA;
    }
    if (Compiled(RtMidi::UNIX_JACK) && JackServerRunning()) {
        return RtMidi::UNIX_JACK;
    }
    return std::nullopt;
}

std::unique_ptr<SequencerClients> OpenSequencerClients() {
    snd_seq_t* seq = nullptr;
    if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, 0) < 0) {
        return nullptr;
    }
    return std::make_unique<AlsaSequencerClients>(seq);
}

}  // namespace corvane::midi
