#pragma once
// The project's version, set once by project(VERSION) in the top CMake list,
// and the --version answer that every program gives.

#include <string>

namespace corvane {

const char* ProjectVersion();

// Whether the command line asks for the version: "--version" as its only
// argument. Among others it can be the simulated device's option that takes
// a value, so it counts only alone.
bool AsksForVersion(int argc, const char* const* argv);

// "<program> <version>\n", as printed on standard output.
std::string VersionLine(const char* program);
void PrintVersion(const char* program);

}  // namespace corvane
