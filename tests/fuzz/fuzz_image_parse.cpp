// libFuzzer target: any byte string, behind the banner, as a container through
// the parser. The banner is given so that the fuzzer spends its time on the
// section table and section headers rather than on guessing 16 bytes. The
// container is parsed from an allocation of exactly its size, so a read past
// its end is an ASan report.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "image/firmware_image.h"
#include "image/image_check.h"
#include "image/image_layout.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace corvane::image;
    static const auto parser = std::make_unique<CFirmwareImage>();
    const std::size_t imageSize = kBannerLength + size;
    const std::unique_ptr<std::uint8_t[]> image(new std::uint8_t[imageSize]);
    std::memcpy(image.get(), kBanner, kBannerLength);
    std::copy(data, data + size, image.get() + kBannerLength);

    // The input's last four bytes double as the device version, so a BOOT
    // area that ends the image can match its trailer and be skipped.
    std::array<std::uint8_t, 4> version{};
    std::copy(image.get() + imageSize - version.size(), image.get() + imageSize, version.begin());
    const int result = parser->Parse(image.get(), imageSize, MakeImageCheck(version));
    if (result != 0 && result != -3) {
        __builtin_trap();
    }
    return 0;
}
