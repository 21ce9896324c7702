#include "app/instance_lock.h"

#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#endif

namespace corvane::app {

#ifdef _WIN32

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

#else

InstanceLock::InstanceLock(InstanceLock&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

InstanceLock& InstanceLock::operator=(InstanceLock&& other) noexcept {
    std::swap(m_fd, other.m_fd);
    return *this;
}

InstanceLock::~InstanceLock() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

std::optional<InstanceLock> InstanceLock::Claim(const std::string& directory,
                                                const std::string& name) {
    if (directory.empty() || name.empty() || name.find('/') != std::string::npos) {
        return std::nullopt;
    }
    // The file stays: removing it would let a late opener lock a file that is
    // no longer the one the next copy sees. The lock, not the file, is the
    // marker; the kernel drops it when the process ends by any path.
    // O_CLOEXEC keeps child processes from inheriting the marker.
    const std::string path = directory + "/" + name + ".lock";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return std::nullopt;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return std::nullopt;
    }
    return InstanceLock(fd);
}

std::string InstanceLock::UserDirectory() {
    // Not $XDG_RUNTIME_DIR, nor $TMPDIR: either may be set for one process of
    // the user and not for another (a desktop session, an ssh login, cron).
    return "/tmp/corvane-" + std::to_string(::getuid());
}

bool InstanceLock::PrepareDirectory(const std::string& directory) {
    if (directory.empty()) {
        return false;
    }
    if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
        return false;
    }
    // lstat: a link planted in the shared /tmp is no directory of ours.
    struct stat info {};
    if (::lstat(directory.c_str(), &info) != 0) {
        return false;
    }
    return S_ISDIR(info.st_mode) && info.st_uid == ::getuid() && (info.st_mode & 077) == 0 &&
           ::access(directory.c_str(), R_OK | W_OK | X_OK) == 0;
}

#endif

}  // namespace corvane::app
