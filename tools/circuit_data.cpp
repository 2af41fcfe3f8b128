// Reading and checking circuit files for the tools.
#include "tools/circuit_data.h"

#include "data/circuit.h"
#include "gfx/line_walk.h"
#include "platform/byte_order.h"
#include "rules/commit.h"
#include "tools/tool_error.h"

namespace {

GridPoint PointAt(const ByteVector& b, size_t offset) {
  return GridPoint{ReadS16(b.data() + offset), ReadS16(b.data() + offset + 2)};
}

}  // namespace

std::string PointText(GridPoint p) { return std::to_string(p.x) + "," + std::to_string(p.y); }

CircuitData ReadCircuitFile(const std::string& hostPath) {
  const ByteVector bytes = ReadWholeFile(hostPath);
  if (bytes.size() < static_cast<size_t>(kCircuitHeaderBytes)) {
    throw ToolError(hostPath + " is truncated: " + std::to_string(bytes.size()) +
                    " bytes, shorter than a circuit's 20-byte header");
  }
  CircuitData c;
  c.width = ReadU16(bytes.data());
  c.height = ReadU16(bytes.data() + 2);
  if (c.width == 0 || c.height == 0) {
    throw ToolError(hostPath + " is not a circuit: its size is " + std::to_string(c.width) + "x" +
                    std::to_string(c.height));
  }
  const size_t cells = static_cast<size_t>(c.width) * c.height;
  const size_t recordOffset = static_cast<size_t>(RecordOffset(c.width, c.height));
  if (bytes.size() < recordOffset) {
    throw ToolError(hostPath + " is truncated: " + std::to_string(bytes.size()) + " bytes, a " +
                    std::to_string(c.width) + "x" + std::to_string(c.height) + " circuit needs " +
                    std::to_string(recordOffset));
  }
  c.start = PointAt(bytes, 4);
  c.lineA = PointAt(bytes, 8);
  c.lineB = PointAt(bytes, 12);
  c.ahead = PointAt(bytes, 16);
  c.pixels.resize(cells);
  for (size_t i = 0; i < cells; ++i) c.pixels[i] = ReadU16(bytes.data() + 20 + 2 * i);
  c.cells.assign(bytes.begin() + 20 + 2 * cells, bytes.begin() + recordOffset);

  const size_t rest = bytes.size() - recordOffset;
  if (rest == 1) {
    c.recordProblem = "one stray byte where the record section would begin";
  } else if (rest >= 2) {
    c.hasRecordSection = true;
    const uint16_t count = ReadU16(bytes.data() + recordOffset);
    if (count > kRecordCapacity) {
      c.recordProblem = "the record claims " + std::to_string(count) + " points, more than the " +
                        std::to_string(kRecordCapacity) + " a race can hold";
    } else if (rest - 2 < 4 * static_cast<size_t>(count)) {
      c.recordProblem = "the record claims " + std::to_string(count) + " points, but the file holds " +
                        std::to_string((rest - 2) / 4);
    } else {
      for (size_t i = 0; i < count; ++i) c.record.push_back(PointAt(bytes, recordOffset + 2 + 4 * i));
    }
  }
  return c;
}

std::vector<std::string> CircuitProblems(const CircuitData& c) {
  std::vector<std::string> problems;
  const std::string size = std::to_string(c.width) + "x" + std::to_string(c.height);
  const struct {
    const char* name;
    GridPoint point;
  } points[] = {{"start point", c.start}, {"line end A", c.lineA}, {"line end B", c.lineB}, {"ahead point", c.ahead}};
  bool allInside = true;
  for (const auto& p : points) {
    if (!c.Inside(p.point)) {
      problems.push_back(std::string("the ") + p.name + " " + PointText(p.point) + " lies outside the " + size +
                         " picture");
      allInside = false;
    }
  }
  if (!allInside) return problems;
  if (c.Blocked(c.start.x, c.start.y)) {
    problems.push_back("the start point " + PointText(c.start) + " is on a blocked cell");
  }
  if (c.lineA == c.lineB) {
    problems.push_back("the start/finish line has both ends at " + PointText(c.lineA));
    return problems;
  }
  // A car can pass beside the line unless it reaches from wall to wall: both ends blocked, with
  // the track it crosses in one piece between them.
  for (GridPoint end : {c.lineA, c.lineB}) {
    if (!c.Blocked(end.x, end.y)) {
      problems.push_back("the start/finish line end " + PointText(end) +
                         " is on the track, so cars can pass beside the line");
    }
  }
  std::vector<bool> walk;
  WalkLine(c.lineA.x, c.lineA.y, c.lineB.x, c.lineB.y, [&](int x, int y) {
    walk.push_back(c.Blocked(x, y));
    return false;
  });
  int runs = 0;
  for (size_t i = 0; i < walk.size(); ++i) {
    if (!walk[i] && (i == 0 || walk[i - 1])) ++runs;
  }
  if (runs == 0) problems.push_back("the start/finish line crosses no track");
  if (runs > 1) {
    problems.push_back("the start/finish line crosses the track " + std::to_string(runs) +
                       " times; it must span one stretch of track from wall to wall");
  }
  const int aheadSide = SideOfLine(c.lineA, c.lineB, c.ahead);
  // The ahead point only says a side when it isn't on the line itself.
  const GridPoint mirrored{static_cast<int16_t>(2 * c.lineA.x - c.ahead.x),
                           static_cast<int16_t>(2 * c.lineA.y - c.ahead.y)};
  if (SideOfLine(c.lineA, c.lineB, mirrored) == aheadSide) {
    problems.push_back("the ahead point " + PointText(c.ahead) +
                       " lies on the start/finish line and names no racing side");
  } else if (SideOfLine(c.lineA, c.lineB, c.start) != aheadSide) {
    problems.push_back("the start point " + PointText(c.start) +
                       " is behind the start/finish line, so the first crossing would count a lap at once");
  }
  if (!c.recordProblem.empty()) problems.push_back("the record can't be used: " + c.recordProblem);
  return problems;
}
