#include "app/instance_lock.h"

#include <windows.h>

#include <utility>

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

std::optional<InstanceLock> InstanceLock::Claim(const std::string&, const std::string& name) {
    // Names without a namespace prefix are seen only within the user's log-on;
    // the system drops the mutex with the last handle, when the process ends.
    // The mutex is only a marker: created owned, never waited on or released.
    HANDLE handle = CreateMutexA(nullptr, TRUE, name.c_str());
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
    return {};
}

bool InstanceLock::PrepareDirectory(const std::string&) {
    return true;
}

}  // namespace corvane::app
