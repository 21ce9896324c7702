#include "protocol/message_set.h"

namespace corvane::protocol {

bool Whole(midi::ByteView m) {
    return m.size() >= 2 && m.front() == kSysExStart && m.back() == kSysExEnd &&
           std::all_of(m.begin() + 1, m.end() - 1, [](std::uint8_t b) { return b < 0x80; });
}

}  // namespace corvane::protocol
