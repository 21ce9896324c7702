// Instance numbers through named mutexes: twenty copies of the updater get
// 1 to 20, seen in their titles, the twenty-first shows the refusal box and
// ends, and a number freed by a copy that ended goes to the next copy. The
// names are the user's in every log-on session, and the demo's its own.

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "app/updater_app.h"
#include "midi/utf16_win.h"
#include "tests/win/window_driver.h"

namespace corvane::app::win::testing {
namespace {

std::wstring Title(int n) {
    const std::wstring base = L"BRAX Corvane System v1.10 Updater";
    return n == 1 ? base : base + L" (" + std::to_wstring(n) + L")";
}

HWND WaitForWindow(const Program& program, const std::wstring& title) {
    HWND window = nullptr;
    WaitUntil([&] { return (window = program.FindWindowTitled(title)) != nullptr; }, 60s);
    return window;
}

TEST(InstanceNumbers, MarkersAreTheUsersInEverySessionAndTheDemoHasItsOwn) {
    const std::string sid = InstanceLock::UserDirectory();
    ASSERT_EQ(sid.rfind("S-1-", 0), 0u) << sid;
    CVekUpdatorApp updater;
    ASSERT_EQ(updater.ClaimInstanceNumber(), InstanceClaim::kClaimed);
    EXPECT_EQ(updater.GetInstanceNumber(), 1);
    // In the namespace that all sessions share, not in this session's own.
    const std::wstring global = L"Global\\" + Title(1) + L" " + midi::Utf16FromUtf8(sid);
    const HANDLE marker = OpenMutexW(SYNCHRONIZE, FALSE, global.c_str());
    EXPECT_NE(marker, nullptr);
    if (marker != nullptr) {
        CloseHandle(marker);
    }
    EXPECT_EQ(OpenMutexW(SYNCHRONIZE, FALSE, Title(1).c_str()), nullptr);

    CVekUpdatorApp demo(sid, app::Program::kDemo);
    ASSERT_EQ(demo.ClaimInstanceNumber(), InstanceClaim::kClaimed);
    EXPECT_EQ(demo.GetInstanceNumber(), 1);
    // Another user's copies count apart.
    CVekUpdatorApp otherUser("S-1-5-21-1-2-3-1001");
    ASSERT_EQ(otherUser.ClaimInstanceNumber(), InstanceClaim::kClaimed);
    EXPECT_EQ(otherUser.GetInstanceNumber(), 1);
    CVekUpdatorApp second;
    ASSERT_EQ(second.ClaimInstanceNumber(), InstanceClaim::kClaimed);
    EXPECT_EQ(second.GetInstanceNumber(), 2);
}

// A SID that cannot be read is no sign of twenty copies running.
TEST(InstanceNumbers, AnUnreadableUserIsReportedAsSuch) {
    CVekUpdatorApp app("");
    EXPECT_EQ(app.ClaimInstanceNumber(), InstanceClaim::kNoLockDirectory);
    EXPECT_EQ(LockDirectoryErrorText("").find('"'), std::string::npos);
}

TEST(InstanceNumbers, TwentyCopiesRunAndTheTwentyFirstIsRefused) {
    if (!HaveDisplay()) {
        GTEST_SKIP() << "no display";
    }
    std::vector<std::unique_ptr<Program>> copies;
    std::vector<HWND> windows;
    for (int n = 1; n <= 20; ++n) {
        copies.push_back(std::make_unique<Program>(CORVANE_UPDATER));
        ASSERT_TRUE(copies.back()->Started()) << n;
        windows.push_back(WaitForWindow(*copies.back(), Title(n)));
        ASSERT_NE(windows.back(), nullptr) << "copy " << n << " has no window titled for " << n;
    }

    Program refused(CORVANE_UPDATER);
    ASSERT_TRUE(refused.Started());
    HWND box = WaitForWindow(refused, L"corvane-updater");
    ASSERT_NE(box, nullptr) << "no refusal box";
    EXPECT_EQ(Text(GetDlgItem(box, 0xFFFF)), midi::Utf16FromUtf8(kTooManyInstancesText));
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    const auto refusedCode = refused.WaitForExit(30s);
    ASSERT_TRUE(refusedCode.has_value()) << "the refused copy did not end";
    EXPECT_EQ(*refusedCode, 0u);

    // Copy 2 ends; the next copy takes its number.
    Press(windows[1], IDCANCEL);
    ASSERT_TRUE(copies[1]->WaitForExit(30s).has_value());
    Program again(CORVANE_UPDATER);
    EXPECT_NE(WaitForWindow(again, Title(2)), nullptr);
    Press(again.FindWindowTitled(Title(2)), IDCANCEL);
    EXPECT_TRUE(again.WaitForExit(30s).has_value());

    for (std::size_t i = 0; i < copies.size(); ++i) {
        if (i != 1) {
            Press(windows[i], IDCANCEL);
            EXPECT_TRUE(copies[i]->WaitForExit(30s).has_value()) << "copy " << i + 1;
        }
    }
}

}  // namespace
}  // namespace corvane::app::win::testing
