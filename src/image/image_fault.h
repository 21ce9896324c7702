#pragma once
// Why an image was refused: the first failed check, in the order the parser
// makes them, and the slot it concerns.

#include <cstdint>
#include <string>

namespace corvane::image {

enum class ImageFault {
    kNone,
    kImageTooLarge,      // the image is larger than the image buffer
    kBanner,             // banner differs within its 16 characters
    kInfoNotSelected,    // slot 0 missing: mask bit clear or another name
    kHeaderOutOfRange,   // section header reaches beyond the image buffer
    kMagic,              // section header magic differs from the slot's
    kAreaTooShort,       // image length smaller than the section header
    kTrailerOutOfRange,  // BOOT trailer lies outside the image buffer
    kWriteOutOfRange,    // payload offset + flash size beyond the image buffer
    kPayloadOutOfRange,  // checked bytes reach beyond the image buffer
    kChecksum,           // byte sum differs from the section checksum
};

// The verdict on one section.
struct SectionCheck {
    ImageFault fault = ImageFault::kNone;
    std::uint32_t checkedLength = 0;
    std::uint32_t storedChecksum = 0;
    std::uint32_t computedChecksum = 0;
};

// The verdict on a whole image; slot is -1 for faults of the image header.
struct ParseReport {
    ImageFault fault = ImageFault::kNone;
    int slot = -1;
    SectionCheck section;
};

// One line for a user: which slot failed which check, with the numbers.
std::string Describe(const ParseReport& report);
// The check alone, e.g. "checksum mismatch".
const char* FaultName(ImageFault fault);

}  // namespace corvane::image
