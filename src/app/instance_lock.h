#pragma once
// A per-user marker held under a name by one running copy of the program: no
// other process of the same user, in any of the user's log-on sessions, can
// take the name while the holder runs, and the name is free again as soon as
// the holder ends, however it ends.

#include <optional>
#include <string>

namespace corvane::app {

class InstanceLock {
public:
    InstanceLock(InstanceLock&& other) noexcept;
    InstanceLock& operator=(InstanceLock&& other) noexcept;
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;
    ~InstanceLock();

    // Takes the marker `name`; empty when another process holds it or it
    // cannot be made. On POSIX systems the marker is a locked file in
    // `directory`; on Windows a named mutex in the namespace all log-on
    // sessions share, its name ending in `directory`.
    static std::optional<InstanceLock> Claim(const std::string& directory, const std::string& name);

    // Where the user's markers live: /tmp/corvane-<uid>, the same for every
    // process of the user whatever its environment, so that all copies count
    // against each other. On Windows the user's security identifier, the
    // same in each of the user's sessions and another for every other user;
    // empty when it cannot be read, and then no marker can be taken.
    static std::string UserDirectory();
    // Creates `directory` (mode 0700) when missing; true when it is a real
    // directory, owned by this user, that only this user can use. On
    // Windows, where nothing needs making, true unless it is empty.
    static bool PrepareDirectory(const std::string& directory);

private:
#ifdef _WIN32
    explicit InstanceLock(void* handle) : m_handle(handle) {}
    void* m_handle = nullptr;
#else
    explicit InstanceLock(int fd) : m_fd(fd) {}
    int m_fd = -1;
#endif
};

}  // namespace corvane::app
