// apexcircuit: the users' tool for circuits and picture files, callable in-process for tests.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

// Runs one subcommand with its arguments (without the program name). Results go to out; an
// error goes to err as one line naming the problem. With showProgress, a long check reports its
// progress on err by rewriting one line, so err should then be a terminal.
//
// Returns the exit status: 0 success, 1 failure (bad input, a circuit that can't be lapped),
// 2 wrong usage.
int RunCircuitTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   bool showProgress = false);

// The usage text, as printed for wrong usage and for "help".
std::string CircuitToolUsage();
