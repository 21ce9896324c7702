#pragma once
// Layout of the firmware container: the 256-byte image header with its section
// table, the 256-byte section headers, the nine slots and the byte orders used.

#include <array>
#include <cstddef>
#include <cstdint>

namespace corvane::image {

// The worker's image buffer; no container may reach beyond it.
inline constexpr std::uint32_t kImageBufferSize = 33554432;

inline constexpr int kSlotCount = 9;
inline constexpr int kBootSlot = 1;
inline constexpr std::uint32_t kImageHeaderSize = 256;
inline constexpr std::uint32_t kSectionHeaderSize = 256;
inline constexpr std::uint32_t kScratchSize = 32768;

// Image header.
inline constexpr std::size_t kBannerOffset = 0;
inline constexpr std::size_t kBannerLength = 16;
inline constexpr std::size_t kNoticeOffset = 16;
inline constexpr std::size_t kNoticeLength = 80;
inline constexpr std::size_t kMaskOffset = 96;
inline constexpr std::size_t kUpdateTypeOffset = 100;
inline constexpr std::size_t kTableOffset = 104;
inline constexpr std::size_t kEntrySize = 20;
inline constexpr std::size_t kNameLength = 4;
// Fields of a section table entry, after its name; each a little-endian word.
inline constexpr std::size_t kEntryImageOffset = 4;
inline constexpr std::size_t kEntryImageLength = 8;
inline constexpr std::size_t kEntryFlashAddress = 12;
inline constexpr std::size_t kEntryFlashSize = 16;
// Bytes 224-255 (entries 6 and 7 as far as they lie in the header) are spaces
// when those slots are absent.
inline constexpr std::size_t kHeaderTailOffset = 224;

// Section header.
inline constexpr std::size_t kMagicLength = 12;
inline constexpr std::size_t kPayloadSizeOffset = 12;
inline constexpr std::size_t kCheckedLengthOffset = 16;
inline constexpr std::size_t kFillerOffset = 20;
inline constexpr std::size_t kChecksumOffset = 252;
inline constexpr std::size_t kBootTrailerLength = 4;

inline constexpr char kBanner[] = "Q605 System Data";
inline constexpr std::array<const char*, kSlotCount> kSlotNames{
    "INFO", "BOOT", "PRST", "FILE", "MAIN", "", "", "", ""};
inline constexpr std::array<const char*, kSlotCount> kSlotMagics{
    "BRAXQ605INFO", "BRAXQ605BOOT", "BRAXQ605PRST", "BRAXQ605FILE", "BRAXQ605MAIN", "", "", "", ""};

// Offset of slot i's entry in the image; entries 7 and 8 run past the header.
constexpr std::size_t EntryOffset(int slot) {
    return kTableOffset + kEntrySize * slot;
}

// One entry of the section table as it stands in the image.
struct TableEntry {
    std::array<std::uint8_t, kNameLength> name{};
    std::uint32_t imageOffset = 0;
    std::uint32_t imageLength = 0;
    std::uint32_t flashAddress = 0;
    std::uint32_t flashSize = 0;
};

// The slot a section name stands for: the five names, or a slot number 0-7
// for the unnamed slots; -1 when it is neither.
int SlotFromName(const char* name);

}  // namespace corvane::image
