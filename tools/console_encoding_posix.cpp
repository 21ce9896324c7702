#include "tools/console_encoding.h"

namespace corvane::tools {

// Terminals here take the bytes as the locale says, UTF-8 nearly everywhere;
// nothing is converted.
void UseUtf8Console() {}

}  // namespace corvane::tools
