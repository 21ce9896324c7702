#include "app/updater_app.h"

#include <utility>

#include "app/updater_dialog.h"

namespace corvane::app {

CVekUpdatorApp::CVekUpdatorApp(std::string lockDirectory)
    : m_lockDirectory(std::move(lockDirectory)) {}

bool CVekUpdatorApp::ClaimInstanceNumber() {
    if (m_nInstance != 0) {
        return true;
    }
    for (int n = 1; n <= kMaxInstances; ++n) {
        m_lock = InstanceLock::Claim(m_lockDirectory, WindowTitle(n));
        if (m_lock) {
            m_nInstance = n;
            return true;
        }
    }
    return false;
}

}  // namespace corvane::app
