#pragma once
// Small containers for the image tests: payloads with a fixed pattern, a
// layout with every kind of slot, and field edits in built images.

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "image/container_writer.h"
#include "image/image_bytes.h"
#include "image/image_layout.h"

namespace corvane::image::test {

inline constexpr std::array<std::uint8_t, 4> kBootTrailer{0x01, 0x02, 0x03, 0x04};

inline std::vector<std::uint8_t> Payload(std::size_t n, std::uint8_t seed) {
    std::vector<std::uint8_t> bytes(n);
    for (std::size_t i = 0; i < n; ++i) {
        bytes[i] = static_cast<std::uint8_t>(seed + i * 37 + (i >> 8));
    }
    return bytes;
}

// INFO, BOOT (trailer 01 02 03 04), PRST, FILE, MAIN (partly checked) and the
// unnamed slots 5-7.
inline ContainerLayout AllSlotsLayout() {
    ContainerLayout layout;
    layout.notice = "test container";
    layout.updateType = 7;
    std::vector<std::uint8_t> boot = Payload(64, 2);
    std::copy(kBootTrailer.begin(), kBootTrailer.end(), boot.end() - 4);
    layout.sections = {
        {0, Payload(48, 1), 0x149000, std::nullopt}, {1, boot, 0x1000, std::nullopt},
        {2, Payload(40, 3), 0x20000, std::nullopt},  {3, Payload(72, 4), 0x30000, std::nullopt},
        {4, Payload(128, 5), 0x68000, 100},          {5, Payload(16, 6), 0x70000, std::nullopt},
        {6, Payload(24, 7), 0x71000, std::nullopt},  {7, Payload(32, 8), 0x72000, std::nullopt},
    };
    return layout;
}

inline std::vector<std::uint8_t> Build(const ContainerLayout& layout) {
    return WriteContainer(layout).bytes;
}

// Byte offset of a section table field: 1 image offset, 2 image length,
// 3 flash address, 4 flash size.
inline std::size_t EntryField(int slot, int field) {
    return EntryOffset(slot) + 4 * field;
}

inline std::uint32_t Get32(const std::vector<std::uint8_t>& image, std::size_t offset) {
    return ReadLe32(image.data() + offset);
}
inline void Set32(std::vector<std::uint8_t>& image, std::size_t offset, std::uint32_t value) {
    WriteLe32(image.data() + offset, value);
}
// Image offset of slot's section header, as its table entry says.
inline std::uint32_t AreaOffset(const std::vector<std::uint8_t>& image, int slot) {
    return Get32(image, EntryField(slot, 1));
}

inline std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace corvane::image::test
