#include "midi/midi_out.h"

namespace corvane::midi {

CDxMidiOut::CDxMidiOut(MidiBackend& backend) : m_backend(backend) {}

CDxMidiOut::~CDxMidiOut() {
    Close();
}

int CDxMidiOut::Open(int deviceIndex) {
    std::lock_guard lock(m_mutex);
    if (m_hMidiOut && deviceIndex >= 0 && deviceIndex == m_nDeviceIndex) {
        return 1;
    }
    m_hMidiOut.reset();
    m_nDeviceIndex = deviceIndex;
    if (deviceIndex < 0) {
        return 0;
    }
    m_hMidiOut = m_backend.OpenOutput(deviceIndex);
    return m_hMidiOut ? 1 : 0;
}

int CDxMidiOut::Open(std::unique_ptr<OutputConnection> connection) {
    std::lock_guard lock(m_mutex);
    m_hMidiOut = std::move(connection);
    m_nDeviceIndex = -1;
    return m_hMidiOut ? 1 : 0;
}

int CDxMidiOut::Close() {
    std::lock_guard lock(m_mutex);
    if (!m_hMidiOut) {
        return 0;
    }
    m_hMidiOut.reset();
    return 1;
}

int CDxMidiOut::SendLongMessage(const MidiHeader& header) {
    std::lock_guard lock(m_mutex);
    if (!m_hMidiOut || header.data == nullptr) {
        return 0;
    }
    return m_hMidiOut->Send(ByteView(header.data, header.bufferLength)) ? 1 : 0;
}

bool CDxMidiOut::Gone() {
    std::lock_guard lock(m_mutex);
    return m_hMidiOut && m_hMidiOut->Gone();
}

}  // namespace corvane::midi
