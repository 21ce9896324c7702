#include <dirent.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string_view>

#include "midi/device_access.h"

namespace corvane::midi {

namespace {

// The files a MIDI backend opens: the sequencer, raw MIDI ports (midiC1D0)
// and the control file of each card (controlC1), which lists its ports.
bool IsMidiDeviceFile(std::string_view name) {
    return name == "seq" || name.starts_with("midiC") || name.starts_with("controlC");
}

std::string GroupName(gid_t gid) {
    long size = ::sysconf(_SC_GETGR_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    struct group entry {};
    struct group* found = nullptr;
    if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
        return {};
    }
    return found->gr_name;
}

}  // namespace

BlockedMidiDevices FindBlockedMidiDevices(const std::string& directory) {
    BlockedMidiDevices blocked;
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(directory.c_str()), &::closedir);
    if (!dir) {
        return blocked;
    }
    while (const dirent* entry = ::readdir(dir.get())) {
        if (!IsMidiDeviceFile(entry->d_name)) {
            continue;
        }
        const std::string path = directory + "/" + entry->d_name;
        // Only a refusal counts; a device that is busy or gone is another story.
        if (::access(path.c_str(), R_OK | W_OK) != 0 && errno == EACCES) {
            blocked.paths.push_back(path);
        }
    }
    std::sort(blocked.paths.begin(), blocked.paths.end());
    struct stat info {};
    if (blocked.Any() && ::stat(blocked.paths.front().c_str(), &info) == 0) {
        blocked.group = GroupName(info.st_gid);
    }
    return blocked;
}

}  // namespace corvane::midi
