#include "midi/sysex_assembler.h"

namespace corvane::midi {

namespace {
constexpr std::uint8_t kStart = 0xF0;
constexpr std::uint8_t kEnd = 0xF7;
}  // namespace

void SysExAssembler::Add(ByteView piece, const std::function<void(ByteView)>& onMessage) {
    for (const std::uint8_t byte : piece) {
        if (byte == kStart) {
            m_message.clear();
            m_inMessage = true;
            m_overflow = false;
        }
        if (!m_inMessage) {
            continue;
        }
        if (m_message.size() < kMaxMessage) {
            m_message.push_back(byte);
        } else {
            m_overflow = true;
        }
        if (byte == kEnd) {
            if (!m_overflow) {
                onMessage(m_message);
            }
            Clear();
        }
    }
}

void SysExAssembler::Clear() {
    m_message.clear();
    m_inMessage = false;
    m_overflow = false;
}

}  // namespace corvane::midi
