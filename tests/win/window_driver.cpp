#include "tests/win/window_driver.h"

#include <objbase.h>
#include <shellapi.h>

#include <cstdint>
#include <fstream>
#include <set>
#include <thread>
#include <vector>

#include "midi/utf16_win.h"

namespace corvane::app::win::testing {

namespace {

// Wine maps drive Z: to the Unix root.
std::wstring WindowsPath(const std::string& path) {
    std::wstring wide = midi::Utf16FromUtf8(path);
    if (!wide.empty() && wide.front() == L'/') {
        wide = L"Z:" + wide;
    }
    for (wchar_t& c : wide) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    return wide;
}

struct Search {
    DWORD processId;  // 0: any process
    const std::wstring* title;
    HWND found;
};

BOOL CALLBACK Visit(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<Search*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if ((search->processId == 0 || owner == search->processId) && IsWindowVisible(window) &&
        Text(window) == *search->title) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindTopLevel(DWORD processId, const std::wstring& title) {
    Search search{processId, &title, nullptr};
    EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void Put16(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

}  // namespace

bool HaveDisplay() {
    wchar_t display[256];
    return GetEnvironmentVariableW(L"DISPLAY", display, 256) > 0;
}

Program::Program(const std::string& path, const std::wstring& arguments) {
    std::wstring commandLine = L"\"" + WindowsPath(path) + L"\"";
    if (!arguments.empty()) {
        commandLine += L" " + arguments;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &m_process)) {
        m_process = {};
    }
}

Program::~Program() {
    if (m_process.hProcess == nullptr) {
        return;
    }
    if (WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(m_process.hProcess, 1);
        WaitForSingleObject(m_process.hProcess, 10000);
    }
    CloseHandle(m_process.hThread);
    CloseHandle(m_process.hProcess);
}

std::optional<DWORD> Program::WaitForExit(std::chrono::milliseconds timeout) {
    if (m_process.hProcess == nullptr ||
        WaitForSingleObject(m_process.hProcess, static_cast<DWORD>(timeout.count())) !=
            WAIT_OBJECT_0) {
        return std::nullopt;
    }
    DWORD code = 0;
    GetExitCodeProcess(m_process.hProcess, &code);
    return code;
}

HWND Program::FindWindowTitled(const std::wstring& title) const {
    return FindTopLevel(m_process.dwProcessId, title);
}

bool OpenWithShell(const std::wstring& path) {
    // The shell reads shortcuts through COM objects, as Explorer does.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    SHELLEXECUTEINFOW open{};
    open.cbSize = sizeof open;
    open.fMask = SEE_MASK_FLAG_NO_UI;
    open.lpVerb = L"open";
    open.lpFile = path.c_str();
    open.nShow = SW_SHOWNORMAL;
    const bool opened = ShellExecuteExW(&open) != FALSE;
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
    return opened;
}

HWND FindAnyWindowTitled(const std::wstring& title) {
    return FindTopLevel(0, title);
}

HWND FindThreadWindowTitled(DWORD threadId, const std::wstring& title) {
    Search search{0, &title, nullptr};
    EnumThreadWindows(threadId, Visit, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

std::wstring Text(HWND window) {
    // Sent, not read from the window's own caption, so that it works for the
    // controls of another process.
    wchar_t buffer[512] = {};
    DWORD_PTR copied = 0;
    if (SendMessageTimeoutW(window, WM_GETTEXT, std::size(buffer), reinterpret_cast<LPARAM>(buffer),
                            SMTO_ABORTIFHUNG, 5000, &copied) == 0) {
        return {};
    }
    return std::wstring(buffer, copied);
}

HWND Item(HWND dialog, int id) {
    return GetDlgItem(dialog, id);
}

void Press(HWND dialog, int id) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(Item(dialog, id)));
}

void Sync(HWND window) {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
}

int Screenshot(HWND window, const std::string& path) {
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Sync(window);
    RECT rect{};
    if (!GetWindowRect(window, &rect)) {
        return 0;
    }
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) {
        return 0;
    }
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // bottom-up, as the file stores it
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    GdiFlush();

    const std::size_t rowBytes = static_cast<std::size_t>((width * 3 + 3) / 4 * 4);
    const auto* pixels = static_cast<const std::uint8_t*>(bits);
    std::set<std::uint32_t> colours;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* p = pixels + static_cast<std::size_t>(y) * rowBytes + x * 3;
            colours.insert(p[0] | p[1] << 8 | p[2] << 16);
        }
    }
    std::vector<std::uint8_t> file{'B', 'M'};
    const std::uint32_t imageBytes = static_cast<std::uint32_t>(rowBytes * height);
    Put32(file, 14 + 40 + imageBytes);
    Put32(file, 0);
    Put32(file, 14 + 40);
    const auto* header = reinterpret_cast<const std::uint8_t*>(&info.bmiHeader);
    file.insert(file.end(), header, header + 40);
    file.insert(file.end(), pixels, pixels + imageBytes);

    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);

    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(file.data()),
              static_cast<std::streamsize>(file.size()));
    out.close();
    return out ? static_cast<int>(colours.size()) : 0;
}

}  // namespace corvane::app::win::testing
