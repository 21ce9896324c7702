// corvane-updater-demo: the updater's window on an in-process MIDI system
// with a simulated device, to try the whole update without hardware.
// --version alone answers the version and ends.

#include "app/updater_app.h"
#include "app/win/updater_start.h"
#include "app/win/version_answer.h"
#include "device/demo_system.h"
#include "program/exit_codes.h"
#include "version/program_version.h"

int main(int argc, char** argv) {
    if (corvane::AsksForVersion(argc, argv)) {
        corvane::app::win::AnswerVersion("corvane-updater-demo");
        return corvane::kExitSuccess;
    }
    corvane::app::CVekUpdatorApp app(corvane::app::InstanceLock::UserDirectory(),
                                     corvane::app::Program::kDemo);
    return corvane::app::win::RunUpdater(
        app, [] { return std::make_unique<corvane::device::DemoSystem>(); });
}
