// Test helper: claims an instance number with its lock directory given as the
// argument, prints the number (0: refused) and keeps it until stdin closes or
// the process is killed.

#include <unistd.h>

#include <cstdio>

#include "app/updater_app.h"
#include "program/exit_codes.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        return corvane::kExitUsage;
    }
    corvane::app::CVekUpdatorApp app(argv[1]);
    app.ClaimInstanceNumber();
    std::printf("%d\n", app.GetInstanceNumber());
    std::fflush(stdout);
    char byte;
    while (::read(STDIN_FILENO, &byte, 1) > 0) {
    }
    return corvane::kExitSuccess;
}
