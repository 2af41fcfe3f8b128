// Terminal detection on the host.
#include "platform/terminal.h"

#include <unistd.h>

bool IsTerminal(std::FILE* stream) { return stream != nullptr && isatty(fileno(stream)) == 1; }
