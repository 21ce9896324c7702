#pragma once
// The exact bytes of the updater's requests, made by the updater's own sender
// and caught on a loopback port, for feeding a device model directly.

#include <vector>

#include "midi/loopback_backend.h"
#include "midi/midi_out.h"
#include "protocol/messenger.h"

namespace corvane::device::testing {

class UpdaterRequests {
public:
    explicit UpdaterRequests(std::uint8_t modelByte = 0x6E) {
        m_port = m_backend.AddOutput("capture");
        m_midiOut.Open(0);
        m_messenger.SetDeviceIdentityCopy({modelByte, 0x00, 0x28, 0x00});
    }

    midi::Bytes Identity() { return Take(m_messenger.SendIdentityRequest()); }
    midi::Bytes Opening() { return Take(m_messenger.SendOpeningRequest()); }
    midi::Bytes Version() { return Take(m_messenger.SendVersionQuery()); }
    midi::Bytes Permission(std::uint32_t type) {
        return Take(m_messenger.SendUpdatePermission(type));
    }
    midi::Bytes Prepare() { return Take(m_messenger.SendPrepareRequest()); }
    midi::Bytes Erase(std::uint32_t address, std::uint32_t length) {
        return Take(m_messenger.SendEraseRequest(address, length));
    }
    midi::Bytes Write(std::uint32_t address, const std::vector<std::uint8_t>& data) {
        return Take(
            m_messenger.SendBlockWrite(data.data(), address, static_cast<int>(data.size())));
    }
    midi::Bytes Closing() { return Take(m_messenger.SendClosingRequest()); }
    // The updater's answers to the device's own messages.
    midi::Bytes Result(std::uint8_t status) { return Take(m_messenger.SendResult(status)); }
    midi::Bytes IdentityReply() { return Take(m_messenger.SendIdentityReply()); }

private:
    midi::Bytes Take(int sent) {
        auto all = m_backend.Sent(m_port);
        m_backend.ClearSent(m_port);
        return sent == 0 && !all.empty() ? all.back() : midi::Bytes{};
    }

    midi::LoopbackBackend m_backend;
    midi::LoopbackBackend::PortId m_port = 0;
    midi::CDxMidiOut m_midiOut{m_backend};
    protocol::Messenger m_messenger{m_midiOut};
};

}  // namespace corvane::device::testing
