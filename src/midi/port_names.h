#pragma once
// Turns the names a MIDI system reports into the names the updater shows and
// matches: the name of the device itself, with identical names told apart.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::midi {

// An ALSA sequencer port as RtMidi names it: "Client Name:Port Name 20:0".
struct AlsaPortAddress {
    std::string text;  // "Client Name:Port Name", without the numbers
    int client = 0;
    int port = 0;
};

// Splits off the trailing " client:port" numbers; nullopt when they are missing.
std::optional<AlsaPortAddress> ParseAlsaPortName(std::string_view rtmidiName);

// The part before the first colon of "Client Name:Port Name" (all of it when
// there is no colon). Used when the sequencer cannot be asked for the client's
// own name, for example because the port has just gone away.
std::string AlsaClientNameFromText(std::string_view text);

// A JACK port's own name: what follows the first colon of "client:port" (JACK
// client names hold no colon, port names may).
std::string JackPortShortName(std::string_view fullName);

// The ALSA raw MIDI address of a device file: "/dev/snd/midiC1D0" is
// "hw:1,0"; an address "hw:..." stays as it is; nullopt for anything else.
std::optional<std::string> RawMidiAddressOfPath(std::string_view path);

// Keeps the first of identical names as it is and appends " (2)", " (3)"...
// to the later ones, in list order.
std::vector<std::string> NumberDuplicates(std::vector<std::string> names);

// The names the n-th of several identical devices named `base` goes by, n from
// 1: the first is `base` itself. A later one is "base (n)" where the names of
// identical devices reach NumberDuplicates; Windows itself names the second
// of two identical USB devices "2- base", the third "3- base" and so on.
std::vector<std::string> NthDeviceNames(const std::string& base, int n);

// The base among `bases` that `name` is, as it stands or numbered as
// NthDeviceNames numbers identical devices; nullopt when it is none of them.
std::optional<std::string> BaseNameOf(std::string_view name, const std::vector<std::string>& bases);

}  // namespace corvane::midi
