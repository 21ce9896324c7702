#pragma once
// Builds a firmware container from payloads: image header, section table and
// section headers with their checksums, the section areas back to back in slot
// order after the header.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corvane::image {

struct SectionSource {
    int slot = 0;  // 0-7
    std::vector<std::uint8_t> payload;
    std::uint32_t flashAddress = 0;
    // Payload bytes the checksum covers; the whole payload when absent.
    std::optional<std::uint32_t> checkedLength;
};

struct ContainerLayout {
    std::string notice;  // at most 79 characters, padded with spaces
    std::uint8_t updateType = 1;
    std::vector<SectionSource> sections;  // any order, one per slot
};

// The container bytes, or an empty buffer and the reason.
struct ContainerResult {
    std::vector<std::uint8_t> bytes;
    std::string error;
    bool ok() const { return error.empty(); }
};

// The flash size of each section is its payload size. When slot 7 is present
// its entry's flash address and size occupy image bytes 256-263 and the
// section areas start at byte 264.
ContainerResult WriteContainer(const ContainerLayout& layout);

}  // namespace corvane::image
