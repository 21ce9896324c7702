#include "app/win/updater_start.h"

#include <windows.h>
// windows.h first: the others build on its types.
#include <commctrl.h>

#include <string>

#include "app/win/updater_window.h"
#include "midi/utf16_win.h"
#include "program/exit_codes.h"

namespace corvane::app::win {

namespace {

std::wstring ProgramName() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name(path, length);
    name = name.substr(name.find_last_of(L"\\/") + 1);
    return name.substr(0, name.find_last_of(L'.'));
}

}  // namespace

void ShowTooManyInstancesBox() {
    MessageBoxW(nullptr, midi::Utf16FromUtf8(kTooManyInstancesText).c_str(), ProgramName().c_str(),
                MB_OK | MB_ICONEXCLAMATION);
}

int RunUpdater(CVekUpdatorApp& app, const BackendFactory& makeBackend,
               CVekUpdatorDlg::Options options) {
    // The progress bar is one of the common controls.
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    switch (app.ClaimInstanceNumber()) {
        case InstanceClaim::kClaimed:
            break;
        case InstanceClaim::kAllTaken:
            ShowTooManyInstancesBox();
            return kExitSuccess;
        case InstanceClaim::kNoLockDirectory:
            // Named mutexes need no directory, so this does not happen here.
            MessageBoxW(nullptr,
                        midi::Utf16FromUtf8(LockDirectoryErrorText(app.LockDirectory())).c_str(),
                        ProgramName().c_str(), MB_OK | MB_ICONHAND);
            return kExitFailure;
    }
    options.instanceNumber = app.GetInstanceNumber();
    const std::unique_ptr<midi::MidiBackend> backend = makeBackend();
    UpdaterWindow window([&backend, &options](DialogView& view, UiLoop& loop) {
        return std::make_unique<CVekUpdatorDlg>(*backend, view, loop, options);
    });
    window.RunModal();
    return kExitSuccess;
}

}  // namespace corvane::app::win
