#pragma once
// The erase and write steps of one run, built from the parsed image.

#include <array>
#include <cstdint>
#include <span>

#include "image/firmware_image.h"

namespace corvane::update {

enum StepKind : int { kStepEmpty = 0, kStepErase = 1, kStepWrite = 2 };

struct StepEntry {
    int kind = kStepEmpty;
    std::uint32_t flashAddress = 0;
    std::uint32_t flashSize = 0;
    std::uint32_t imageOffset = 0;
    std::uint32_t imageLength = 0;
};

inline constexpr int kStepTableSize = 18;
using StepTable = std::array<StepEntry, kStepTableSize>;

// Empties `steps`, then fills it from the image's section records in slot
// order: INFO erased first and written last, every other selected section
// erased then written. Returns the number of steps, two per selected section.
int BuildStepTable(std::span<const image::SectionRecord> sections, StepTable& steps);

}  // namespace corvane::update
