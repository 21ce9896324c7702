#pragma once
// The device itself, without threads or ports: each message it receives turns
// into the messages it sends back and into changes of its flash. Whoever
// attaches it to MIDI ports carries the answers out, honours their delays and
// makes the ports vanish when the answer says so.

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "device/device_config.h"
#include "midi/midi_backend.h"

namespace corvane::device {

// One message to send, `delay` after the request that caused it.
struct Outgoing {
    midi::Bytes message;
    Millis delay{0};
};

struct Response {
    std::vector<Outgoing> messages;  // in sending order
    // Set when the ports are to vanish, after the messages above have gone
    // out, for this long (kForever: for good).
    std::optional<Millis> vanishFor;
    // How long the device takes before it looks at the next message.
    Millis busyFor{0};
};

struct DeviceCounters {
    std::array<int, kRequestKindCount> requests{};
    int unknown = 0;  // well-framed manufacturer messages with a function the device refuses
    int ignored = 0;  // everything else that gets no answer: no SysEx, bad framing, the
                      // updater's own results and identity replies

    int Requests(RequestKind kind) const { return requests[IndexOf(kind)]; }
};

class DeviceModel {
public:
    explicit DeviceModel(DeviceConfig config);

    Response Handle(midi::ByteView message);

    const midi::Bytes& Flash() const { return m_flash; }
    const DeviceCounters& Counters() const { return m_counters; }
    // "> " and the hex bytes of every whole message received, "< " and those of
    // every message sent, in the order the device decided them: a delayed
    // answer stands right after its request.
    const std::vector<std::string>& Transcript() const { return m_transcript; }
    std::uint8_t ModelByte() const { return m_config.ModelByte(); }
    // True once the device has restarted into its update mode.
    bool InUpdateMode() const { return m_inUpdateMode; }

    // The request a message is, if it is one.
    static std::optional<RequestKind> RequestOf(midi::ByteView message) {
        return Classify(message).request;
    }
    // The old firmware the flash holds at start: no byte is FF.
    static std::uint8_t OldFirmwareByte(std::uint32_t address);

private:
    struct Faults {
        bool refuse = false;
        std::uint8_t status = 0;
        bool drop = false;
        bool vanish = false;
        Millis away{0};
        Millis delay{0};
        Millis busy{0};
        bool duplicate = false;
        std::optional<std::uint8_t> corrupt;
        std::vector<midi::Bytes> before;
        std::vector<midi::Bytes> after;
    };

    struct Kind {
        std::optional<RequestKind> request;  // unset: no request
        bool unknown = false;                // a manufacturer function the device refuses
    };

    static Kind Classify(midi::ByteView m);
    Faults FaultsFor(RequestKind kind, int nth);
    // Carries the request out; sets vanishFor when the device restarts.
    midi::Bytes Answer(RequestKind kind, midi::ByteView m, Response& response);
    std::uint8_t Permission(midi::ByteView m) const;
    std::uint8_t Erase(midi::ByteView m);
    std::uint8_t Write(midi::ByteView m);
    void Record(const char* direction, midi::ByteView m);

    DeviceConfig m_config;
    midi::Bytes m_flash;
    DeviceCounters m_counters;
    std::vector<std::string> m_transcript;
    std::mt19937 m_random;
    bool m_inUpdateMode = false;
};

}  // namespace corvane::device
