#pragma once
// Byte-level access to a container: reads that treat the bytes past the image
// as zero (as the worker's zero-filled buffer does), both byte orders, and the
// bounded name comparison the checks use.

#include <cstddef>
#include <cstdint>

namespace corvane::image {

// Copies n bytes from image offset `offset`; bytes at or past imageSize are
// zero. Only the imageSize bytes at `image` are ever read.
void CopyImageBytes(std::uint8_t* dst, const std::uint8_t* image, std::size_t imageSize,
                    std::uint64_t offset, std::size_t n);

// True when [offset, offset + length) lies inside the image buffer. 64-bit
// arithmetic: table values are 32-bit and their sums must not wrap.
bool FitsImageBuffer(std::uint64_t offset, std::uint64_t length);

std::uint32_t ReadLe32(const std::uint8_t* p);
std::uint32_t ReadBe32(const std::uint8_t* p);
void WriteLe32(std::uint8_t* p, std::uint32_t value);
void WriteBe32(std::uint8_t* p, std::uint32_t value);

// Equal when the first n bytes agree, ending early at a zero byte present at
// the same place in both.
bool NamesEqual(const void* a, const void* b, std::size_t n);

}  // namespace corvane::image
