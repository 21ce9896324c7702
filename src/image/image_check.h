#pragma once
// What an image is checked against: the device's version (compared with the
// BOOT trailer) and the constant banner, section names and magics.

#include <array>
#include <cstdint>

namespace corvane::image {

struct ImageCheck {
    std::array<std::uint8_t, 4> deviceVersion{};
    std::array<std::array<char, 13>, 9> magic{};
    std::array<char, 100> banner{};
    std::array<std::array<char, 5>, 9> name{};
};

// An ImageCheck holding deviceVersion and the constant tables.
ImageCheck MakeImageCheck(const std::array<std::uint8_t, 4>& deviceVersion);

}  // namespace corvane::image
