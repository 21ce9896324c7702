#pragma once
// The updater's one MIDI input port. Every System Exclusive message the device
// sends becomes an entry of the receive list, in arrival order; a message
// longer than one receive buffer becomes several entries of at most
// kReceiveBufferSize bytes. The list outlives Close and a later Open.

#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "midi/midi_backend.h"

namespace corvane::midi {

class CDxMidiIn {
public:
    static constexpr std::size_t kReceiveBufferSize = 8192;

    explicit CDxMidiIn(MidiBackend& backend);
    ~CDxMidiIn();
    CDxMidiIn(const CDxMidiIn&) = delete;
    CDxMidiIn& operator=(const CDxMidiIn&) = delete;

    // The device Open uses; stored by the owner before Open.
    void SetDeviceIndex(int deviceIndex) { m_nDeviceIndex = deviceIndex; }

    // 1 when the port is open (also when it already was, whatever the index
    // now says), 0 on failure.
    int Open();
    // As Open, on the connection `open` makes with the handler it is given
    // (a port opened by its key).
    using Opener = std::function<std::unique_ptr<InputConnection>(InputHandler)>;
    int Open(const Opener& open);
    // Stops and closes an open port; does nothing otherwise. After it returns
    // no more entries are added.
    void Close();
    bool IsOpen() const { return m_bOpen; }
    // Whether the open port has reported that its device is gone; any thread.
    bool Gone() const;

    // The oldest entry's bytes, empty when the list is empty. They stay valid
    // until RemoveFirstMessage: only the consumer removes entries.
    ByteView GetFirstMessage();
    void RemoveFirstMessage();

    // What the backend's input thread calls for each received buffer.
    void OnMidiInMessage(ByteView data);

private:
    MidiBackend& m_backend;
    // Opened and closed by one thread; guarded by m_connectionMutex so that
    // Gone may ask from any other. Never held while the list lock is wanted.
    mutable std::mutex m_connectionMutex;
    std::unique_ptr<InputConnection> m_hMidiIn;
    int m_nDeviceIndex = 0;
    bool m_bOpen = false;

    // Held for each append, each look at the head and each removal.
    std::mutex m_listMutex;
    std::deque<Bytes> m_receiveList;
};

}  // namespace corvane::midi
