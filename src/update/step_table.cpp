#include "update/step_table.h"

#include <algorithm>

namespace corvane::update {

int BuildStepTable(std::span<const image::SectionRecord> sections, StepTable& steps) {
    const auto selected = [](const image::SectionRecord& s) { return s.selected == 1; };
    const int n = static_cast<int>(std::count_if(sections.begin(), sections.end(), selected));
    steps = StepTable{};
    int count = 0;
    int next = 0;
    auto fill = [&](int entry, int kind, const image::SectionRecord& s) {
        if (entry < 0 || entry >= kStepTableSize) {
            return;
        }
        steps[static_cast<std::size_t>(entry)] =
            StepEntry{kind, s.flashAddress, s.flashSize, s.imageOffset, s.imageLength};
        ++count;
    };
    for (std::size_t slot = 0; slot < sections.size(); ++slot) {
        const image::SectionRecord& s = sections[slot];
        if (!selected(s)) {
            continue;
        }
        if (slot == 0) {
            // INFO is erased before anything else and written after everything else.
            fill(next++, kStepErase, s);
            fill(2 * n, kStepWrite, s);
        } else {
            fill(next++, kStepErase, s);
            fill(next++, kStepWrite, s);
        }
    }
    return count;
}

}  // namespace corvane::update
