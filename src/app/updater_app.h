#pragma once
// The application object: claims this copy's instance number, 1 to 20, and
// holds it for the life of the process, so that copies running side by side
// each get their own title and their own device.

#include <optional>
#include <string>

#include "app/instance_lock.h"

namespace corvane::app {

// Shown, with no owner window, when every instance number is taken.
inline constexpr const char* kTooManyInstancesText =
    "It is forbidden to launch more than 20 instance of this application.";

// Shown, with no owner window, when the markers' directory cannot be used.
std::string LockDirectoryErrorText(const std::string& directory);

enum class InstanceClaim {
    kClaimed,
    kAllTaken,         // twenty copies run
    kNoLockDirectory,  // the markers' directory cannot be made or used
};

// Whose copies count against each other. The demo runs on a simulated device
// and counts its own, so that it never moves a real updater to another
// number, and so to the ports of another device.
enum class Program { kUpdater, kDemo };

class CVekUpdatorApp {
public:
    // `lockDirectory`: where the per-user markers live (see InstanceLock).
    explicit CVekUpdatorApp(std::string lockDirectory = InstanceLock::UserDirectory(),
                            Program program = Program::kUpdater);

    // Claims the lowest free number. Each number's marker is named after the
    // copy's window title, the demo's with " demo" added. Unless claimed, the
    // copy must end.
    InstanceClaim ClaimInstanceNumber();
    // 0 until a number is claimed.
    int GetInstanceNumber() const { return m_nInstance; }
    const std::string& LockDirectory() const { return m_lockDirectory; }

private:
    std::string m_lockDirectory;
    Program m_program;
    std::optional<InstanceLock> m_lock;
    int m_nInstance = 0;
};

// The boxes a window shows, with no owner, when its copy may not run.
class StartUpBoxes {
public:
    virtual ~StartUpBoxes() = default;
    virtual void Warning(const std::string& text) = 0;
    virtual void Error(const std::string& text) = 0;
};

// Claims a number for a window's copy. Where it cannot, shows why and gives
// the exit status: success when twenty copies run (the warning is the whole
// answer), failure when the lock directory cannot be used.
std::optional<int> ClaimForWindow(CVekUpdatorApp& app, StartUpBoxes& boxes);

}  // namespace corvane::app
