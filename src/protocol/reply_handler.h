#pragma once
// Turns the device's messages into the reply the update worker waits for: on
// every timer tick it drains the receive list, sets the reply status, stores
// the device identity or version a reply carries, and signals the reply event
// after those stores. It answers the device's own requests and notices.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "midi/auto_reset_event.h"
#include "midi/midi_in.h"
#include "protocol/messenger.h"

namespace corvane::protocol {

// Reply status values with a meaning of their own; 2-127 are failures the
// device reported.
inline constexpr int kStatusOk = 0;
inline constexpr int kStatusFailed = 1;
inline constexpr int kStatusRestart = 11;
inline constexpr int kStatusLowBattery = 101;
inline constexpr int kStatusAbandon = 255;

class ReplyHandler {
public:
    static constexpr std::size_t kReadBackCapacity = 1u << 20;

    ReplyHandler(midi::CDxMidiIn& midiIn, Messenger& messenger);

    // The periodic-timer callback; `user` is the ReplyHandler.
    static void OnReplyTimer(std::uint32_t timerId, std::uint32_t message, std::uintptr_t user,
                             std::uintptr_t reserved1, std::uintptr_t reserved2);
    // Handles every message waiting in the receive list, oldest first.
    void ProcessReplies();
    // Handles one message; messages too short for what their kind reads are
    // dropped without an answer.
    void Dispatch(midi::ByteView m);

    int Status() const { return m_replyStatus.load(); }
    midi::AutoResetEvent& Event() { return m_replyEvent; }
    // Sets status 255 for good and releases the waiting worker.
    void Abandon();

    Identity DeviceIdentity() const;
    Identity DeviceVersion() const;
    std::size_t ReadBackPosition() const;
    std::vector<std::uint8_t> ReadBackData() const;

private:
    void SetStatus(int status);
    void HandleManufacturer(midi::ByteView m);
    void HandleGeneralInformation(midi::ByteView m);
    void HandleReadBack(midi::ByteView m);

    midi::CDxMidiIn& m_midiIn;
    Messenger& m_messenger;
    midi::AutoResetEvent m_replyEvent;
    std::atomic<int> m_replyStatus{kStatusOk};

    // Guards the stored identity and version and the read-back store; written
    // on the timer thread, read by the worker after the event.
    mutable std::mutex m_dataMutex;
    Identity m_deviceIdentity{};
    Identity m_deviceVersion{};
    std::vector<std::uint8_t> m_readBack;
    std::size_t m_readBackPosition = 0;
};

}  // namespace corvane::protocol
