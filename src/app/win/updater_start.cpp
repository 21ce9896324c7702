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

// Boxes that belong to no window, the program's file name as their caption.
// Named mutexes need no directory, so the error does not come here.
class Boxes final : public StartUpBoxes {
public:
    void Warning(const std::string& text) override { Show(text, MB_ICONEXCLAMATION); }
    void Error(const std::string& text) override { Show(text, MB_ICONHAND); }

private:
    static void Show(const std::string& text, UINT icon) {
        MessageBoxW(nullptr, midi::Utf16FromUtf8(text).c_str(), ProgramName().c_str(),
                    MB_OK | icon);
    }
};

}  // namespace

int RunUpdater(CVekUpdatorApp& app, const BackendFactory& makeBackend,
               CVekUpdatorDlg::Options options) {
    // The progress bar is one of the common controls.
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    Boxes boxes;
    if (const std::optional<int> refused = ClaimForWindow(app, boxes)) {
        return *refused;
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
