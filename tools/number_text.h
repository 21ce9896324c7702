#pragma once
// Numbers and bytes as the command-line programs take them.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "midi/midi_backend.h"

namespace corvane::tools {

// Decimal, or hexadecimal with 0x; the whole text must be the number.
std::optional<std::uint32_t> ParseNumber(std::string_view text);
// An even number of hex digits, at least one pair.
std::optional<midi::Bytes> ParseHexBytes(std::string_view text);
// Exactly eight hex digits.
std::optional<std::array<std::uint8_t, 4>> ParseFourBytes(std::string_view text);

}  // namespace corvane::tools
