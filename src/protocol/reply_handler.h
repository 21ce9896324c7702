#pragma once
// Turns the device's messages into the replies the update worker waits for: on
// every timer tick it drains the receive list, stores the device identity or
// version a reply carries, and then records the reply in the ledger. It
// answers the device's own requests and notices. A message is believed only
// when it is whole: F0, data bytes below 0x80, F7. It reads each message
// through the declarations of message_set.h.

#include <cstdint>
#include <mutex>
#include <vector>

#include "midi/midi_in.h"
#include "protocol/messenger.h"
#include "protocol/reply_ledger.h"

namespace corvane::protocol {

// The status once abandoned: no result message can carry it.
inline constexpr int kStatusAbandon = 255;

class ReplyHandler {
public:
    static constexpr std::size_t kReadBackCapacity = 1u << 20;

    // The waits on its ledger take their time from `clock`.
    ReplyHandler(midi::CDxMidiIn& midiIn, Messenger& messenger, Clock& clock = Clock::Steady());

    // The periodic-timer callback; `user` is the ReplyHandler.
    static void OnReplyTimer(std::uint32_t timerId, std::uint32_t message, std::uintptr_t user,
                             std::uintptr_t reserved1, std::uintptr_t reserved2);
    // Handles every message waiting in the receive list, oldest first.
    void ProcessReplies();
    // Handles one message; messages that are not whole, or too short for what
    // their kind reads, are dropped without an answer.
    void Dispatch(midi::ByteView m);

    // The status of the latest reply; 255 once abandoned.
    int Status() const;
    ReplyLedger& Ledger() { return m_ledger; }
    // Releases the waiting worker for good; the status reads 255 from now on.
    void Abandon();

    Identity DeviceIdentity() const;
    Identity DeviceVersion() const;
    // The read-back store, part of the protocol, though no request of the
    // updater asks for read-back data.
    std::size_t ReadBackPosition() const;
    std::vector<std::uint8_t> ReadBackData() const;

private:
    void HandleManufacturer(midi::ByteView m);
    void HandleGeneralInformation(midi::ByteView m);
    void HandleReadBack(midi::ByteView m);

    midi::CDxMidiIn& m_midiIn;
    Messenger& m_messenger;
    ReplyLedger m_ledger;

    // Guards the stored identity and version and the read-back store; written
    // on the timer thread before the reply is recorded, read by the worker
    // once its wait has ended.
    mutable std::mutex m_dataMutex;
    Identity m_deviceIdentity{};
    Identity m_deviceVersion{};
    std::vector<std::uint8_t> m_readBack;
    std::size_t m_readBackPosition = 0;
};

}  // namespace corvane::protocol
