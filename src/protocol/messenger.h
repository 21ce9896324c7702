#pragma once
// Assembles and sends every message of the updater through the output port.
// Manufacturer messages are built in one outgoing buffer; the send lock is held
// from the copy of the template until the port has taken the message, so the
// update worker and the reply handler never interleave their messages.
// The device identity copy (whose first byte is the model byte) and the
// identity bytes of the updater's own identity reply live here too, under
// their own lock. What each message holds, and where, is in message_set.h.

#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

#include "midi/midi_out.h"
#include "protocol/message_set.h"

namespace corvane::protocol {

class Messenger {
public:
    static constexpr std::size_t kOutgoingBufferSize = 65536;

    explicit Messenger(midi::CDxMidiOut& midiOut);

    // 0 when the output port sent the message, -1 when it failed.
    int SendSysEx(const std::uint8_t* message, int length);
    int SendResult(std::uint8_t status);
    // Both carry the model byte of the device identity copy, as every
    // manufacturer message does.
    int SendBlockWrite(const std::uint8_t* data, std::uint32_t address, int length);
    int SendEraseRequest(std::uint32_t address, std::uint32_t length);
    int SendIdentityRequest();
    int SendIdentityReply();
    int SendOpeningRequest();
    int SendVersionQuery();
    int SendUpdatePermission(std::uint32_t updateType);
    int SendPrepareRequest();
    int SendClosingRequest();

    // The model byte of the worker's copy of the device identity; 00 until a
    // device answered.
    std::uint8_t ModelByte() const;
    void SetDeviceIdentityCopy(const Identity& identity);
    // The identity bytes the updater's own identity reply carries.
    void SetIdentityReplyIdentity(const Identity& identity);
    Identity IdentityReplyIdentity() const;

private:
    // Copies M's template into the buffer, sets the model byte and lets
    // fill() write the fields; sends the whole template. Holds the send lock.
    template <typename M, typename Fill>
    int SendTemplate(Fill fill);
    template <typename M>
    int SendTemplate() {
        return SendTemplate<M>([](std::uint8_t*) {});
    }

    midi::CDxMidiOut& m_midiOut;

    std::mutex m_sendMutex;  // guards m_outgoing, held across the send
    std::vector<std::uint8_t> m_outgoing;

    mutable std::mutex m_identityMutex;  // guards the two identities below
    Identity m_identityCopy{};
    Identity m_replyIdentity{};
};

}  // namespace corvane::protocol
