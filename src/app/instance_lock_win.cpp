#include "app/instance_lock.h"

#include <windows.h>
// windows.h first: the others build on its types.
#include <sddl.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "midi/utf16_win.h"

namespace corvane::app {

InstanceLock::InstanceLock(InstanceLock&& other) noexcept
    : m_handle(std::exchange(other.m_handle, nullptr)) {}

InstanceLock& InstanceLock::operator=(InstanceLock&& other) noexcept {
    std::swap(m_handle, other.m_handle);
    return *this;
}

InstanceLock::~InstanceLock() {
    if (m_handle != nullptr) {
        CloseHandle(m_handle);
    }
}

std::optional<InstanceLock> InstanceLock::Claim(const std::string& directory,
                                                const std::string& name) {
    if (directory.empty()) {
        return std::nullopt;
    }
    // A name without a prefix would be seen only within one log-on session,
    // so that the same user's copies in two sessions took the same number;
    // the user's SID in the name keeps other users' copies apart. The system
    // drops the mutex with the last handle, when the process ends. The mutex
    // is only a marker: created owned, never waited on or released.
    const std::wstring global = L"Global\\" + midi::Utf16FromUtf8(name + " " + directory);
    HANDLE handle = CreateMutexW(nullptr, TRUE, global.c_str());
    if (handle == nullptr) {
        return std::nullopt;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(handle);
        return std::nullopt;
    }
    return InstanceLock(handle);
}

std::string InstanceLock::UserDirectory() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return {};
    }
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<std::uint8_t> buffer(size);
    std::string sid;
    LPSTR text = nullptr;
    if (size != 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size) &&
        ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) {
        sid = text;
        LocalFree(text);
    }
    CloseHandle(token);
    return sid;
}

// Nothing needs making: the "directory" is the user's SID, unusable only
// when it could not be read.
bool InstanceLock::PrepareDirectory(const std::string& directory) {
    return !directory.empty();
}

}  // namespace corvane::app
