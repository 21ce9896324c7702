#include "midi/midi_out.h"

#include "midi/port_names.h"

namespace corvane::midi {

CDxMidiOut::CDxMidiOut(MidiBackend& backend) : m_backend(backend) {}

CDxMidiOut::~CDxMidiOut() {
    Close();
}

int CDxMidiOut::Open(int deviceIndex) {
    {
        std::lock_guard lock(m_mutex);
        if (m_hMidiOut && deviceIndex == m_nDeviceIndex) {
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

int CDxMidiOut::GetDeviceCount() const {
    return static_cast<int>(m_backend.OutputPortNames().size());
}

std::string CDxMidiOut::GetDeviceName(int deviceIndex) const {
    return PortNameAt(m_backend.OutputPortNames(), deviceIndex);
}

}  // namespace corvane::midi
