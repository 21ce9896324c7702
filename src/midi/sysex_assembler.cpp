#include "midi/sysex_assembler.h"

namespace corvane::midi {

namespace {

constexpr std::uint8_t kStart = 0xF0;
constexpr std::uint8_t kEnd = 0xF7;
constexpr std::uint8_t kFirstRealTime = 0xF8;

}  // namespace

void SysExAssembler::Feed(ByteView bytes, const std::function<void(ByteView)>& deliver) {
    for (const std::uint8_t byte : bytes) {
        if (byte >= kFirstRealTime) {
            continue;
        }
        if (byte == kStart) {
            m_message.assign(1, byte);
            m_inMessage = true;
            continue;
        }
        if (!m_inMessage) {
            continue;
        }
        if (byte == kEnd) {
            m_message.push_back(byte);
            deliver(ByteView(m_message));
            m_message.clear();
            m_inMessage = false;
        } else if (byte & 0x80 || m_message.size() >= kMaxMessage) {
            m_message.clear();
            m_inMessage = false;
        } else {
            m_message.push_back(byte);
        }
    }
}

void SysExAssembler::Clear() {
    m_message.clear();
    m_inMessage = false;
}

}  // namespace corvane::midi
