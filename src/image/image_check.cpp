#include "image/image_check.h"

#include <cstring>

#include "image/image_layout.h"

namespace corvane::image {

ImageCheck MakeImageCheck(const std::optional<DeviceVersion>& deviceVersion) {
    ImageCheck check;
    check.deviceVersion = deviceVersion;
    std::memcpy(check.banner.data(), kBanner, sizeof kBanner);
    for (int slot = 0; slot < kSlotCount; ++slot) {
        // The tables' strings fit with their terminators; the arrays start zeroed.
        std::memcpy(check.magic[slot].data(), kSlotMagics[slot], std::strlen(kSlotMagics[slot]));
        std::memcpy(check.name[slot].data(), kSlotNames[slot], std::strlen(kSlotNames[slot]));
    }
    return check;
}

}  // namespace corvane::image
