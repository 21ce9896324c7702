// corvane-updater: the updater's window on the system's MIDI devices. It
// takes no command line; --version alone answers the version and ends.

#include "app/updater_app.h"
#include "app/win/updater_start.h"
#include "app/win/version_answer.h"
#include "midi/system_backend.h"
#include "program/exit_codes.h"
#include "version/program_version.h"

int main(int argc, char** argv) {
    if (corvane::AsksForVersion(argc, argv)) {
        corvane::app::win::AnswerVersion("corvane-updater");
        return corvane::kExitSuccess;
    }
    corvane::app::CVekUpdatorApp app;
    return corvane::app::win::RunUpdater(app, [] { return corvane::midi::CreateSystemBackend(); });
}
