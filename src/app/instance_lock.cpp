#include "app/instance_lock.h"

#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

namespace corvane::app {

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

}  // namespace corvane::app
