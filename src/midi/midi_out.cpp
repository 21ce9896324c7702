#include "midi/midi_out.h"

namespace corvane::midi {

CDxMidiOut::CDxMidiOut(MidiBackend& backend) : m_backend(backend) {}

CDxMidiOut::~CDxMidiOut() {
    Close();
}

int CDxMidiOut::Open(int deviceIndex) {
    {
        std::lock_guard lock(m_mutex);
        if (m_hMidiOut && deviceIndex >= 0 && deviceIndex == m_nDeviceIndex) {
            return 1;
        }
    }
    Close();
    std::lock_guard sendLock(m_sendMutex);
    std::shared_ptr<OutputConnection> opened;
    if (deviceIndex >= 0) {
        opened = m_backend.OpenOutput(deviceIndex);
    }
    std::lock_guard lock(m_mutex);
    m_nDeviceIndex = deviceIndex;
    m_hMidiOut = std::move(opened);
    return m_hMidiOut ? 1 : 0;
}

int CDxMidiOut::Open(std::unique_ptr<OutputConnection> connection) {
    Close();
    std::lock_guard sendLock(m_sendMutex);
    std::lock_guard lock(m_mutex);
    m_hMidiOut = std::move(connection);
    m_nDeviceIndex = -1;
    return m_hMidiOut ? 1 : 0;
}

int CDxMidiOut::Close() {
    std::shared_ptr<OutputConnection> closing;
    {
        std::lock_guard lock(m_mutex);
        closing = std::move(m_hMidiOut);
        m_hMidiOut.reset();
    }
    if (!closing) {
        return 0;
    }
    closing->Abandon();
    // Destroyed here, once a send it abandoned has returned.
    std::lock_guard sendLock(m_sendMutex);
    closing.reset();
    return 1;
}

int CDxMidiOut::SendLongMessage(const MidiHeader& header) {
    std::lock_guard sendLock(m_sendMutex);
    std::shared_ptr<OutputConnection> connection;
    {
        std::lock_guard lock(m_mutex);
        connection = m_hMidiOut;
    }
    if (!connection || header.data == nullptr) {
        return 0;
    }
    return connection->Send(ByteView(header.data, header.bufferLength)) ? 1 : 0;
}

bool CDxMidiOut::Gone() {
    std::shared_ptr<OutputConnection> connection;
    {
        std::lock_guard lock(m_mutex);
        connection = m_hMidiOut;
    }
    // Should a close drop its own first, the port closes here.
    return connection && connection->Gone();
}

}  // namespace corvane::midi
