// libFuzzer target: any byte string through the reply dispatch, first as one
// message, then cut after each F7 into several, dispatched in order on the
// same handler (as a stream of replies would be). Each message lives in an
// allocation of exactly its size, so a read past its end is an ASan report.
// The output port is never opened: the answers the dispatch sends fail at once.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "midi/loopback_backend.h"
#include "midi/midi_in.h"
#include "midi/midi_out.h"
#include "protocol/messenger.h"
#include "protocol/reply_handler.h"
#include "protocol/sysex.h"

namespace {

using namespace corvane;

void DispatchExact(protocol::ReplyHandler& handler, const std::uint8_t* data, std::size_t size) {
    const std::unique_ptr<std::uint8_t[]> message(new std::uint8_t[size]);
    std::copy(data, data + size, message.get());
    handler.Dispatch(midi::ByteView(message.get(), size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static midi::LoopbackBackend backend;
    static midi::CDxMidiOut out(backend);
    static midi::CDxMidiIn in(backend);
    static protocol::Messenger messenger(out);
    // One handler for the whole run: a fresh one per input would spend the
    // run clearing its megabyte read-back store. The store then fills over
    // many inputs, which also drives the read-back replies to its end.
    static protocol::ReplyHandler handler(in, messenger);

    DispatchExact(handler, data, size);
    std::size_t start = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == protocol::kSysExEnd || i + 1 == size) {
            DispatchExact(handler, data + start, i + 1 - start);
            start = i + 1;
        }
    }
    if (handler.ReadBackPosition() > protocol::ReplyHandler::kReadBackCapacity) {
        __builtin_trap();
    }
    return 0;
}
