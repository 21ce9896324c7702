#include "tools/console_encoding.h"

#include <windows.h>

namespace corvane::tools {

// A Windows console shows bytes in its own code page unless told otherwise.
void UseUtf8Console() {
    SetConsoleOutputCP(CP_UTF8);
}

}  // namespace corvane::tools
