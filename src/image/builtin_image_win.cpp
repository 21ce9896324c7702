#include "image/builtin_image.h"

#include <windows.h>

namespace corvane::image {

namespace {
constexpr int kImageResourceId = 144;
}  // namespace

// The container travels as resource "BIN" 144 of the executable; the loaded
// resource stays mapped for the life of the process.
std::span<const std::uint8_t> BuiltinImage() {
    HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(kImageResourceId), "BIN");
    if (resource == nullptr) {
        return {};
    }
    HGLOBAL loaded = LoadResource(nullptr, resource);
    const DWORD size = SizeofResource(nullptr, resource);
    const void* data = loaded == nullptr ? nullptr : LockResource(loaded);
    if (data == nullptr) {
        return {};
    }
    return {static_cast<const std::uint8_t*>(data), size};
}

}  // namespace corvane::image
