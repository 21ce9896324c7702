// The demo as a user sees it on Windows: the native window on the simulated
// device goes through the replug step and completes the update by itself.
// Screenshots of the idle, restart and completed window go to
// CORVANE_SCREENSHOT_DIR.

#include <gtest/gtest.h>

#include <filesystem>

#include "app/win/resource_ids.h"
#include "tests/win/window_driver.h"

namespace corvane::app::win::testing {
namespace {

const std::wstring kTitle = L"BRAX Corvane System v1.10 Updater";

class DemoWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveDisplay()) {
            GTEST_SKIP() << "no display";
        }
        std::filesystem::create_directories(CORVANE_SCREENSHOT_DIR);
    }

    // The first error box of the demo, when one is up: the test fails with its text.
    std::wstring ErrorBoxText(const Program& demo) const {
        HWND box = demo.FindWindowTitled(L"Error");
        return box == nullptr ? std::wstring() : Text(Item(box, 0xFFFF));
    }

    // Waits for the status line to read `status`, failing early on an error box.
    bool WaitForStatus(const Program& demo, HWND window, const std::wstring& status,
                       std::chrono::milliseconds timeout) {
        std::wstring error;
        const bool reached = WaitUntil(
            [&] {
                error = ErrorBoxText(demo);
                return !error.empty() || Text(Item(window, IDC_STATUS)) == status;
            },
            timeout);
        EXPECT_EQ(error, L"");
        return reached && error.empty();
    }

    void Shoot(HWND window, const char* name) {
        const std::string path = std::string(CORVANE_SCREENSHOT_DIR) + "/" + name + ".bmp";
        // A captured window shows its face, frame, text and controls: many colours.
        EXPECT_GT(Screenshot(window, path), 4) << path;
    }
};

TEST_F(DemoWindowTest, CompletesAfterTheReplug) {
    Program demo(CORVANE_UPDATER_DEMO);
    ASSERT_TRUE(demo.Started());
    HWND window = nullptr;
    ASSERT_TRUE(
        WaitUntil([&] { return (window = demo.FindWindowTitled(kTitle)) != nullptr; }, 60s));

    // Idle: both lists pre-select the demo device; nothing shown yet.
    EXPECT_EQ(Text(Item(window, IDC_MIDI_IN)), L"BRAX Lumen Series");
    EXPECT_EQ(Text(Item(window, IDC_MIDI_OUT)), L"BRAX Lumen Series");
    EXPECT_FALSE(IsWindowVisible(Item(window, IDC_PIC_RESTART)));
    EXPECT_EQ(Text(Item(window, IDC_STATUS)), L"");
    Shoot(window, "idle");

    // Execute starts the update and leaves the window open. The worker sets
    // the texts, the picture and the controls one call after the other, so
    // each state is waited for as a whole.
    Press(window, IDOK);
    ASSERT_TRUE(WaitForStatus(demo, window, L"Ready for firmware update!", 30s));
    EXPECT_TRUE(WaitUntil(
        [&] {
            return Text(Item(window, IDC_HINT)) == L"Please restart the device." &&
                   IsWindowVisible(Item(window, IDC_PIC_RESTART));
        },
        10s));
    Shoot(window, "restart");

    // The device comes back by itself; the window restarts the update.
    ASSERT_TRUE(WaitForStatus(demo, window, L"Firmware update completed.", 120s));
    // Everything given back but Execute.
    EXPECT_TRUE(WaitUntil(
        [&] {
            return Text(Item(window, IDC_HINT)) == L"Please restart the device." &&
                   IsWindowEnabled(Item(window, IDCANCEL)) && !IsWindowEnabled(Item(window, IDOK));
        },
        10s));
    EXPECT_TRUE(IsWindowEnabled(Item(window, IDC_RESCAN)));
    EXPECT_TRUE(IsWindowEnabled(Item(window, IDC_MIDI_IN)));
    EXPECT_FALSE(Text(Item(window, IDC_STEP)).empty());
    Shoot(window, "completed");

    Press(window, IDCANCEL);
    const auto code = demo.WaitForExit(30s);
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 0u);
}

}  // namespace
}  // namespace corvane::app::win::testing
