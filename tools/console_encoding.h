#pragma once
// The console shows the programs' UTF-8 text (port names may be Japanese) as
// it is written.

namespace corvane::tools {

// Call once at start, before anything is printed.
void UseUtf8Console();

}  // namespace corvane::tools
