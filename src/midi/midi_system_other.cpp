#include "midi/midi_system.h"

namespace corvane::midi {

std::optional<RtMidi::Api> ChooseApi() {
#if defined(__APPLE__)
    return RtMidi::MACOSX_CORE;
#else
    return std::nullopt;
#endif
}

std::unique_ptr<SequencerClients> OpenSequencerClients() {
    return nullptr;
}

}  // namespace corvane::midi
