// The step table built from the parsed sections: INFO erased first and
// written last, every other selected section erased then written in slot order.

#include "update/step_table.h"

#include <gtest/gtest.h>

namespace corvane::update {
namespace {

class StepTableTest : public ::testing::Test {
protected:
    using Sections = std::array<image::SectionRecord, 9>;
    static image::SectionRecord Selected(std::uint32_t address) {
        image::SectionRecord r;
        r.selected = 1;
        r.flashAddress = address;
        r.flashSize = address / 16;
        r.imageOffset = address / 4;
        r.imageLength = address / 8;
        return r;
    }
    void Build(const Sections& sections) { m_count = BuildStepTable(sections, m_steps); }

    StepTable m_steps{};
    int m_count = 0;
};

TEST_F(StepTableTest, TheShippedLayout) {
    Sections s{};
    s[0] = {512, 4096, 0x149000, 4096, 1, {}};
    s[4] = {4864, 921600, 0x68000, 921600, 1, {}};
    Build(s);
    const StepTable& t = m_steps;
    EXPECT_EQ(m_count, 4);
    EXPECT_EQ(t[0].kind, kStepErase);
    EXPECT_EQ(t[0].flashAddress, 0x149000u);
    EXPECT_EQ(t[1].kind, kStepErase);
    EXPECT_EQ(t[1].flashAddress, 0x68000u);
    EXPECT_EQ(t[2].kind, kStepWrite);
    EXPECT_EQ(t[2].imageOffset, 4864u);
    EXPECT_EQ(t[2].flashSize, 921600u);
    EXPECT_EQ(t[3].kind, kStepEmpty);
    EXPECT_EQ(t[4].kind, kStepWrite);
    EXPECT_EQ(t[4].flashAddress, 0x149000u);
    EXPECT_EQ(t[4].imageLength, 4096u);
    for (int i = 5; i < kStepTableSize; ++i) {
        EXPECT_EQ(t[static_cast<std::size_t>(i)].kind, kStepEmpty);
    }
}

TEST_F(StepTableTest, InfoAlone) {
    Sections s{};
    s[0] = Selected(0x1000);
    Build(s);
    EXPECT_EQ(m_count, 2);
    EXPECT_EQ(m_steps[0].kind, kStepErase);
    EXPECT_EQ(m_steps[1].kind, kStepEmpty);
    EXPECT_EQ(m_steps[2].kind, kStepWrite);
}

TEST_F(StepTableTest, EightSectionsFillTheTableWithoutOverflow) {
    Sections s{};
    for (int slot = 0; slot < 8; ++slot) {
        s[static_cast<std::size_t>(slot)] =
            Selected(0x10000u * static_cast<std::uint32_t>(slot + 1));
    }
    s[8] = Selected(0x900000);  // can never be present; must not add steps beyond the table
    s[8].selected = 0;
    Build(s);
    const StepTable& t = m_steps;
    EXPECT_EQ(m_count, 16);
    EXPECT_EQ(t[0].flashAddress, 0x10000u);
    for (int slot = 1; slot < 8; ++slot) {
        const auto& erase = t[static_cast<std::size_t>(2 * slot - 1)];
        const auto& write = t[static_cast<std::size_t>(2 * slot)];
        EXPECT_EQ(erase.kind, kStepErase);
        EXPECT_EQ(write.kind, kStepWrite);
        EXPECT_EQ(erase.flashAddress, 0x10000u * static_cast<std::uint32_t>(slot + 1));
        EXPECT_EQ(write.flashAddress, erase.flashAddress);
    }
    EXPECT_EQ(t[15].kind, kStepEmpty);
    EXPECT_EQ(t[16].kind, kStepWrite);
    EXPECT_EQ(t[16].flashAddress, 0x10000u);
    EXPECT_EQ(t[17].kind, kStepEmpty);
}

TEST_F(StepTableTest, RebuildingStartsFromAnEmptyTable) {
    Sections many{};
    many[0] = Selected(0x1000);
    many[2] = Selected(0x2000);
    Build(many);
    Sections few{};
    few[0] = Selected(0x1000);
    Build(few);
    EXPECT_EQ(m_count, 2);
    EXPECT_EQ(m_steps[3].kind, kStepEmpty);
    EXPECT_EQ(m_steps[4].kind, kStepEmpty);
}

}  // namespace
}  // namespace corvane::update
