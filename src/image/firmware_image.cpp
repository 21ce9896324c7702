#include "image/firmware_image.h"

#include <algorithm>
#include <cstring>

#include "image/image_bytes.h"

namespace corvane::image {

namespace {

std::uint32_t SumBytes(const std::uint8_t* data, std::size_t n) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        sum += data[i];
    }
    return sum;
}

// Image offset one past the BOOT area, where its 4-byte trailer ends.
std::uint64_t AreaEnd(const SectionRecord& record) {
    return static_cast<std::uint64_t>(record.imageOffset) + record.imageLength;
}

bool TrailerFits(const SectionRecord& record) {
    return AreaEnd(record) >= kBootTrailerLength &&
           FitsImageBuffer(AreaEnd(record) - kBootTrailerLength, kBootTrailerLength);
}

}  // namespace

TableEntry ReadTableEntry(const std::uint8_t* image, std::size_t imageSize, int slot) {
    std::array<std::uint8_t, kEntrySize> raw{};
    CopyImageBytes(raw.data(), image, imageSize, EntryOffset(slot), raw.size());
    TableEntry entry;
    std::memcpy(entry.name.data(), raw.data(), kNameLength);
    entry.imageOffset = ReadLe32(raw.data() + kEntryImageOffset);
    entry.imageLength = ReadLe32(raw.data() + kEntryImageLength);
    entry.flashAddress = ReadLe32(raw.data() + kEntryFlashAddress);
    entry.flashSize = ReadLe32(raw.data() + kEntryFlashSize);
    return entry;
}

int CFirmwareImage::Parse(const std::uint8_t* image, std::size_t imageSize, ImageCheck check) {
    return Diagnose(image, imageSize, check).fault == ImageFault::kNone ? 0 : -3;
}

ParseReport CFirmwareImage::Diagnose(const std::uint8_t* image, std::size_t imageSize,
                                     ImageCheck check) {
    m_sections = {};
    CopyImageBytes(m_header.data(), image, imageSize, 0, m_header.size());
    // Set before any check: the type is known even for a refused image.
    m_updateType = m_header[kUpdateTypeOffset];

    ParseReport report;
    if (imageSize > kImageBufferSize) {
        report.fault = ImageFault::kImageTooLarge;
        return report;
    }
    if (!NamesEqual(m_header.data() + kBannerOffset, check.banner.data(), kBannerLength)) {
        report.fault = ImageFault::kBanner;
        return report;
    }
    ScanTable(image, imageSize, check);

    for (int slot = 0; slot < kSlotCount; ++slot) {
        SectionRecord& record = m_sections[slot];
        if (record.selected == 0) {
            if (slot == 0) {
                report.fault = ImageFault::kInfoNotSelected;
                report.slot = 0;
                return report;
            }
            continue;
        }
        const SectionCheck result = CheckSlot(image, imageSize, slot, record);
        if (result.fault != ImageFault::kNone) {
            report.fault = result.fault;
            report.slot = slot;
            report.section = result;
            return report;
        }
        record.imageOffset += kSectionHeaderSize;
        record.imageLength -= kSectionHeaderSize;
    }
    return report;
}

void CFirmwareImage::ScanTable(const std::uint8_t* image, std::size_t imageSize,
                               const ImageCheck& check) {
    const std::uint8_t mask = m_header[kMaskOffset];
    // Slot 8 has no mask bit, so it is never present.
    for (int slot = 0; slot < kSlotCount - 1; ++slot) {
        const TableEntry entry = ReadTableEntry(image, imageSize, slot);
        if ((mask & (1u << slot)) == 0 ||
            !NamesEqual(entry.name.data(), check.name[slot].data(), kNameLength)) {
            continue;
        }
        SectionRecord& record = m_sections[slot];
        record.imageOffset = entry.imageOffset;
        record.imageLength = entry.imageLength;
        record.flashAddress = entry.flashAddress;
        record.flashSize = entry.flashSize;
        record.selected = 1;
        if (slot == kBootSlot && TrailerFits(record)) {
            std::array<std::uint8_t, kBootTrailerLength> trailer{};
            CopyImageBytes(trailer.data(), image, imageSize, AreaEnd(record) - trailer.size(),
                           trailer.size());
            record.selected = check.deviceVersion && trailer == *check.deviceVersion ? 0 : 1;
        }
        // A trailer outside the buffer cannot match; the check pass refuses it.
        std::memcpy(record.magic.data(), check.magic[slot].data(), kMagicLength);
    }
}

SectionCheck CFirmwareImage::CheckSlot(const std::uint8_t* image, std::size_t imageSize, int slot,
                                       const SectionRecord& record) {
    // The record's own ranges come first: they refuse without reading.
    SectionCheck result;
    if (!FitsImageBuffer(record.imageOffset, kSectionHeaderSize)) {
        result.fault = ImageFault::kHeaderOutOfRange;
    } else if (record.imageLength < kSectionHeaderSize) {
        result.fault = ImageFault::kAreaTooShort;
    } else if (slot == kBootSlot && !TrailerFits(record)) {
        result.fault = ImageFault::kTrailerOutOfRange;
    } else if (!FitsImageBuffer(static_cast<std::uint64_t>(record.imageOffset) + kSectionHeaderSize,
                                record.flashSize)) {
        result.fault = ImageFault::kWriteOutOfRange;
    } else {
        result = CheckSection(image, imageSize, record.imageOffset, record.magic.data());
    }
    return result;
}

SectionCheck CFirmwareImage::CheckSection(const std::uint8_t* image, std::size_t imageSize,
                                          std::uint32_t offset, const char* magic) {
    SectionCheck result;
    if (!FitsImageBuffer(offset, kSectionHeaderSize)) {
        result.fault = ImageFault::kHeaderOutOfRange;
        return result;
    }
    CopyImageBytes(m_scratch.data(), image, imageSize, offset, kSectionHeaderSize);
    if (!NamesEqual(m_scratch.data(), magic, kMagicLength)) {
        result.fault = ImageFault::kMagic;
        return result;
    }
    result.checkedLength = ReadLe32(m_scratch.data() + kCheckedLengthOffset);
    result.storedChecksum = ReadBe32(m_scratch.data() + kChecksumOffset);

    const std::uint64_t payload = static_cast<std::uint64_t>(offset) + kSectionHeaderSize;
    if (!FitsImageBuffer(payload, result.checkedLength)) {
        result.fault = ImageFault::kPayloadOutOfRange;
        return result;
    }
    // Bytes past the image are zero and add nothing, so the walk stops at the
    // image's end.
    std::uint64_t remaining =
        payload < imageSize ? std::min<std::uint64_t>(result.checkedLength, imageSize - payload)
                            : 0;
    std::uint64_t position = payload;
    std::uint32_t sum = 0;
    while (remaining > 0) {
        const std::size_t chunk =
            static_cast<std::size_t>(std::min<std::uint64_t>(remaining, m_scratch.size()));
        std::memcpy(m_scratch.data(), image + position, chunk);
        sum += SumBytes(m_scratch.data(), chunk);
        position += chunk;
        remaining -= chunk;
    }
    result.computedChecksum = sum;
    if (sum != result.storedChecksum) {
        result.fault = ImageFault::kChecksum;
    }
    return result;
}

}  // namespace corvane::image
