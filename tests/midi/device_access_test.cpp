// Which MIDI device files count as closed to this user, and the words for it.
// Root opens every file, so under root the look runs in a child process that
// has given up its privileges.

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "midi/device_access.h"

namespace corvane::midi {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr mode_t kClosed = 0000;
constexpr mode_t kOpen = 0666;
constexpr uid_t kNobody = 65534;

class DeviceDirectory {
public:
    DeviceDirectory() {
        char path[] = "/tmp/corvane-snd-XXXXXX";
        m_path = ::mkdtemp(path);
        ::chmod(m_path.c_str(), 0755);  // the unprivileged child looks in too
    }
    ~DeviceDirectory() { std::filesystem::remove_all(m_path); }
    void Add(const std::string& name, mode_t mode) {
        std::ofstream(m_path + "/" + name).put('\n');
        ::chmod((m_path + "/" + name).c_str(), mode);
    }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// The blocked files as a user without privileges finds them.
BlockedMidiDevices FindUnprivileged(const std::string& directory) {
    if (::geteuid() != 0) {
        return FindBlockedMidiDevices(directory);
    }
    int fds[2];
    if (::pipe(fds) != 0) {
        ADD_FAILURE() << "no pipe";
        return {};
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
            ::_exit(2);
        }
        const BlockedMidiDevices blocked = FindBlockedMidiDevices(directory);
        std::string text = blocked.group + "\n";
        for (const std::string& path : blocked.paths) {
            text += path + "\n";
        }
        const bool written =
            ::write(fds[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
        ::_exit(written ? 0 : 3);
    }
    ::close(fds[1]);
    std::string text;
    char chunk[256];
    for (ssize_t n; (n = ::read(fds[0], chunk, sizeof chunk)) > 0;) {
        text.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    BlockedMidiDevices blocked;
    std::istringstream lines(text);
    std::getline(lines, blocked.group);
    for (std::string line; std::getline(lines, line);) {
        blocked.paths.push_back(line);
    }
    return blocked;
}

std::string GroupOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return "?";
    }
    const group* entry = ::getgrgid(info.st_gid);
    return entry != nullptr ? entry->gr_name : "";
}

TEST(DeviceAccess, ListsOnlyTheMidiFilesThatRefuseAndNamesTheirGroup) {
    DeviceDirectory dir;
    dir.Add("seq", kClosed);
    dir.Add("midiC1D0", kClosed);
    dir.Add("controlC1", kOpen);
    dir.Add("controlC0", kClosed);
    // Audio and timer devices are no MIDI port's business.
    dir.Add("pcmC0D0p", kClosed);
    dir.Add("timer", kClosed);

    const BlockedMidiDevices blocked = FindUnprivileged(dir.Path());
    EXPECT_THAT(blocked.paths, ElementsAre(dir.Path() + "/controlC0", dir.Path() + "/midiC1D0",
                                           dir.Path() + "/seq"));
    EXPECT_EQ(blocked.group, GroupOf(dir.Path() + "/controlC0"));
}

TEST(DeviceAccess, NothingIsBlockedWhenEveryFileOpensOrThereAreNone) {
    DeviceDirectory dir;
    dir.Add("seq", kOpen);
    dir.Add("midiC1D0", kOpen);
    dir.Add("pcmC0D0p", kClosed);
    const BlockedMidiDevices open = FindUnprivileged(dir.Path());
    EXPECT_FALSE(open.Any());
    EXPECT_EQ(DeviceAccessHint(open), "");
    EXPECT_EQ(DeviceAccessExplanation(open), "");

    EXPECT_FALSE(FindBlockedMidiDevices(dir.Path() + "/missing").Any());
}

TEST(DeviceAccess, TheWordsNameTheFilesTheGroupAndTheRemedy) {
    const BlockedMidiDevices audio{{"/dev/snd/midiC1D0", "/dev/snd/seq"}, "audio"};
    EXPECT_EQ(DeviceAccessHint(audio), "No access to the MIDI devices: join the group \"audio\".");
    const std::string explanation = DeviceAccessExplanation(audio);
    EXPECT_THAT(explanation, HasSubstr("(/dev/snd/midiC1D0, /dev/snd/seq)"));
    EXPECT_THAT(explanation, HasSubstr("usermod -aG audio USER"));

    // A group without a name is described, and no command is made up for it.
    const BlockedMidiDevices unnamed{{"/dev/snd/seq"}, ""};
    EXPECT_THAT(DeviceAccessHint(unnamed), HasSubstr("the group that owns them"));
    EXPECT_THAT(DeviceAccessExplanation(unnamed), Not(HasSubstr("usermod")));
}

}  // namespace
}  // namespace corvane::midi
