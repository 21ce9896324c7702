#include "image/image_bytes.h"

#include <algorithm>
#include <cstring>

#include "image/image_layout.h"

namespace corvane::image {

void CopyImageBytes(std::uint8_t* dst, const std::uint8_t* image, std::size_t imageSize,
                    std::uint64_t offset, std::size_t n) {
    std::size_t inImage = 0;
    if (offset < imageSize) {
        inImage = static_cast<std::size_t>(std::min<std::uint64_t>(n, imageSize - offset));
        std::memcpy(dst, image + offset, inImage);
    }
    std::memset(dst + inImage, 0, n - inImage);
}

bool FitsImageBuffer(std::uint64_t offset, std::uint64_t length) {
    return offset <= kImageBufferSize && length <= kImageBufferSize - offset;
}

std::uint32_t ReadLe32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint32_t ReadBe32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}

void WriteLe32(std::uint8_t* p, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

void WriteBe32(std::uint8_t* p, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
    }
}

bool NamesEqual(const void* a, const void* b, std::size_t n) {
    const auto* x = static_cast<const std::uint8_t*>(a);
    const auto* y = static_cast<const std::uint8_t*>(b);
    for (std::size_t i = 0; i < n; ++i) {
        if (x[i] != y[i]) {
            return false;
        }
        if (x[i] == 0) {
            return true;
        }
    }
    return true;
}

}  // namespace corvane::image
