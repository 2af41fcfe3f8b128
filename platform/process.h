// Starting another program, the way the game and the selector hand over to each other.
#pragma once

#include <string>

// Starts the program at a device path with a command line and does not wait for it.
//
// A path ending in ".exe" (in any case) names the host executable of the same name without it:
// "\home\ana\Apexgrid\Apexpick.exe" starts /home/ana/Apexgrid/Apexpick. The command line is
// handed over as one single argument, so the started program's GetCommandLine() is exactly
// commandLine, spaces, quotes and the stand-ins for host bytes (ToHostBytes) included; an empty
// command line passes no argument at all. The
// started program inherits the environment, the standard streams and the working folder.
//
// Headless, every start is written to standard error as `START <program path> | <command line>`
// (the path as given, newlines as \n) and is not carried out unless APEXGRID_START=run.
//
// Non-zero when the program was started (or, headless, recorded); 0 when it couldn't be.
int CreateProcess(const std::u16string& programPath, const std::u16string& commandLine);
