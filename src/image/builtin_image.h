#pragma once
// The firmware container linked into the program at build time.

#include <cstdint>
#include <span>

namespace corvane::image {

// The container's bytes; empty when the build linked in an empty file.
std::span<const std::uint8_t> BuiltinImage();

}  // namespace corvane::image
