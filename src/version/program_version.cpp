#include "version/program_version.h"

#include <cstdio>
#include <string_view>

namespace corvane {

const char* ProjectVersion() {
    return CORVANE_VERSION;
}

bool AsksForVersion(int argc, const char* const* argv) {
    return argc == 2 && std::string_view(argv[1]) == "--version";
}

std::string VersionLine(const char* program) {
    return std::string(program) + " " + ProjectVersion() + "\n";
}

void PrintVersion(const char* program) {
    std::fputs(VersionLine(program).c_str(), stdout);
}

}  // namespace corvane
