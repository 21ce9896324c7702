#include "midi/device_access.h"

namespace corvane::midi {

namespace {

std::string GroupWords(const BlockedMidiDevices& blocked) {
    return blocked.group.empty() ? "the group that owns them"
                                 : "the group \"" + blocked.group + "\"";
}

}  // namespace

std::string DeviceAccessHint(const BlockedMidiDevices& blocked) {
    if (!blocked.Any()) {
        return {};
    }
    return "No access to the MIDI devices: join " + GroupWords(blocked) + ".";
}

std::string DeviceAccessExplanation(const BlockedMidiDevices& blocked) {
    if (!blocked.Any()) {
        return {};
    }
    std::string files;
    for (const std::string& path : blocked.paths) {
        files += (files.empty() ? "" : ", ") + path;
    }
    std::string text =
        "You may not open the MIDI devices (" + files + "), so no MIDI port can be listed. ";
    text += "Access comes with membership of " + GroupWords(blocked) + ".";
    if (!blocked.group.empty()) {
        text += " An administrator can add you with \"usermod -aG " + blocked.group + " USER\";";
        text += " then log out and in again.";
    }
    return text;
}

}  // namespace corvane::midi
