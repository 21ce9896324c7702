#include "image/container_writer.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "image/image_bytes.h"
#include "image/image_layout.h"

namespace corvane::image {

namespace {

constexpr int kLastSlot = 7;  // slot 8 has no mask bit
constexpr std::size_t kSlot7TailSize = 8;

ContainerResult Failure(std::string error) {
    ContainerResult result;
    result.error = std::move(error);
    return result;
}

void WriteSectionHeader(std::uint8_t* header, int slot, const SectionSource& source,
                        std::uint32_t checkedLength) {
    std::memset(header, 0x20, kSectionHeaderSize);
    std::memset(header, 0, kMagicLength);
    std::memcpy(header, kSlotMagics[slot], std::strlen(kSlotMagics[slot]));
    const auto payloadSize = static_cast<std::uint32_t>(source.payload.size());
    WriteLe32(header + kPayloadSizeOffset, payloadSize);
    WriteLe32(header + kCheckedLengthOffset, checkedLength);
    std::uint32_t sum = 0;
    for (std::uint32_t i = 0; i < checkedLength; ++i) {
        sum += source.payload[i];
    }
    WriteBe32(header + kChecksumOffset, sum);
}

using SectionsBySlot = std::array<const SectionSource*, kLastSlot + 1>;

// Sorts the sections by slot; why they cannot make a container, empty when
// they can.
std::string SortSections(const ContainerLayout& layout, SectionsBySlot& bySlot) {
    for (const SectionSource& source : layout.sections) {
        if (source.slot < 0 || source.slot > kLastSlot) {
            return "slot " + std::to_string(source.slot) + " does not exist (0-7)";
        }
        if (bySlot[source.slot] != nullptr) {
            return "slot " + std::to_string(source.slot) + " given twice";
        }
        if (source.checkedLength && *source.checkedLength > source.payload.size()) {
            return "slot " + std::to_string(source.slot) +
                   ": checked length larger than the payload";
        }
        bySlot[source.slot] = &source;
    }
    return {};
}

// The header, the tail that slot 7 brings, then each section's header and payload.
std::uint64_t ContainerSize(const SectionsBySlot& bySlot) {
    std::uint64_t total = kImageHeaderSize + (bySlot[kLastSlot] != nullptr ? kSlot7TailSize : 0);
    for (const SectionSource* source : bySlot) {
        if (source != nullptr) {
            total += kSectionHeaderSize + source->payload.size();
        }
    }
    return total;
}

void WriteImageHeader(std::vector<std::uint8_t>& image, const ContainerLayout& layout) {
    std::memcpy(image.data() + kBannerOffset, kBanner, kBannerLength);
    std::memset(image.data() + kNoticeOffset, 0x20, kNoticeLength - 1);
    std::memcpy(image.data() + kNoticeOffset, layout.notice.data(), layout.notice.size());
    image[kUpdateTypeOffset] = layout.updateType;
    std::memset(image.data() + kHeaderTailOffset, 0x20, kImageHeaderSize - kHeaderTailOffset);
}

// Writes the section of `slot` at `offset`: its entry in the header, its
// section header and its payload. Returns the length of its area.
std::uint32_t WriteSection(std::vector<std::uint8_t>& image, int slot, const SectionSource& source,
                           std::uint32_t offset) {
    image[kMaskOffset] |= static_cast<std::uint8_t>(1u << slot);
    const auto payloadSize = static_cast<std::uint32_t>(source.payload.size());
    const std::uint32_t areaLength = kSectionHeaderSize + payloadSize;
    std::uint8_t* entry = image.data() + EntryOffset(slot);
    std::memset(entry, 0, kNameLength);
    std::memcpy(entry, kSlotNames[slot], std::strlen(kSlotNames[slot]));
    WriteLe32(entry + kEntryImageOffset, offset);
    WriteLe32(entry + kEntryImageLength, areaLength);
    WriteLe32(entry + kEntryFlashAddress, source.flashAddress);
    WriteLe32(entry + kEntryFlashSize, payloadSize);

    WriteSectionHeader(image.data() + offset, slot, source,
                       source.checkedLength.value_or(payloadSize));
    std::copy(source.payload.begin(), source.payload.end(),
              image.begin() + offset + kSectionHeaderSize);
    return areaLength;
}

}  // namespace

ContainerResult WriteContainer(const ContainerLayout& layout) {
    if (layout.notice.size() >= kNoticeLength) {
        return Failure("notice longer than 79 characters");
    }
    SectionsBySlot bySlot{};
    std::string error = SortSections(layout, bySlot);
    if (!error.empty()) {
        return Failure(std::move(error));
    }
    const std::uint64_t total = ContainerSize(bySlot);
    if (total > kImageBufferSize) {
        return Failure("container of " + std::to_string(total) +
                       " bytes is larger than the 33554432-byte image buffer");
    }

    ContainerResult result;
    std::vector<std::uint8_t>& image = result.bytes;
    image.assign(static_cast<std::size_t>(total), 0);
    WriteImageHeader(image, layout);
    std::uint32_t offset =
        kImageHeaderSize + (bySlot[kLastSlot] != nullptr ? std::uint32_t{kSlot7TailSize} : 0);
    for (int slot = 0; slot <= kLastSlot; ++slot) {
        if (bySlot[slot] != nullptr) {
            offset += WriteSection(image, slot, *bySlot[slot], offset);
        }
    }
    return result;
}

}  // namespace corvane::image
