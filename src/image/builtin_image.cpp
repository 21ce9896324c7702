#include "image/builtin_image.h"

// The container file chosen at configure time is assembled straight into
// read-only data: far faster to build than a byte-array source of a megabyte.
asm(".pushsection .rodata.corvane_builtin_image,\"a\"\n"
    ".balign 16\n"
    ".globl corvane_builtin_image_data\n"
    ".hidden corvane_builtin_image_data\n"
    "corvane_builtin_image_data:\n"
    ".incbin \"" CORVANE_BUILTIN_IMAGE_FILE
    "\"\n"
    "corvane_builtin_image_end:\n"
    ".balign 8\n"
    ".globl corvane_builtin_image_size\n"
    ".hidden corvane_builtin_image_size\n"
    "corvane_builtin_image_size:\n"
    ".8byte corvane_builtin_image_end - corvane_builtin_image_data\n"
    ".popsection\n");

extern "C" const std::uint8_t corvane_builtin_image_data[];
extern "C" const std::uint64_t corvane_builtin_image_size;

namespace corvane::image {

std::span<const std::uint8_t> BuiltinImage() {
    return {corvane_builtin_image_data, static_cast<std::size_t>(corvane_builtin_image_size)};
}

}  // namespace corvane::image
