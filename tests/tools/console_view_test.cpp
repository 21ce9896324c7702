// What the console front end prints, on a terminal and elsewhere.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tools/console_view.h"
#include "tools/report_output.h"

namespace corvane::tools {
namespace {

using app::Control;

std::string Contents(std::FILE* file) {
    std::rewind(file);
    std::string text;
    for (int c; (c = std::fgetc(file)) != EOF;) {
        text.push_back(static_cast<char>(c));
    }
    return text;
}

class ConsoleViewTest : public ::testing::Test {
protected:
    void TearDown() override {
        std::fclose(m_out);
        std::fclose(m_err);
    }
    std::FILE* m_out = std::tmpfile();
    std::FILE* m_err = std::tmpfile();
};

TEST_F(ConsoleViewTest, PlainOutputIsOneLinePerChange) {
    {
        ConsoleView view(m_out, m_err, false);
        view.SetControlText(Control::kStep, "1/4");
        view.SetControlText(Control::kStep, "1/4");  // no change, no line
        view.SetControlText(Control::kStatus, "");   // a cleared line is no news
        view.SetControlText(Control::kStatus, "Erasing Flash memory.");
        view.SetProgressRange(0, 1000);
        for (int pos = 0; pos <= 1000; pos += 50) {
            view.SetProgressPos(pos);
        }
        view.SetControlText(Control::kHint, "Please restart the device.");
        view.ShowErrorBox("Low Battery", "Error");
        EXPECT_EQ(view.ErrorBoxes(), 1);
    }
    EXPECT_EQ(Contents(m_out),
              "step: 1/4\n"
              "status: Erasing Flash memory.\n"
              "progress: 0%\nprogress: 10%\nprogress: 20%\nprogress: 30%\nprogress: 40%\n"
              "progress: 50%\nprogress: 60%\nprogress: 70%\nprogress: 80%\nprogress: 90%\n"
              "progress: 100%\n"
              "hint: Please restart the device.\n");
    EXPECT_EQ(Contents(m_err), "Error: Low Battery\n");
}

// On a terminal the progress line is redrawn in place under each printed
// line until the run is over; then it stays above what follows.
TEST_F(ConsoleViewTest, TerminalProgressLineEndsAboveTheSummary) {
    {
        ConsoleView view(m_out, m_err, true);
        view.SetProgressRange(0, 2);
        view.SetProgressPos(2);
        view.SetControlText(Control::kStep, "4/4");
        view.Print("note");
        view.FinishProgress();
        view.Print("completed in 1.000 s, 4 requests");
    }
    const std::string line = std::string("\r\033[K4/4   ") + std::string(40, ' ') + " [" +
                             std::string(24, '#') + "] 100%";
    EXPECT_EQ(Contents(m_out),
              line + "\r\033[Knote\n" + line + "\ncompleted in 1.000 s, 4 requests\n");
}

TEST_F(ConsoleViewTest, ListsKeepDeviceOrderAndFindTheLastEntryOfAName) {
    ConsoleView view(m_out, m_err, false);
    view.ResetList(Control::kMidiIn);
    for (const char* name : {"A", "B", "A"}) {
        view.AddListEntry(Control::kMidiIn, name);
    }
    EXPECT_EQ(view.FindEntry(Control::kMidiIn, "A"), 2);
    EXPECT_EQ(view.FindEntry(Control::kMidiIn, "B"), 1);
    EXPECT_EQ(view.FindEntry(Control::kMidiIn, "a"), -1);
    EXPECT_EQ(view.ListSelection(Control::kMidiIn), -1);
    view.SetListSelection(Control::kMidiIn, 3);  // beyond the list: nothing selected
    EXPECT_EQ(view.ListSelection(Control::kMidiIn), -1);
    view.SetListSelection(Control::kMidiIn, 1);
    EXPECT_EQ(view.ListSelection(Control::kMidiIn), 1);
}

// Many devices: on a terminal every event redraws each device's line in
// place; without one an event is one line, progress in tens of percent.
TEST_F(ConsoleViewTest, DeviceReportsRedrawInPlaceOrGoLineByLine) {
    std::vector<DeviceState> devices(2);
    devices[0] = {1,  "1-1.2", "BRAX Lumen Series", "3/4", "Data transmit", 40, Outcome::kRunning,
                  "", 0};
    devices[1] = {2, "", "USB Audio Device", "", "", 0, Outcome::kRunning, "", 0};
    LiveScreen live(m_out);
    EventLines lines(m_err);
    for (ReportOutput* output :
         {static_cast<ReportOutput*>(&live), static_cast<ReportOutput*>(&lines)}) {
        output->Event(ReportEvent::kProgress, devices, devices[0]);
        devices[0].percent = 45;  // the same ten percent: no plain line
        output->Event(ReportEvent::kProgress, devices, devices[0]);
        devices[0].percent = 40;
    }
    const std::string line1 = "\r\033[K#1  1-1.2  BRAX Lumen Series  3/4  Data transmit 40%\n";
    const std::string line1Later = "\r\033[K#1  1-1.2  BRAX Lumen Series  3/4  Data transmit 45%\n";
    const std::string line2 = "\r\033[K#2  (by name)  USB Audio Device     0%\n";
    EXPECT_EQ(Contents(m_out), line1 + line2 + "\033[2A" + line1Later + line2);
    EXPECT_EQ(Contents(m_err), "#1 1-1.2: progress 40%\n");
}

TEST(EndTableTest, ColumnsLineUpWhateverTheNamesHold) {
    std::vector<DeviceState> devices(2);
    devices[0] = {1, "1-1.2", "Lumière Sérié", "", "", 100, Outcome::kCompleted, "", 12.3456};
    devices[1] = {2, "", "BRAX Lumen Series", "", "", 0, Outcome::kFailed, "Low Battery", 0.5};
    EXPECT_EQ(EndTable(devices),
              "#  SOCKET     NAME               OUTCOME      TIME\n"
              "1  1-1.2      Lumière Sérié      completed    12.346 s\n"
              "2  (by name)  BRAX Lumen Series  Low Battery  0.500 s\n");
}

}  // namespace
}  // namespace corvane::tools
