#include "image/image_fault.h"

#include <cstdio>

#include "image/image_layout.h"

namespace corvane::image {

const char* FaultName(ImageFault fault) {
    switch (fault) {
        case ImageFault::kNone:
            return "ok";
        case ImageFault::kImageTooLarge:
            return "image larger than the 33554432-byte image buffer";
        case ImageFault::kBanner:
            return "banner is not \"Q605 System Data\"";
        case ImageFault::kInfoNotSelected:
            return "INFO section missing (mask bit 0 clear or entry 0 not named INFO)";
        case ImageFault::kHeaderOutOfRange:
            return "section header reaches beyond the image buffer";
        case ImageFault::kMagic:
            return "section header magic does not match the slot";
        case ImageFault::kAreaTooShort:
            return "image length smaller than the 256-byte section header";
        case ImageFault::kTrailerOutOfRange:
            return "boot trailer lies outside the image buffer";
        case ImageFault::kWriteOutOfRange:
            return "flash size reaches beyond the image buffer";
        case ImageFault::kPayloadOutOfRange:
            return "checked length reaches beyond the image buffer";
        case ImageFault::kChecksum:
            return "checksum mismatch";
    }
    return "unknown fault";
}

std::string Describe(const ParseReport& report) {
    if (report.slot < 0) {
        return FaultName(report.fault);
    }
    char text[192];
    const char* name = kSlotNames[report.slot][0] != '\0' ? kSlotNames[report.slot] : "unnamed";
    if (report.fault == ImageFault::kChecksum) {
        std::snprintf(text, sizeof text,
                      "slot %d (%s): checksum mismatch: stored 0x%08X, computed 0x%08X over %u "
                      "bytes",
                      report.slot, name, static_cast<unsigned>(report.section.storedChecksum),
                      static_cast<unsigned>(report.section.computedChecksum),
                      static_cast<unsigned>(report.section.checkedLength));
    } else if (report.fault == ImageFault::kPayloadOutOfRange) {
        std::snprintf(text, sizeof text, "slot %d (%s): checked length %u %s", report.slot, name,
                      static_cast<unsigned>(report.section.checkedLength),
                      "reaches beyond the image buffer");
    } else {
        std::snprintf(text, sizeof text, "slot %d (%s): %s", report.slot, name,
                      FaultName(report.fault));
    }
    return text;
}

}  // namespace corvane::image
