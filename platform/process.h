// Starting another program, the way the game and the selector hand over to each other.
#pragma once

#include <functional>
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

// Work done in a child process of its own, beside the program: its memory is its own, so work that
// runs out of it ends only itself, and the program's one thread never waits for it. The child
// shares nothing with the program after the start (files it writes are how it answers), ends with
// the program, and runs at a lower priority. It returns its exit status (0 to 255), and runs no
// exit handlers of the program's.
//
// The job's number, or 0 when it couldn't be started.
int StartBackgroundJob(const std::function<int()>& work);
// 1 while the job runs; 0 once it has ended, its exit status in *status (-1 when it was killed); -1
// for no such job. A job that has ended is reported once.
int PollBackgroundJob(int job, int* status);
// Ends the job if it still runs, and waits for it to go.
void StopBackgroundJob(int job);
