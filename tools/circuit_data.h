// Circuit files as the tools see them: read with a named reason for every fault, and checked for
// the mistakes that spoil a race.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "data/circuit.h"
#include "tools/tool_files.h"

struct CircuitData : CircuitFile {
  // Why the record section can't be used, when it can't (the game then races without a record).
  std::string recordProblem;

  bool Blocked(int x, int y) const {
    return x < 0 || y < 0 || x >= width || y >= height || cells[static_cast<size_t>(y) * width + x] == 1;
  }
  bool Inside(GridPoint p) const { return p.x >= 0 && p.y >= 0 && p.x < width && p.y < height; }
};

// Largest circuit side: every point of a circuit is a signed 16-bit coordinate.
constexpr int kMaxCircuitSide = 32767;

// Reads a circuit file. Throws ToolError naming the file and the fault: missing, empty size,
// truncated. A record section that can't be used is kept as recordProblem, not thrown.
CircuitData ReadCircuitFile(const std::string& hostPath);

// Everything that would spoil a race on the circuit, each as one line: points outside the
// picture, a start point on a blocked cell, a start/finish line that a car could pass beside,
// an ahead point that doesn't say a side, a start point on the wrong side of the line. Empty
// when the circuit is sound.
std::vector<std::string> CircuitProblems(const CircuitData& circuit);

std::string PointText(GridPoint p);
