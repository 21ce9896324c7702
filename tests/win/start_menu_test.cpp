// The installed programs as the Start menu starts them: each shortcut the
// installer made opens its program's window, and the demo's runs a whole
// update. The installer test runs this in the prefix it installed into.

#include <gtest/gtest.h>

#include <shlobj.h>

#include <string>

#include "app/win/resource_ids.h"
#include "midi/utf16_win.h"
#include "tests/win/window_driver.h"

namespace corvane::app::win::testing {
namespace {

const std::wstring kTitle = L"BRAX Corvane System v1.10 Updater";

class StartMenuTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveDisplay()) {
            GTEST_SKIP() << "no display";
        }
        // The all-users Start menu, where the installer puts its folder.
        wchar_t programs[MAX_PATH] = {};
        ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_PROGRAMS, nullptr, 0, programs), S_OK);
        m_folder = std::wstring(programs) + L"\\Corvane Updater\\";
    }

    // Opens the shortcut `name` and returns the window it brought up, or null.
    HWND Open(const std::wstring& name) {
        const std::wstring shortcut = m_folder + name + L".lnk";
        HWND window = nullptr;
        if (!OpenWithShell(shortcut)) {
            ADD_FAILURE() << "the shell did not open " << midi::Utf8FromUtf16(shortcut);
            return window;
        }
        WaitUntil([&] { return (window = FindAnyWindowTitled(kTitle)) != nullptr; }, 60s);
        return window;
    }

    // Exit ends the program: its window goes.
    static void Exit(HWND window) {
        Press(window, IDCANCEL);
        EXPECT_TRUE(WaitUntil([&] { return !IsWindow(window); }, 30s)) << "the window stays";
    }

    static std::wstring ErrorBoxText() {
        HWND box = FindAnyWindowTitled(L"Error");
        return box == nullptr ? std::wstring() : Text(Item(box, 0xFFFF));
    }

private:
    std::wstring m_folder;
};

TEST_F(StartMenuTest, TheDemoShortcutRunsAWholeUpdate) {
    HWND window = Open(L"Corvane Updater Demo");
    ASSERT_NE(window, nullptr) << "the demo's shortcut opened no window";
    EXPECT_EQ(Text(Item(window, IDC_MIDI_IN)), L"BRAX Lumen Series");

    Press(window, IDOK);
    // Through the replug, which the simulated device does by itself.
    std::wstring error;
    EXPECT_TRUE(WaitUntil(
        [&] {
            error = ErrorBoxText();
            return !error.empty() ||
                   Text(Item(window, IDC_STATUS)) == L"Firmware update completed.";
        },
        180s))
        << "status: " << Text(Item(window, IDC_STATUS));
    EXPECT_EQ(error, L"");
    Exit(window);
}

TEST_F(StartMenuTest, TheUpdaterShortcutOpensItsWindow) {
    HWND window = Open(L"Corvane Updater");
    ASSERT_NE(window, nullptr) << "the updater's shortcut opened no window";
    // Idle and ready to be used: the controls a user starts with are there.
    EXPECT_TRUE(IsWindowEnabled(Item(window, IDC_RESCAN)));
    EXPECT_TRUE(IsWindowEnabled(Item(window, IDCANCEL)));
    EXPECT_EQ(Text(Item(window, IDC_STATUS)), L"");
    Exit(window);
}

}  // namespace
}  // namespace corvane::app::win::testing
