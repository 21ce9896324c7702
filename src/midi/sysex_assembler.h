#pragma once
// Joins the pieces in which a MIDI driver hands over System Exclusive data
// (one receive buffer at a time) into whole messages from 0xF0 to 0xF7.

#include <cstddef>
#include <functional>

#include "midi/midi_backend.h"

namespace corvane::midi {

class SysExAssembler {
public:
    // A message that grows beyond this is dropped whole; the next 0xF0 starts afresh.
    static constexpr std::size_t kMaxMessage = 1 << 20;

    // Takes the next piece; calls `onMessage` for each message it completes.
    // Bytes outside a message are ignored, and a 0xF0 inside a message ends
    // the broken one (dropped) and starts a new one.
    void Add(ByteView piece, const std::function<void(ByteView)>& onMessage);
    // Forgets a message in progress, as when the port is reset.
    void Clear();

private:
    Bytes m_message;
    bool m_inMessage = false;
    bool m_overflow = false;
};

}  // namespace corvane::midi
