// The updater's window as a user drives it on a machine with the device:
// starts corvane-updater.exe, checks that both lists pre-select the device,
// presses Execute, waits for the end, then closes the window.
//   window_update_check UPDATER_EXE [SCREENSHOT.bmp]
// Prints each thing it sees. Exit 0 when the window reported the completed
// update and closed, 1 otherwise. The updater's own exit code is not judged:
// a Wine whose MIDI driver crashes the process at exit would fail it falsely.

#include <cstdio>

#include "app/win/resource_ids.h"
#include "midi/utf16_win.h"
#include "program/exit_codes.h"
#include "tests/win/window_driver.h"

namespace {

using namespace corvane::app::win::testing;

const std::wstring kTitle = L"BRAX Corvane System v1.10 Updater";
const std::wstring kDevice = L"BRAX Lumen Series";
const std::wstring kCompleted = L"Firmware update completed.";
// Generous: under software emulation the update alone takes minutes.
constexpr auto kPatience = std::chrono::minutes(8);

int Fail(const char* what) {
    std::printf("FAIL: %s\n", what);
    return corvane::kExitFailure;
}

std::string Narrow(const std::wstring& text) {
    return corvane::midi::Utf8FromUtf16(text);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: window_update_check UPDATER_EXE [SCREENSHOT.bmp]\n");
        return corvane::kExitUsage;
    }
    Program updater(argv[1]);
    if (!updater.Started()) {
        return Fail("the updater did not start");
    }
    HWND window = nullptr;
    if (!WaitUntil([&] { return (window = updater.FindWindowTitled(kTitle)) != nullptr; },
                   kPatience)) {
        return Fail("no window");
    }
    // The lists fill from the port poll; the device must be pre-selected in both.
    const bool selected = WaitUntil(
        [&] {
            return Text(Item(window, IDC_MIDI_IN)) == kDevice &&
                   Text(Item(window, IDC_MIDI_OUT)) == kDevice;
        },
        std::chrono::minutes(1));
    std::printf("pre-selected: in \"%s\", out \"%s\"\n",
                Narrow(Text(Item(window, IDC_MIDI_IN))).c_str(),
                Narrow(Text(Item(window, IDC_MIDI_OUT))).c_str());
    if (!selected) {
        return Fail("the device is not pre-selected");
    }
    Press(window, IDOK);
    std::wstring box;
    const bool ended = WaitUntil(
        [&] {
            if (HWND error = updater.FindWindowTitled(L"Error")) {
                box = Text(Item(error, 0xFFFF));
                return true;
            }
            return Text(Item(window, IDC_STATUS)) == kCompleted &&
                   IsWindowEnabled(Item(window, IDCANCEL));
        },
        kPatience);
    std::printf("status: \"%s\"\n", Narrow(Text(Item(window, IDC_STATUS))).c_str());
    if (!box.empty()) {
        std::printf("error box: \"%s\"\n", Narrow(box).c_str());
        return Fail("the update failed");
    }
    if (!ended) {
        return Fail("the update did not end in time");
    }
    if (argc > 2) {
        Screenshot(window, argv[2]);
    }
    Press(window, IDCANCEL);
    if (!updater.WaitForExit(std::chrono::minutes(1))) {
        return Fail("the window did not close");
    }
    std::printf("window: completed and closed\n");
    return corvane::kExitSuccess;
}
