#include "app/updater_app.h"

#include <cstdio>
#include <utility>

namespace corvane::app {

namespace {

constexpr int kInstanceCount = 20;

// The marker of copy n carries the copy's window title.
std::string InstanceTitle(int n) {
    if (n == 1) {
        return "BRAX Corvane System v1.10 Updater";
    }
    char title[64];
    std::snprintf(title, sizeof title, "BRAX Corvane System v1.10 Updater (%d)", n);
    return title;
}

}  // namespace

CVekUpdatorApp::CVekUpdatorApp(std::string lockDirectory)
    : m_lockDirectory(std::move(lockDirectory)) {}

bool CVekUpdatorApp::ClaimInstanceNumber() {
    if (m_nInstance != 0) {
        return true;
    }
    for (int n = 1; n <= kInstanceCount; ++n) {
        m_lock = InstanceLock::Claim(m_lockDirectory, InstanceTitle(n));
        if (m_lock) {
            m_nInstance = n;
            return true;
        }
    }
    return false;
}

}  // namespace corvane::app
