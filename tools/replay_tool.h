// apexcircuit replay: a race file, or a circuit's record lap, as an animated GIF.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

// args as RunCircuitTool takes them, "replay" first. The exit status: 0 written, 1 bad input or a
// file that can't be written, 2 wrong usage; errors go to err in one line.
int RunReplayTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The usage lines for apexcircuit's usage text.
std::string ReplayToolUsage();
