// libFuzzer target: any byte string, as a container, through the parser. The
// input is parsed in place, so a read past its end is an ASan report.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "image/firmware_image.h"
#include "image/image_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const auto parser = std::make_unique<corvane::image::CFirmwareImage>();
    // The input's last four bytes double as the device version, so a BOOT
    // area that ends the image can match its trailer and be skipped.
    std::array<std::uint8_t, 4> version{};
    if (size >= version.size()) {
        std::copy(data + size - version.size(), data + size, version.begin());
    }
    const int result = parser->Parse(data, size, corvane::image::MakeImageCheck(version));
    if (result != 0 && result != -3) {
        __builtin_trap();
    }
    return 0;
}
