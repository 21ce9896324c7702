#pragma once
// The firmware container carried by the updater: parses the image header and
// section table, checks every selected section (magic, checksum, ranges) and
// yields the section records the erase and write steps work from.

#include <array>
#include <cstddef>
#include <cstdint>

#include "image/image_check.h"
#include "image/image_fault.h"
#include "image/image_layout.h"

namespace corvane::image {

// One slot's result. After a successful Parse a selected record describes the
// payload; an unselected one keeps its table values (or is all zero).
struct SectionRecord {
    std::uint32_t imageOffset = 0;
    std::uint32_t imageLength = 0;
    std::uint32_t flashAddress = 0;
    std::uint32_t flashSize = 0;
    int selected = 0;
    std::array<char, 13> magic{};
};

// The section table entry of `slot` (0-7). Entry 7 runs past the image header
// into image bytes 256-263, where its flash address and size are read.
TableEntry ReadTableEntry(const std::uint8_t* image, std::size_t imageSize, int slot);

// Parse reads only the imageSize bytes at `image` and treats the rest of the
// 33,554,432-byte image buffer as zero bytes, as the worker's buffer holds
// them; values reaching beyond that buffer are refused.
class CFirmwareImage {
public:
    // 0 when the image is valid, -3 when it is not.
    int Parse(const std::uint8_t* image, std::size_t imageSize, ImageCheck check);
    // Parse, telling which check failed first.
    ParseReport Diagnose(const std::uint8_t* image, std::size_t imageSize, ImageCheck check);

    // The section header at `offset`: its magic, range and checksum.
    SectionCheck CheckSection(const std::uint8_t* image, std::size_t imageSize,
                              std::uint32_t offset, const char* magic);
    // CheckSection plus the record's own ranges: section area length, the
    // data written from the payload, and for BOOT its trailer.
    SectionCheck CheckSlot(const std::uint8_t* image, std::size_t imageSize, int slot,
                           const SectionRecord& record);

    const SectionRecord* GetSections() const { return m_sections.data(); }
    int GetUpdateType() const { return m_updateType; }

private:
    void ScanTable(const std::uint8_t* image, std::size_t imageSize, const ImageCheck& check);

    std::array<SectionRecord, kSlotCount> m_sections{};
    std::array<std::uint8_t, kImageHeaderSize> m_header{};
    // Payload bytes pass through here on their way into the checksum.
    std::array<std::uint8_t, kScratchSize> m_scratch{};
    std::uint8_t m_updateType = 0;
};

}  // namespace corvane::image
