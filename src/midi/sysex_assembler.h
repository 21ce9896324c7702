#pragma once
// Finds the System Exclusive messages in a raw MIDI byte stream that arrives
// in arbitrary pieces. System Real-Time bytes (F8-FF) may stand anywhere, even
// inside a message, and belong to none; any other status byte ends a message
// early, which is then dropped as incomplete. Everything outside a message is
// ignored: the device speaks System Exclusive only.

#include <cstddef>
#include <functional>

#include "midi/midi_backend.h"

namespace corvane::midi {

class SysExAssembler {
public:
    // A message longer than this is dropped rather than held without end.
    static constexpr std::size_t kMaxMessage = 1 << 20;

    // Hands each message completed by `bytes` to `deliver`, F0 to F7.
    void Feed(ByteView bytes, const std::function<void(ByteView)>& deliver);
    // Forgets a message in progress, as when the port is reset.
    void Clear();

private:
    Bytes m_message;  // the message being assembled; empty outside one
    bool m_inMessage = false;
};

}  // namespace corvane::midi
