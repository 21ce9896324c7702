// The window's logic without a toolkit: titles, port pre-selection by name,
// what "Execute" opens when ports came or went since the lists were filled,
// and what it does when a port cannot be opened.

#include <gtest/gtest.h>

#include "support/dialog_harness.h"

namespace corvane::testing {
namespace {

using app::Control;

using PortId = midi::LoopbackBackend::PortId;

struct Ports {
    PortId in = 0;
    PortId out = 0;
};

class DialogPortsTest : public ::testing::Test {
protected:
    Ports AddPair(const std::string& name) {
        return {m_backend.AddInput(name), m_backend.AddOutput(name)};
    }
    void RemovePair(Ports ports) {
        m_backend.Remove(ports.in);
        m_backend.Remove(ports.out);
    }
    void Open(int instance) {
        DialogHarness::Options options;
        options.instanceNumber = instance;
        options.timing = FastTiming();
        m_harness.Open(options);
    }
    int Selection(Control list) { return m_harness.View().ListSelection(list); }
    // Presses Execute and returns the boxes it showed. Read on the window's
    // thread, before a run it started can end with a box of its own.
    std::vector<std::string> ExecuteBoxes() {
        return m_harness.Ui([&] {
            const std::size_t before = m_harness.View().Boxes().size();
            m_harness.Dialog().OnExecute();
            std::vector<std::string> texts;
            for (const auto& box : m_harness.View().Boxes()) {
                texts.push_back(box.text);
            }
            texts.erase(texts.begin(), texts.begin() + static_cast<std::ptrdiff_t>(before));
            return texts;
        });
    }

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
    EXPECT_TRUE(m_harness.Dialog().CanClose());
    EXPECT_TRUE(m_harness.View().CloseEnabled());
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
    EXPECT_TRUE(m_harness.View().CloseEnabled());
}

// A device plugged in since the lists were filled stands where the selected
// one stood; the selected one, replugged, now stands behind it.
TEST_F(DialogPortsTest, ExecuteOpensTheSelectedDeviceBehindOnePluggedInSince) {
    const Ports before = AddPair("BRAX Lumen Series");
    Open(1);
    const Ports other = AddPair("Other Synth");
    RemovePair(before);
    const Ports device = AddPair("BRAX Lumen Series");

    EXPECT_TRUE(ExecuteBoxes().empty());
    EXPECT_TRUE(m_backend.IsOpen(device.out));
    EXPECT_TRUE(m_backend.IsOpen(device.in));
    EXPECT_FALSE(m_backend.IsOpen(other.out));
    EXPECT_FALSE(m_backend.IsOpen(other.in));
    const auto names = m_harness.Ui([&] { return m_harness.Dialog().OpenPortNames(); });
    EXPECT_EQ(names.in, "BRAX Lumen Series");
    EXPECT_EQ(names.out, "BRAX Lumen Series");
}

TEST_F(DialogPortsTest, ExecuteOpensTheSelectedDeviceAfterOneAheadOfItWasUnplugged) {
    const Ports gone = AddPair("Other Synth");
    const Ports device = AddPair("BRAX Lumen Series");
    Open(1);
    RemovePair(gone);

    EXPECT_TRUE(ExecuteBoxes().empty());
    EXPECT_TRUE(m_backend.IsOpen(device.out));
    EXPECT_TRUE(m_backend.IsOpen(device.in));
}

// Whatever stands at its place now, a selected port that has gone is not opened.
TEST_F(DialogPortsTest, ASelectedPortThatHasGoneGivesItsBox) {
    for (const bool outputGone : {true, false}) {
        const Ports device = AddPair("BRAX Lumen Series");
        const Ports other = AddPair("Other Synth");
        Open(1);
        m_backend.Remove(outputGone ? device.out : device.in);

        EXPECT_EQ(ExecuteBoxes(),
                  std::vector<std::string>{outputGone ? "Can't open MIDI Out device."
                                                      : "Can't open MIDI In device."});
        EXPECT_FALSE(m_backend.IsOpen(other.out));
        EXPECT_FALSE(m_backend.IsOpen(other.in));
        EXPECT_FALSE(m_harness.Dialog().Running());
        EXPECT_EQ(m_harness.Ui([&] { return m_harness.Dialog().OpenPortNames().in; }), "");
        m_harness.Close();
        RemovePair(device);
        RemovePair(other);
    }
}

}  // namespace
}  // namespace corvane::testing
