#include "app/win/version_answer.h"

#include <windows.h>

#include <string>

#include "version/program_version.h"

namespace corvane::app::win {

void AnswerVersion(const char* program) {
    std::string line = VersionLine(program);
    line.pop_back();
    line += "\r\n";  // the line end of Windows' text files
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    bool opened = false;
    if ((out == nullptr || out == INVALID_HANDLE_VALUE) && AttachConsole(ATTACH_PARENT_PROCESS)) {
        out = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, 0, nullptr);
        opened = true;
    }
    if (out == nullptr || out == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written = 0;
    WriteFile(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    if (opened) {
        CloseHandle(out);
    }
}

}  // namespace corvane::app::win
