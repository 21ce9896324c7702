#pragma once
// Whether this user may open the system's MIDI device files. On Linux a user
// outside the group that owns /dev/snd/* (usually "audio") gets no MIDI port
// at all, and empty port lists alone do not tell why: the front ends say so
// in plain words.

#include <string>
#include <vector>

namespace corvane::midi {

struct BlockedMidiDevices {
    // Device files that exist but may not be opened for reading and writing.
    std::vector<std::string> paths;
    // The group that owns the first of them; empty when it has no name.
    std::string group;

    bool Any() const { return !paths.empty(); }
};

// The MIDI device files under `directory` (the sequencer, the raw MIDI ports,
// the cards' control files) that this process may not open, sorted. Empty
// where the platform has no such files.
BlockedMidiDevices FindBlockedMidiDevices(const std::string& directory = "/dev/snd");

// One line for the window's hint line; empty when nothing is blocked.
std::string DeviceAccessHint(const BlockedMidiDevices& blocked);
// What is blocked, why and what to do, for the console and the hint's tooltip.
std::string DeviceAccessExplanation(const BlockedMidiDevices& blocked);

}  // namespace corvane::midi
