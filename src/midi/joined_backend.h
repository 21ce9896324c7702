#pragma once
// Several port sources shown as one MIDI system: the ports of the first source,
// then those of the next, and so on; identical names across all of them get
// " (2)", " (3)"... in that order.

#include <memory>
#include <vector>

#include "midi/midi_backend.h"
#include "midi/port_source.h"

namespace corvane::midi {

std::unique_ptr<MidiBackend> JoinPortSources(std::vector<std::unique_ptr<PortSource>> sources);

}  // namespace corvane::midi
