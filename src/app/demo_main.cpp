// corvane-updater-demo: the updater's window on an in-process MIDI system
// with a simulated device, to try the whole update without hardware.
// --unattended runs one update by itself and exits with its outcome, so that
// an installed copy can be checked without a person at it.

#include <QApplication>

#include <cstdio>
#include <cstring>

#include "app/qt/unattended_run.h"
#include "app/qt/updater_start.h"
#include "app/updater_app.h"
#include "device/demo_system.h"
#include "program/exit_codes.h"
#include "version/program_version.h"

namespace {

void PrintHelp(std::FILE* to) {
    std::fputs(
        "usage: corvane-updater-demo [--unattended]\n"
        "  --unattended   press Execute, close the window when the update has ended;\n"
        "                 exit 0 when it completed, 1 when it failed\n"
        "  --help         this text\n"
        "  --version      alone: print the program's version and exit\n",
        to);
}

}  // namespace

int main(int argc, char** argv) {
    if (corvane::AsksForVersion(argc, argv)) {
        corvane::PrintVersion("corvane-updater-demo");
        return corvane::kExitSuccess;
    }
    // Qt takes its own options (-platform and the like) out of argv.
    QApplication application(argc, argv);
    bool unattended = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            PrintHelp(stdout);
            return corvane::kExitSuccess;
        }
        if (std::strcmp(argv[i], "--unattended") != 0) {
            std::fprintf(stderr, "corvane-updater-demo: unknown option '%s'\n", argv[i]);
            PrintHelp(stderr);
            return corvane::kExitUsage;
        }
        unattended = true;
    }
    QGuiApplication::setDesktopFileName("corvane-updater");
    corvane::app::CVekUpdatorApp app(corvane::app::InstanceLock::UserDirectory(),
                                     corvane::app::Program::kDemo);
    auto makeBackend = [] { return std::make_unique<corvane::device::DemoSystem>(); };
    if (unattended) {
        return corvane::app::qt::RunUnattended(app, makeBackend);
    }
    return corvane::app::qt::RunUpdater(app, makeBackend);
}
