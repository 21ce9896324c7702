#include "app/updater_app.h"

#include <utility>

#include "app/updater_dialog.h"
#include "program/exit_codes.h"

namespace corvane::app {

CVekUpdatorApp::CVekUpdatorApp(std::string lockDirectory, Program program)
    : m_lockDirectory(std::move(lockDirectory)), m_program(program) {}

std::string LockDirectoryErrorText(const std::string& directory) {
    if (directory.empty()) {
        // Where the user's identity names the markers and could not be read.
        return "The updater cannot tell which user runs it, so it cannot count its running "
               "copies.";
    }
    return "The updater cannot create or use its lock directory \"" + directory +
           "\". It must be a directory owned by you that no one else can use.";
}

InstanceClaim CVekUpdatorApp::ClaimInstanceNumber() {
    if (m_nInstance != 0) {
        return InstanceClaim::kClaimed;
    }
    // Without a usable directory every claim fails; that is no sign of
    // twenty copies running.
    if (!InstanceLock::PrepareDirectory(m_lockDirectory)) {
        return InstanceClaim::kNoLockDirectory;
    }
    for (int n = 1; n <= kMaxInstances; ++n) {
        const std::string marker =
            m_program == Program::kDemo ? WindowTitle(n) + " demo" : WindowTitle(n);
        m_lock = InstanceLock::Claim(m_lockDirectory, marker);
        if (m_lock) {
            m_nInstance = n;
            return InstanceClaim::kClaimed;
        }
    }
    return InstanceClaim::kAllTaken;
}

std::optional<int> ClaimForWindow(CVekUpdatorApp& app, StartUpBoxes& boxes) {
    switch (app.ClaimInstanceNumber()) {
        case InstanceClaim::kClaimed:
            return std::nullopt;
        case InstanceClaim::kAllTaken:
            boxes.Warning(kTooManyInstancesText);
            return kExitSuccess;
        case InstanceClaim::kNoLockDirectory:
            boxes.Error(LockDirectoryErrorText(app.LockDirectory()));
            return kExitFailure;
    }
    return kExitFailure;
}

}  // namespace corvane::app
