#pragma once
// The messages a device sends: its answers to the updater's requests and the
// unsolicited messages a test lets it send in between, plus the hex form the
// transcript uses.

#include <array>
#include <cstdint>
#include <string>

#include "midi/midi_backend.h"

namespace corvane::device {

// F0 7E 00 06 02 52 i0 i1 i2 i3 r0 r1 r2 r3 F7, the revision being the version.
midi::Bytes IdentityReply(const std::array<std::uint8_t, 4>& identity,
                          const std::array<std::uint8_t, 4>& version);
// F0 52 00 mm 00 ss F7.
midi::Bytes ResultMessage(std::uint8_t model, std::uint8_t status);
// F0 52 00 mm 64 45 w0 w1 w2 w3 00 F7.
midi::Bytes VersionReply(std::uint8_t model, const std::array<std::uint8_t, 4>& version);

// Unsolicited messages.
// F0 7E 7F 06 01 F7: the device asks for the updater's identity.
midi::Bytes IdentityRequest();
// F0 52 00 mm fn F7, a manufacturer message with nothing but a function byte
// (01, 03, 04, 05, 07, ...).
midi::Bytes Notice(std::uint8_t model, std::uint8_t function);
// F0 52 00 mm 60 04 30 00 00 k0 k1 (packed data) c0..c4 F7; a spoiled CRC
// makes the updater refuse the data. At most 16,383 bytes are taken.
midi::Bytes ReadBackReply(std::uint8_t model, midi::ByteView data, bool spoilCrc = false);
// Bytes that are no System Exclusive message at all (a note-on).
midi::Bytes Garbage();
// A manufacturer message cut off before its function byte.
midi::Bytes ShortMessage();

// Upper-case hex pairs separated by single spaces.
std::string ToHex(midi::ByteView bytes);

}  // namespace corvane::device
