// The step table built from the parsed sections: INFO erased first and
// written last, every other selected section erased then written in slot order.

#include <gtest/gtest.h>

#include <array>

#include "midi/loopback_backend.h"
#include "protocol/reply_handler.h"
#include "update/update_procedure.h"

namespace corvane::update {
namespace {

class NoHost final : public UpdateHost {
public:
    void EndWithError(StringId) override {}
    void EndCompleted() override {}
    void EndWaitingForDevice() override {}
    void SetStatusText(const std::string&) override {}
    void SetHintText(const std::string&) override {}
    void SetStepText(const std::string&) override {}
    void ShowRestartPicture(bool) override {}
    void SetProgressRange(int, int) override {}
    void SetProgressPos(int) override {}
    bool DeviceGone() override { return false; }
};

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

    midi::LoopbackBackend m_backend;
    midi::CDxMidiOut m_out{m_backend};
    midi::CDxMidiIn m_in{m_backend};
    protocol::Messenger m_messenger{m_out};
    protocol::ReplyHandler m_replies{m_in, m_messenger};
    NoHost m_host;
    Timing m_timing;
    UpdateProcedure m_procedure{m_host, m_messenger, m_replies, m_timing, {}};
};

TEST_F(StepTableTest, TheShippedLayout) {
    Sections s{};
    s[0] = {512, 4096, 0x149000, 4096, 1, {}};
    s[4] = {4864, 921600, 0x68000, 921600, 1, {}};
    m_procedure.BuildStepTable(s);
    const StepTable& t = m_procedure.Steps();
    EXPECT_EQ(m_procedure.StepCount(), 4);
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
    m_procedure.BuildStepTable(s);
    EXPECT_EQ(m_procedure.StepCount(), 2);
    EXPECT_EQ(m_procedure.Steps()[0].kind, kStepErase);
    EXPECT_EQ(m_procedure.Steps()[1].kind, kStepEmpty);
    EXPECT_EQ(m_procedure.Steps()[2].kind, kStepWrite);
}

TEST_F(StepTableTest, EightSectionsFillTheTableWithoutOverflow) {
    Sections s{};
    for (int slot = 0; slot < 8; ++slot) {
        s[static_cast<std::size_t>(slot)] =
            Selected(0x10000u * static_cast<std::uint32_t>(slot + 1));
    }
    s[8] = Selected(0x900000);  // can never be present; must not add steps beyond the table
    s[8].selected = 0;
    m_procedure.BuildStepTable(s);
    const StepTable& t = m_procedure.Steps();
    EXPECT_EQ(m_procedure.StepCount(), 16);
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
    m_procedure.BuildStepTable(many);
    Sections few{};
    few[0] = Selected(0x1000);
    m_procedure.BuildStepTable(few);
    EXPECT_EQ(m_procedure.StepCount(), 2);
    EXPECT_EQ(m_procedure.Steps()[3].kind, kStepEmpty);
    EXPECT_EQ(m_procedure.Steps()[4].kind, kStepEmpty);
}

}  // namespace
}  // namespace corvane::update
