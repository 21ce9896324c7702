#pragma once
// What an image is checked against: the device's version (compared with the
// BOOT trailer) and the constant banner, section names and magics.

#include <array>
#include <cstdint>
#include <optional>

namespace corvane::image {

using DeviceVersion = std::array<std::uint8_t, 4>;

struct ImageCheck {
    // Empty when the device did not tell it. An unknown version matches no
    // trailer: every byte pattern, erased padding included, is a trailer
    // some image may carry, so none can stand for "unknown".
    std::optional<DeviceVersion> deviceVersion;
    std::array<std::array<char, 13>, 9> magic{};
    std::array<char, 100> banner{};
    std::array<std::array<char, 5>, 9> name{};
};

// An ImageCheck holding deviceVersion and the constant tables.
ImageCheck MakeImageCheck(const std::optional<DeviceVersion>& deviceVersion);

}  // namespace corvane::image
