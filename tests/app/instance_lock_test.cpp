// Instance numbers across processes: each running copy holds its number until
// it ends, by any path, and the lowest free number goes to the next copy.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "app/instance_lock.h"
#include "app/updater_app.h"

namespace corvane::app {
namespace {

namespace fs = std::filesystem;

class TempDirectory {
public:
    TempDirectory() {
        std::string pattern = (fs::temp_directory_path() / "corvane-lock-test-XXXXXX").string();
        m_path = ::mkdtemp(pattern.data());
    }
    ~TempDirectory() {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// A running copy of the helper: holds its number until killed or released.
class Holder {
public:
    explicit Holder(const std::string& directory) {
        int toChild[2];
        int fromChild[2];
        if (::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(fromChild, O_CLOEXEC) != 0) {
            return;
        }
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(toChild[0], STDIN_FILENO);
            ::dup2(fromChild[1], STDOUT_FILENO);
            ::execl(CORVANE_LOCK_HOLDER, CORVANE_LOCK_HOLDER, directory.c_str(), nullptr);
            ::_exit(127);
        }
        ::close(toChild[0]);
        ::close(fromChild[1]);
        m_stdin = toChild[1];
        m_stdout = ::fdopen(fromChild[0], "r");
    }
    ~Holder() {
        Kill();
        if (m_stdout != nullptr) {
            std::fclose(m_stdout);
        }
    }
    // The number the copy claimed; -1 when it printed none.
    int Number() {
        if (m_number == -1 && m_stdout != nullptr && std::fscanf(m_stdout, "%d", &m_number) != 1) {
            m_number = -1;
        }
        return m_number;
    }
    void Kill() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
        if (m_stdin >= 0) {
            ::close(m_stdin);
            m_stdin = -1;
        }
    }

private:
    pid_t m_pid = -1;
    int m_stdin = -1;
    FILE* m_stdout = nullptr;
    int m_number = -1;
};

TEST(InstanceNumbers, TwentyCopiesStartedTogetherGetDistinctNumbersAndAKilledCopyFreesItsNumber) {
    TempDirectory dir;
    std::vector<std::unique_ptr<Holder>> holders;
    // All started before any is read, so the claims race each other.
    for (int i = 0; i < 20; ++i) {
        holders.push_back(std::make_unique<Holder>(dir.Path()));
    }
    std::set<int> numbers;
    for (auto& holder : holders) {
        numbers.insert(holder->Number());
    }
    std::set<int> expected;
    for (int n = 1; n <= 20; ++n) {
        expected.insert(n);
    }
    ASSERT_EQ(numbers, expected);

    CVekUpdatorApp refused(dir.Path());
    EXPECT_EQ(refused.ClaimInstanceNumber(), InstanceClaim::kAllTaken);
    EXPECT_EQ(refused.GetInstanceNumber(), 0);
    Holder twentyFirst(dir.Path());
    EXPECT_EQ(twentyFirst.Number(), 0);

    const auto second = std::find_if(holders.begin(), holders.end(),
                                     [](const auto& holder) { return holder->Number() == 2; });
    (*second)->Kill();
    CVekUpdatorApp next(dir.Path());
    EXPECT_EQ(next.ClaimInstanceNumber(), InstanceClaim::kClaimed);
    EXPECT_EQ(next.GetInstanceNumber(), 2);
}

TEST(InstanceNumbers, LowestFreeNumberWinsAndEndingACopyFreesItsNumber) {
    TempDirectory dir;
    CVekUpdatorApp first(dir.Path());
    auto second = std::make_unique<CVekUpdatorApp>(dir.Path());
    CVekUpdatorApp third(dir.Path());
    ASSERT_EQ(first.ClaimInstanceNumber(), InstanceClaim::kClaimed);
    ASSERT_EQ(second->ClaimInstanceNumber(), InstanceClaim::kClaimed);
    ASSERT_EQ(third.ClaimInstanceNumber(), InstanceClaim::kClaimed);
    EXPECT_EQ(first.GetInstanceNumber(), 1);
    EXPECT_EQ(second->GetInstanceNumber(), 2);
    EXPECT_EQ(third.GetInstanceNumber(), 3);

    second.reset();
    CVekUpdatorApp again(dir.Path());
    ASSERT_EQ(again.ClaimInstanceNumber(), InstanceClaim::kClaimed);
    EXPECT_EQ(again.GetInstanceNumber(), 2);
    // A copy keeps the number it has.
    ASSERT_EQ(again.ClaimInstanceNumber(), InstanceClaim::kClaimed);
    EXPECT_EQ(again.GetInstanceNumber(), 2);
}

// A running demo must not move the updater to number 2 and so to the ports of
// a second device.
TEST(InstanceNumbers, TheDemoAndTheUpdaterNumberTheirCopiesApart) {
    TempDirectory dir;
    CVekUpdatorApp demo(dir.Path(), Program::kDemo);
    CVekUpdatorApp updater(dir.Path());
    CVekUpdatorApp secondDemo(dir.Path(), Program::kDemo);
    ASSERT_EQ(demo.ClaimInstanceNumber(), InstanceClaim::kClaimed);
    ASSERT_EQ(updater.ClaimInstanceNumber(), InstanceClaim::kClaimed);
    ASSERT_EQ(secondDemo.ClaimInstanceNumber(), InstanceClaim::kClaimed);
    EXPECT_EQ(demo.GetInstanceNumber(), 1);
    EXPECT_EQ(updater.GetInstanceNumber(), 1);
    EXPECT_EQ(secondDemo.GetInstanceNumber(), 2);
}

// Without a directory of its own a copy cannot tell how many others run: it
// says so rather than claim that twenty do.
TEST(InstanceNumbers, AnUnusableDirectoryIsReportedAsSuch) {
    TempDirectory dir;
    const std::string shared = dir.Path() + "/shared";
    ASSERT_EQ(::mkdir(shared.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(shared.c_str(), 0777), 0);
    const std::string file = dir.Path() + "/file";
    ASSERT_EQ(::close(::open(file.c_str(), O_CREAT | O_WRONLY, 0600)), 0);
    const std::string link = dir.Path() + "/link";
    ASSERT_EQ(::symlink(dir.Path().c_str(), link.c_str()), 0);
    const std::string missingParent = dir.Path() + "/missing/locks";

    for (const std::string& path : {std::string(), shared, file, link, missingParent}) {
        CVekUpdatorApp app(path);
        EXPECT_EQ(app.ClaimInstanceNumber(), InstanceClaim::kNoLockDirectory) << path;
        EXPECT_EQ(app.GetInstanceNumber(), 0);
    }
    EXPECT_FALSE(InstanceLock::Claim("/nonexistent-corvane-dir", "x").has_value());
}

TEST(InstanceNumbers, AMissingDirectoryIsMadePrivate) {
    TempDirectory dir;
    const std::string locks = dir.Path() + "/locks";
    CVekUpdatorApp app(locks);
    ASSERT_EQ(app.ClaimInstanceNumber(), InstanceClaim::kClaimed);
    struct stat info {};
    ASSERT_EQ(::stat(locks.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

// A copy started from a desktop session and one from a login shell without
// XDG_RUNTIME_DIR must count against each other.
TEST(InstanceNumbers, OneDirectoryWhateverTheEnvironment) {
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved = old != nullptr ? old : "";
    TempDirectory runtime;
    ::setenv("XDG_RUNTIME_DIR", runtime.Path().c_str(), 1);
    const std::string withRuntime = InstanceLock::UserDirectory();
    ::unsetenv("XDG_RUNTIME_DIR");
    const std::string without = InstanceLock::UserDirectory();
    if (old != nullptr) {
        ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    }
    EXPECT_EQ(withRuntime, without);
    EXPECT_EQ(without, "/tmp/corvane-" + std::to_string(::getuid()));
}

}  // namespace
}  // namespace corvane::app
