// Starting and stopping the platform, the backend it runs on, and the program's command line.
//
// A program's main() starts the platform, runs its own entry point and stops the platform:
//
//   int main(int argc, char** argv) {
//     std::string error;
//     if (StartPlatform(argc, argv, "Apexgrid", &error) != 0) {
//       std::fprintf(stderr, "Apexgrid: %s\n", error.c_str());
//       return 1;
//     }
//     const int code = GameMain(SW_SHOWNORMAL);
//     return StopPlatform(code);
//   }
//
// The backend is chosen at run time from the environment:
//   APEXGRID_VIDEO=headless   no window, virtual time, events from a script (platform/script.h);
//                             anything else: a real window through SDL2.
//   APEXGRID_SCRIPT_<Program> the script for the program named <Program> (for example
//                             APEXGRID_SCRIPT_Apexpick); when it is unset or empty,
//   APEXGRID_SCRIPT           the script for any program. Without either the script is empty,
//                             so a headless program is closed as soon as its loop runs.
//   APEXGRID_START=run        headless only: process starts are carried out as well as written
//                             as START lines, so that tests can drive a chain of programs.
//   APEXGRID_SCALE=N          SDL only: show the screen N times enlarged (1 to 16) instead of the
//                             largest whole factor that fits the desktop.
//   APEXGRID_INSTANCE=KEY     narrows the single-instance search to programs with the same key
//                             (see FindWindow in platform/window.h).
#pragma once

#include <string>

// The desktop's convention for a program's own command line: `--help` or `--version` as the only
// argument prints the usage or the version line on standard output. 1 when it was one of them
// (the program then ends with 0 before anything else), 0 for every other command line, which
// stays the program's own.
int AnswerHelpOrVersion(int argc, char** argv, const char* usage, const char* version);

// Starts the backend. 0 on success; 1 with one line saying why in *error (no newline) when it
// can't: no display to open, an unreadable script, a bad APEXGRID_SCALE. Nothing is shown or
// written on failure; the caller says it and exits non-zero. programName picks the script
// variable and should be the program's own file name ("Apexgrid", "Apexpick").
int StartPlatform(int argc, char** argv, const char* programName, std::string* error);

// Closes every window left (without messages) and the backend. Returns the status the program
// should exit with: exitCode, or 2 after an unreadable headless script line.
int StopPlatform(int exitCode);

// The settings file (platform/settings.h) in which the window's scale and full screen are kept
// between runs: read now, for the windows to come, and written only when the window's whole scale
// changes (the player resized it) or full screen is switched, so that a player who changes nothing
// finds no file. Both programs name the same file and share the look. Without a call nothing is
// kept; a scale given in APEXGRID_SCALE wins over the remembered one.
void SetWindowSettingsFile(const std::u16string& devicePath);

// Non-zero when the headless backend runs.
int IsHeadless();

// The program's arguments after its name, joined by single spaces, exactly as given: no quotes
// removed, nothing trimmed, bytes that aren't UTF-8 kept as FromHostBytes keeps them (so that a
// host name in them comes back whole). Empty without arguments.
std::u16string GetCommandLine();
