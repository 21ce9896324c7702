#include "image/image_layout.h"

#include <cstring>

namespace corvane::image {

int SlotFromName(const char* name) {
    for (int slot = 0; slot < kSlotCount - 1; ++slot) {
        if (kSlotNames[slot][0] != '\0' && std::strcmp(name, kSlotNames[slot]) == 0) {
            return slot;
        }
    }
    if (name[0] >= '0' && name[0] <= '7' && name[1] == '\0') {
        return name[0] - '0';
    }
    return -1;
}

}  // namespace corvane::image
