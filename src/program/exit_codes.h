#pragma once
// The exit status of every program, as its manual page and --help state it;
// scripts and production lines test these numbers, so they never change.

namespace corvane {

// The job is done: the update completed, the image was accepted, the file
// written, the window closed.
inline constexpr int kExitSuccess = 0;
// The job failed or was refused, or a file could not be read or written.
inline constexpr int kExitFailure = 1;
// The command line was wrong; nothing was done.
inline constexpr int kExitUsage = 2;

}  // namespace corvane
