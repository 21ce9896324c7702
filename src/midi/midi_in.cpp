#include "midi/midi_in.h"

#include <algorithm>

namespace corvane::midi {

CDxMidiIn::CDxMidiIn(MidiBackend& backend) : m_backend(backend) {}

CDxMidiIn::~CDxMidiIn() {
    Close();
}

int CDxMidiIn::Open() {
    if (m_nDeviceIndex < 0 && !m_bOpen) {
        return 0;
    }
    return Open([this](InputHandler handler) {
        return m_backend.OpenInput(m_nDeviceIndex, std::move(handler));
    });
}

int CDxMidiIn::Open(const Opener& open) {
    if (m_bOpen) {
        return 1;
    }
    auto connection = open([this](ByteView data) { OnMidiInMessage(data); });
    m_bOpen = connection != nullptr;
    std::lock_guard lock(m_connectionMutex);
    m_hMidiIn = std::move(connection);
    return m_bOpen ? 1 : 0;
}

void CDxMidiIn::Close() {
    // Destroying the connection waits for a callback in progress, which takes
    // only the list lock.
    std::lock_guard lock(m_connectionMutex);
    m_hMidiIn.reset();
    m_bOpen = false;
}

bool CDxMidiIn::Gone() const {
    std::lock_guard lock(m_connectionMutex);
    return m_hMidiIn && m_hMidiIn->Gone();
}

ByteView CDxMidiIn::GetFirstMessage() {
    std::lock_guard lock(m_listMutex);
    if (m_receiveList.empty()) {
        return {};
    }
    return m_receiveList.front();
}

void CDxMidiIn::RemoveFirstMessage() {
    std::lock_guard lock(m_listMutex);
    if (!m_receiveList.empty()) {
        m_receiveList.pop_front();
    }
}

void CDxMidiIn::OnMidiInMessage(ByteView data) {
    // Copy outside the lock; the list lock is held only to link the pieces.
    while (!data.empty()) {
        const std::size_t n = std::min(data.size(), kReceiveBufferSize);
        Bytes piece(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n));
        data = data.subspan(n);
        std::lock_guard lock(m_listMutex);
        m_receiveList.push_back(std::move(piece));
    }
}

}  // namespace corvane::midi
