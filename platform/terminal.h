// Whether an output stream is a terminal, for tools that show their progress there.
#pragma once

#include <cstdio>

bool IsTerminal(std::FILE* stream);
