#pragma once
// The messages a device sends: its answers to the updater's requests and the
// unsolicited messages a test lets it send in between, plus the hex form the
// transcript uses. Each is laid out as protocol/message_set.h declares it, in
// data bytes: bit 7 of every argument is dropped.

#include <array>
#include <cstdint>
#include <string>

#include "midi/midi_backend.h"

namespace corvane::device {

// protocol::IdentityReply, the revision being the version.
midi::Bytes IdentityReply(const std::array<std::uint8_t, 4>& identity,
                          const std::array<std::uint8_t, 4>& version);
// protocol::Result.
midi::Bytes ResultMessage(std::uint8_t model, std::uint8_t status);
// protocol::VersionReply.
midi::Bytes VersionReply(std::uint8_t model, const std::array<std::uint8_t, 4>& version);

// Unsolicited messages.
// protocol::IdentityRequest on every channel: the device asks for the
// updater's identity.
midi::Bytes IdentityRequest();
// protocol::Bare, a manufacturer message with nothing but a function byte
// (01, 03, 04, 05, 07, ...).
midi::Bytes Notice(std::uint8_t model, std::uint8_t function);
// protocol::ReadBack; a spoiled CRC makes the updater refuse the data. At most
// 16,383 bytes are taken.
midi::Bytes ReadBackReply(std::uint8_t model, midi::ByteView data, bool spoilCrc = false);
// Bytes that are no System Exclusive message at all (a note-on).
midi::Bytes Garbage();
// A manufacturer message cut off before its function byte.
midi::Bytes ShortMessage();

// Upper-case hex pairs separated by single spaces.
std::string ToHex(midi::ByteView bytes);

}  // namespace corvane::device
