// apexcircuit: make, preview, inspect and check circuits; convert picture files to and from PNG.
#include <iostream>
#include <string>
#include <vector>

#include "platform/terminal.h"
#include "tools/circuit_tool.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return RunCircuitTool(args, std::cout, std::cerr, IsTerminal(stderr));
}
