#include "app/instance_lock.h"

#include <cstdlib>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

namespace corvane::app {

namespace {

// True when `path` is a real directory (no link) that only this user can use.
bool PrivateDirectory(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        return false;
    }
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        return false;
    }
    return S_ISDIR(info.st_mode) && info.st_uid == ::getuid() && (info.st_mode & 077) == 0;
}

}  // namespace

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
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        const std::string path = std::string(runtime) + "/corvane";
        if (PrivateDirectory(path)) {
            return path;
        }
    }
    const std::string path = "/tmp/corvane-" + std::to_string(::getuid());
    return PrivateDirectory(path) ? path : std::string();
}

}  // namespace corvane::app
