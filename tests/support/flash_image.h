#pragma once
// What a device's flash must hold after an update of an image.

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "image/firmware_image.h"
#include "image/image_check.h"
#include "midi/midi_backend.h"

namespace corvane::testing {

// Whether every section the image selects stands in flash where it belongs.
inline bool FlashHoldsImage(const midi::Bytes& flash, std::span<const std::uint8_t> image) {
    const std::vector<std::uint8_t> bytes(image.begin(), image.end());
    image::CFirmwareImage firmware;
    if (firmware.Parse(bytes.data(), bytes.size(), image::MakeImageCheck(std::nullopt)) != 0) {
        return false;
    }
    for (int slot = 0; slot < image::kSlotCount; ++slot) {
        const image::SectionRecord& s = firmware.GetSections()[slot];
        if (s.selected != 1) {
            continue;
        }
        const std::size_t length = std::min<std::size_t>(s.flashSize, s.imageLength);
        if (s.flashAddress + length > flash.size() || s.imageOffset + length > bytes.size() ||
            !std::equal(bytes.begin() + s.imageOffset, bytes.begin() + s.imageOffset + length,
                        flash.begin() + s.flashAddress)) {
            return false;
        }
    }
    return true;
}

}  // namespace corvane::testing
