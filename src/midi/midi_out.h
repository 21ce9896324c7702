#pragma once
// The updater's one MIDI output port: opens a device by index and sends whole
// System Exclusive messages, returning only when the backend has taken each.

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
    // 1 when an open port was closed, 0 when it was not open.
    int Close();
    // 1 when the whole message went out, 0 when the port is closed or the
    // backend refused it.
    int SendLongMessage(const MidiHeader& header);
    // Whether the open port has reported that its device is gone.
    bool Gone();

private:
    MidiBackend& m_backend;
    // Serialises Open, Close and SendLongMessage, so that a send is never cut
    // by a close and sends from two threads go out one after the other.
    std::mutex m_mutex;
    std::unique_ptr<OutputConnection> m_hMidiOut;
    int m_nDeviceIndex = 0;  // -1 while a connection taken by Open stands
};

}  // namespace corvane::midi
