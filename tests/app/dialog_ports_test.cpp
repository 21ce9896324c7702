// The window's logic without a toolkit: titles, port pre-selection by name,
// and what "Execute" does when a port cannot be opened.

#include <gtest/gtest.h>

#include "support/dialog_harness.h"

namespace corvane::testing {
namespace {

using app::Control;

class DialogPortsTest : public ::testing::Test {
protected:
    void AddPair(const std::string& name) {
        m_backend.AddInput(name);
        m_backend.AddOutput(name);
    }
    void Open(int instance) {
        DialogHarness::Options options;
        options.instanceNumber = instance;
        options.timing = FastTiming();
        m_harness.Open(options);
    }
    int Selection(Control list) { return m_harness.View().ListSelection(list); }

    midi::LoopbackBackend m_backend;
    DialogHarness m_harness{m_backend};
};

TEST_F(DialogPortsTest, TitleCarriesTheCopyNumberFromTheSecondCopyOn) {
    EXPECT_EQ(app::WindowTitle(1), "BRAX Corvane System v1.10 Updater");
    EXPECT_EQ(app::WindowTitle(2), "BRAX Corvane System v1.10 Updater (2)");
    EXPECT_EQ(app::WindowTitle(20), "BRAX Corvane System v1.10 Updater (20)");
    Open(20);
    EXPECT_EQ(m_harness.View().Title(), "BRAX Corvane System v1.10 Updater (20)");
}

TEST_F(DialogPortsTest, EachCopyTakesThePortsNamedForItsNumber) {
    AddPair("USB Audio Device");
    AddPair("USB Audio Device (2)");
    AddPair("BRAX Lumen Series (20)");
    for (const auto& [instance, expected] :
         std::vector<std::pair<int, int>>{{1, 0}, {2, 1}, {3, -1}, {20, 2}}) {
        Open(instance);
        EXPECT_EQ(Selection(Control::kMidiIn), expected) << "copy " << instance;
        EXPECT_EQ(Selection(Control::kMidiOut), expected) << "copy " << instance;
        EXPECT_EQ(m_harness.Ui([&] { return m_harness.Dialog().FillPortLists(); }), expected >= 0);
        m_harness.Close();
    }
}

TEST_F(DialogPortsTest, ListsKeepDeviceOrderAndTheLastMatchWins) {
    AddPair("BRAX Lumen Series");
    AddPair("Other Synth");
    AddPair("USB Audio Device");
    Open(1);
    EXPECT_EQ(m_harness.View().List(Control::kMidiIn),
              (std::vector<std::string>{"BRAX Lumen Series", "Other Synth", "USB Audio Device"}));
    EXPECT_EQ(Selection(Control::kMidiIn), 2);
    EXPECT_EQ(Selection(Control::kMidiOut), 2);
}

TEST_F(DialogPortsTest, NamesMatchWholeAndCaseSensitive) {
    AddPair("usb audio device");
    AddPair("USB Audio Device (2)");
    AddPair("USB Audio Device Pro");
    AddPair("BRAX Lumen Series ");
    Open(1);
    EXPECT_EQ(Selection(Control::kMidiIn), -1);
    EXPECT_EQ(Selection(Control::kMidiOut), -1);
}

// Windows puts the number of a further identical device in front of its name.
TEST_F(DialogPortsTest, EachCopyAlsoTakesThePortsWindowsNumberedForIt) {
    AddPair("USB Audio Device");
    AddPair("2- USB Audio Device");
    AddPair("12- BRAX Lumen Series");
    for (const auto& [instance, expected] :
         std::vector<std::pair<int, int>>{{1, 0}, {2, 1}, {3, -1}, {12, 2}}) {
        Open(instance);
        EXPECT_EQ(Selection(Control::kMidiIn), expected) << "copy " << instance;
        EXPECT_EQ(Selection(Control::kMidiOut), expected) << "copy " << instance;
        m_harness.Close();
    }
}

TEST_F(DialogPortsTest, TheJapaneseGenericNameIsWanted) {
    AddPair("USB オーディオ デバイス (2)");
    Open(2);
    EXPECT_EQ(Selection(Control::kMidiIn), 0);
}

TEST_F(DialogPortsTest, AWantedInputWithoutAWantedOutputIsNotEnough) {
    m_backend.AddInput("BRAX Lumen Series");
    m_backend.AddOutput("Other Synth");
    Open(1);
    EXPECT_EQ(Selection(Control::kMidiIn), 0);
    EXPECT_EQ(Selection(Control::kMidiOut), -1);
    EXPECT_FALSE(m_harness.Ui([&] { return m_harness.Dialog().FillPortLists(); }));
}

TEST_F(DialogPortsTest, NoDevicesAtAll) {
    Open(1);
    EXPECT_TRUE(m_harness.View().List(Control::kMidiIn).empty());
    EXPECT_TRUE(m_harness.View().List(Control::kMidiOut).empty());
    EXPECT_EQ(Selection(Control::kMidiIn), -1);
}

TEST_F(DialogPortsTest, ExecuteWithoutAnOutputPortSaysSoAndChangesNothingElse) {
    Open(1);
    m_harness.Ui([&] { m_harness.Dialog().OnExecute(); });
    ASSERT_EQ(m_harness.View().Boxes().size(), 1u);
    EXPECT_EQ(m_harness.View().Boxes()[0].text, "Can't open MIDI Out device.");
    EXPECT_EQ(m_harness.View().Boxes()[0].caption, "Error");
    EXPECT_TRUE(m_harness.View().AllEnabled());
    EXPECT_FALSE(m_harness.Dialog().Running());
}

TEST_F(DialogPortsTest, ExecuteWithARefusingInputPortSaysSo) {
    const auto in = m_backend.AddInput("BRAX Lumen Series");
    m_backend.AddOutput("BRAX Lumen Series");
    m_backend.RefuseOpen(in, true);
    Open(1);
    m_harness.Ui([&] { m_harness.Dialog().OnExecute(); });
    ASSERT_EQ(m_harness.View().Boxes().size(), 1u);
    EXPECT_EQ(m_harness.View().Boxes()[0].text, "Can't open MIDI In device.");
    EXPECT_TRUE(m_harness.View().AllEnabled());
    EXPECT_TRUE(m_harness.Dialog().CanClose());
}

}  // namespace
}  // namespace corvane::testing
