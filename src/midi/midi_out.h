#pragma once
// The updater's one MIDI output port: opens a device by index and sends whole
// System Exclusive messages, returning only when the backend has taken each.

#include <memory>
#include <mutex>

#include "midi/midi_backend.h"

namespace corvane::midi {

// Describes one message to send. The caller owns header and data; both stay
// valid until SendLongMessage returns.
struct MidiHeader {
    const std::uint8_t* data = nullptr;
    std::uint32_t bufferLength = 0;
};

class CDxMidiOut {
public:
    explicit CDxMidiOut(MidiBackend& backend);
    ~CDxMidiOut();
    CDxMidiOut(const CDxMidiOut&) = delete;
    CDxMidiOut& operator=(const CDxMidiOut&) = delete;

    // 1 when the port is open on deviceIndex (at once when it already was),
    // 0 when the device refuses. The index is remembered even then.
    int Open(int deviceIndex);
    // Takes a connection opened elsewhere (by a port's key) in place of an
    // open port; 1 when there is one, 0 for null.
    int Open(std::unique_ptr<OutputConnection> connection);
    // 1 when an open port was closed, 0 when it was not open. A send running
    // on another thread is abandoned: it returns 0 at once.
    int Close();
    // 1 when the whole message went out, 0 when the port is closed or the
    // backend refused it.
    int SendLongMessage(const MidiHeader& header);
    // Whether the open port has reported that its device is gone; never
    // waits for a send.
    bool Gone();

private:
    MidiBackend& m_backend;
    // Serialises Open, Close and SendLongMessage, so that sends from two
    // threads go out one after the other and a connection is destroyed only
    // once its send has returned. Taken before m_mutex.
    std::mutex m_sendMutex;
    // Guards m_hMidiOut and m_nDeviceIndex; never held during a send, so
    // that Gone and a close's abandoning need not wait for one.
    mutable std::mutex m_mutex;
    std::shared_ptr<OutputConnection> m_hMidiOut;
    int m_nDeviceIndex = 0;  // -1 while a connection taken by Open stands
};

}  // namespace corvane::midi
