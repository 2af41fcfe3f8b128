// The subcommands of apexcircuit.
#include "tools/circuit_tool.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iomanip>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <sstream>
#include <thread>
#include <utility>

#include "brain/exact_solver.h"
#include "brain/foresight.h"
#include "brain/lap_table.h"
#include "brain/solver.h"
#include "brain/track_model.h"
#include "data/circuit.h"
#include "data/folder.h"
#include "gfx/picture.h"
#include "platform/byte_order.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "rules/commit.h"
#include "rules/move.h"
#include "rules/state.h"
#include "rules/turn.h"
#include "tools/canvas.h"
#include "tools/circuit_data.h"
#include "tools/replay_tool.h"
#include "tools/tool_error.h"
#include "tools/tool_files.h"
#include "tools/whole_number.h"

namespace {

// Wrong usage: reported with the usage text and status 2.
struct UsageError : ToolError {
  explicit UsageError(const std::string& message) : ToolError(message) {}
};

// Largest preview, in pixels: about 480 MB of painting surface.
constexpr unsigned long long kMaxPreviewPixels = 40000000;

// ---- Arguments -------------------------------------------------------------------------------

struct Arguments {
  std::vector<std::string> files;
  std::map<std::string, std::vector<std::string>> values;  // options that take a value
  std::set<std::string> flags;

  bool Has(const std::string& name) const { return flags.count(name) != 0 || values.count(name) != 0; }
  std::string Value(const std::string& name) const {
    auto it = values.find(name);
    return it == values.end() ? std::string() : it->second.back();
  }
};

// Splits the arguments of a subcommand. valued names the options that take a value, flags the
// ones that don't; anything else starting with "--" is wrong usage.
Arguments Parse(const std::string& command, const std::vector<std::string>& args, size_t fileCount,
                const std::set<std::string>& valued, const std::set<std::string>& flags) {
  Arguments parsed;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
      const std::string name = a.substr(2);
      if (valued.count(name) != 0) {
        if (i + 1 >= args.size()) {
          throw UsageError(std::string(command).append(": --").append(name).append(" needs a value"));
        }
        parsed.values[name].push_back(args[++i]);
      } else if (flags.count(name) != 0) {
        parsed.flags.insert(name);
      } else {
        throw UsageError(std::string(command).append(": unknown option ").append(a));
      }
    } else {
      parsed.files.push_back(a);
    }
  }
  if (parsed.files.size() != fileCount) {
    throw UsageError(command + " takes " + std::to_string(fileCount) + " file" + (fileCount == 1 ? "" : "s") +
                     ", not " + std::to_string(parsed.files.size()));
  }
  return parsed;
}

std::vector<int> Numbers(const std::string& option, const std::string& text, size_t minCount, size_t maxCount) {
  std::vector<int> numbers;
  size_t from = 0;
  for (;;) {
    const size_t comma = text.find(',', from);
    const std::string part = text.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
    long long value = 0;
    const WholeNumber read = ReadWholeNumber(part, INT32_MIN, INT32_MAX, &value);
    if (read != WholeNumber::kRead) {
      std::string message = "--" + option;
      message.append(" ").append(text).append(": ");
      if (part.empty()) {
        message += "a number is missing";
      } else {
        message.append("'").append(part);
        message += read == WholeNumber::kOutOfRange ? "' is out of range" : "' is not a whole number";
      }
      throw ToolError(message);
    }
    numbers.push_back(static_cast<int>(value));
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  if (numbers.size() < minCount || numbers.size() > maxCount) {
    const std::string wanted =
        minCount == maxCount ? std::to_string(minCount) : std::to_string(minCount) + " or " + std::to_string(maxCount);
    throw ToolError("--" + option + " " + text + ": needs " + wanted + " numbers separated by commas");
  }
  return numbers;
}

GridPoint ToPoint(const std::string& option, int x, int y) {
  if (x < INT16_MIN || x > INT16_MAX || y < INT16_MIN || y > INT16_MAX) {
    throw ToolError("--" + option + ": " + std::to_string(x) + "," + std::to_string(y) + " is beyond any circuit");
  }
  return GridPoint{static_cast<int16_t>(x), static_cast<int16_t>(y)};
}

GridPoint PointOption(const Arguments& a, const std::string& option) {
  if (!a.Has(option)) throw UsageError("make needs --" + option);
  const std::vector<int> n = Numbers(option, a.Value(option), 2, 2);
  return ToPoint(option, n[0], n[1]);
}

// The enlargement asked for (1 without --scale), for a picture of the given size. Whatever the
// scale, a preview holds at most kMaxPreviewPixels pixels, what a viewer can sensibly open.
int ScaleOption(const Arguments& a, uint32_t width, uint32_t height) {
  int scale = 1;
  if (a.Has("scale")) {
    scale = Numbers("scale", a.Value("scale"), 1, 1)[0];
    if (scale < 1 || scale > 16) throw ToolError("--scale " + a.Value("scale") + ": use 1 to 16");
  }
  const unsigned long long pixels = 1ULL * width * height * scale * scale;
  if (pixels > kMaxPreviewPixels) {
    const std::string says = "the picture would be " + std::to_string(1ULL * width * scale) + "x" +
                             std::to_string(1ULL * height * scale) + ", more than the " +
                             std::to_string(kMaxPreviewPixels) + " pixels a preview may have";
    throw ToolError(scale > 1 ? "--scale " + a.Value("scale") + ": " + says + "; use a smaller scale" : says);
  }
  return scale;
}

// The width and height in a circuit file's header; 0 x 0 when it can't be read (reading the
// whole file then says why).
std::pair<uint32_t, uint32_t> HeaderSize(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  unsigned char header[4] = {};
  if (!in.read(reinterpret_cast<char*>(header), sizeof header)) return {0, 0};
  return {ReadU16(header), ReadU16(header + 2)};
}

std::string Name(const std::string& path) { return std::filesystem::path(path).filename().string(); }

// Reads a PNG a run of pixels at a time: size(width, height) first, which may refuse it with a
// reason, then pixel(index, rgba) for each pixel, index y * width + x. Throws ToolError naming the
// file and what is wrong with it.
void ReadPngInRuns(const std::string& path, const std::function<std::string(uint32_t, uint32_t)>& size,
                   const std::function<void(size_t, const uint8_t*)>& pixel) {
  std::error_code error;
  if (!std::filesystem::exists(path, error)) throw ToolError("can't open " + path + ": no such file");
  uint32_t width = 0;
  std::string refused, reason;
  const int status = ReadPngRuns(
      path,
      [&](uint32_t w, uint32_t h, std::string*) {
        width = w;
        refused = size(w, h);
        return refused.empty() ? 0 : 1;
      },
      [&](uint32_t x, uint32_t y, uint32_t step, uint32_t count, const uint8_t* rgba) {
        const size_t row = static_cast<size_t>(y) * width;
        for (uint32_t k = 0; k < count; ++k) pixel(row + x + size_t{k} * step, rgba + size_t{4} * k);
      },
      &reason);
  if (!refused.empty()) throw ToolError(refused);
  if (status != 0) throw ToolError(path + " is not a readable PNG: " + reason);
}

// ---- Pictures of circuits ---------------------------------------------------------------------

constexpr Rgb kPreviewLine = Rgb8(255, 221, 0);
constexpr Rgb kPreviewStart = Rgb8(255, 255, 255);
constexpr Rgb kPreviewAhead = Rgb8(0, 230, 255);
constexpr Rgb kPreviewRecord = Rgb8(255, 255, 255);
constexpr Rgb kPreviewLap = Rgb8(255, 40, 40);
constexpr Rgb kPreviewOutline = Rgb8(0, 0, 0);

Rgb RgbOf(uint16_t pixel) {
  uint8_t r, g, b;
  ExpandPixel(pixel, true, &r, &g, &b);
  return Rgb8(r, g, b);
}

// A circuit preview, enlarged by a whole factor, with optional overlays drawn at that size.
class Preview {
 public:
  Preview(const CircuitData& c, int scale) : circuit_(c), scale_(scale), canvas_(c.width * scale, c.height * scale) {
    for (int y = 0; y < canvas_.height(); ++y) {
      for (int x = 0; x < canvas_.width(); ++x) {
        canvas_.Set(x, y, RgbOf(c.pixels[static_cast<size_t>(y / scale) * c.width + x / scale]));
      }
    }
  }

  Point At(GridPoint p) const { return Point{(p.x + 0.5f) * scale_, (p.y + 0.5f) * scale_}; }

  void Outline(const TrackGrid& track) {
    if (track.outlineGrid == nullptr) return;
    for (int y = 0; y < circuit_.height; ++y) {
      for (int x = 0; x < circuit_.width; ++x) {
        if (track.outlineGrid[static_cast<size_t>(y) * circuit_.width + x] != 1) continue;
        for (int sy = 0; sy < scale_; ++sy) {
          for (int sx = 0; sx < scale_; ++sx) canvas_.Set(x * scale_ + sx, y * scale_ + sy, kPreviewOutline);
        }
      }
    }
  }

  void Line() {
    const float w = std::max(1.0f, scale_ * 0.8f);
    canvas_.StrokeLine(At(circuit_.lineA), At(circuit_.lineB), w, kPreviewLine);
    for (GridPoint end : {circuit_.lineA, circuit_.lineB}) canvas_.FillCircle(At(end), 2.0f * w, kPreviewLine);
    // The start point with a car's 10 x 10 square around it, and the ahead point as a cross.
    const Point s = At(circuit_.start);
    const float half = 5.0f * scale_;
    canvas_.StrokeRoundRect(s.x - half, s.y - half, s.x + half, s.y + half, 0, w, kPreviewStart);
    canvas_.FillCircle(s, w, kPreviewStart);
    const Point a = At(circuit_.ahead);
    const float arm = 3.0f * std::max(1, scale_);
    canvas_.StrokeLine({a.x - arm, a.y - arm}, {a.x + arm, a.y + arm}, w, kPreviewAhead);
    canvas_.StrokeLine({a.x - arm, a.y + arm}, {a.x + arm, a.y - arm}, w, kPreviewAhead);
  }

  void Trail(const std::vector<GridPoint>& points, Rgb colour, float alpha) {
    const float w = std::max(1.0f, scale_ * 0.6f);
    for (size_t i = 0; i + 1 < points.size(); ++i) {
      canvas_.StrokeLine(At(points[i]), At(points[i + 1]), w, colour, alpha);
    }
    for (GridPoint p : points) canvas_.FillCircle(At(p), 1.5f * w, colour, alpha);
  }

  void Write(const std::string& path) const {
    WritePngFile(path, canvas_.ToPixels(false), static_cast<uint32_t>(canvas_.width()),
                 static_cast<uint32_t>(canvas_.height()));
  }

 private:
  const CircuitData& circuit_;
  int scale_;
  Canvas canvas_;
};

// Loads the circuit with the game's own loader, as a race would; the name mapping gives the loader
// exactly this host path, a "\" in it included.
std::unique_ptr<GameState> LoadForRace(const std::string& path) {
  auto state = std::make_unique<GameState>();
  if (LoadCircuit(state->track, DevicePath(path)) != 0) {
    throw ToolError("the game can't load " + path);
  }
  return state;
}

// The brain's model of the loaded circuit, refusing one whose start leads nowhere.
std::unique_ptr<TrackModel> ModelFor(const GameState& state, const std::string& name) {
  auto model = std::make_unique<TrackModel>();
  if (!model->Build(state.track)) throw ToolError(name + ": out of memory for the lap search");
  if (model->RoundsBound(CarState{state.track.startPoint, {}, 0}) == TrackModel::kFar) {
    throw ToolError(name + ": no way along the track leads from the start point round to the start/finish line");
  }
  return model;
}

// Races the lap from the standing start, one car, and returns the rounds the game counted; a lap
// the game does not count is the tool's fault, reported as such. Every move is judged and applied
// by the rules, which write nothing; with storeRecord the game's own CommitMove makes each move
// instead, so that a lap beating the stored record is saved by SaveRecord exactly as in a race.
int DriveLap(GameState& state, const std::vector<GridPoint>& moves, const std::string& name, bool storeRecord = false) {
  SetStartValues(state);
  state.playerCount = 1;
  PlayerRecord& car = state.players[0];
  for (GridPoint to : moves) {
    const GridPoint p = PredictedPoint(car);
    const bool legal = car.laps == 0 && IsWithinReach(static_cast<int16_t>(to.x - p.x),
                                                      static_cast<int16_t>(to.y - p.y), state.moveRadius);
    if (!legal || (storeRecord ? CommitMove(state, to.x, to.y) : ApplyMove(state, to, JudgeMove(state, to))) != 0) {
      throw ToolError(name + ": the lap found breaks the game's rules at " + PointText(to));
    }
    NextTurn(state);
  }
  if (car.laps != 1) throw ToolError(name + ": the lap found is not counted by the game");
  return state.round;
}

// What check and solve show of their lap: its moves (--moves) and its picture (--lap).
void ShowLap(const Arguments& a, const CircuitData& c, int scale, const std::vector<GridPoint>& moves,
             std::ostream& out) {
  if (a.Has("moves")) {
    for (GridPoint p : moves) out << PointText(p) << "\n";
  }
  if (a.Has("lap")) {
    Preview preview(c, scale);
    std::vector<GridPoint> trail{c.start};
    trail.insert(trail.end(), moves.begin(), moves.end());
    preview.Trail(trail, kPreviewLap, 0.9f);
    preview.Line();
    preview.Write(a.Value("lap"));
  }
}

// ---- Subcommands -----------------------------------------------------------------------------

// A --scale with no lap picture to scale is a mistake worth a word.
void RefuseScaleWithoutLap(const Arguments& a, const std::string& command) {
  if (a.Has("scale") && !a.Has("lap")) throw UsageError(command + ": --scale goes with --lap");
}

// Refuses, in one line, a circuit no car can race on; `what` begins the line.
void RefuseUnsound(const CircuitData& c, const std::string& what) {
  const std::vector<std::string> problems = CircuitProblems(c);
  if (problems.empty()) return;
  std::string joined;
  for (const std::string& p : problems) joined += (joined.empty() ? "" : "; ") + p;
  throw ToolError(what + ": " + joined);
}

// The colours --track-colour gives, each red, green, blue and how far a pixel may lie from them.
std::vector<std::vector<int>> TrackColours(const Arguments& a) {
  std::vector<std::vector<int>> colours;
  for (const std::string& text : a.values.at("track-colour")) {
    std::vector<int> n = Numbers("track-colour", text, 3, 4);
    if (n.size() == 3) n.push_back(24);
    for (int v : n) {
      if (v < 0 || v > 255) throw ToolError("--track-colour " + text + ": values run from 0 to 255");
    }
    colours.push_back(n);
  }
  return colours;
}

// Light pixels of the mask are track; dark or transparent ones are blocked.
void ReadMask(const std::string& maskPath, CircuitData* circuit) {
  CircuitData& c = *circuit;
  ReadPngInRuns(
      maskPath,
      [&](uint32_t width, uint32_t height) {
        if (width == c.width && height == c.height) return std::string();
        return "the mask " + maskPath + " is " + std::to_string(width) + "x" + std::to_string(height) +
               ", the picture is " + std::to_string(c.width) + "x" + std::to_string(c.height);
      },
      [&](size_t i, const uint8_t* rgba) {
        const int light = (299 * rgba[0] + 587 * rgba[1] + 114 * rgba[2]) / 1000;
        if (light >= 128 && rgba[3] >= 128) c.cells[i] = 0;
      });
}

int Make(const std::vector<std::string>& args, std::ostream& out) {
  const Arguments a = Parse("make", args, 2, {"start", "line", "ahead", "mask", "track-colour"}, {"force"});
  const std::string& picturePath = a.files[0];
  const std::string& outPath = a.files[1];
  const GridPoint start = PointOption(a, "start");
  const GridPoint ahead = PointOption(a, "ahead");
  if (!a.Has("line")) throw UsageError("make needs --line");
  const std::vector<int> line = Numbers("line", a.Value("line"), 4, 4);
  const bool byMask = a.Has("mask");
  const bool byColour = a.Has("track-colour");
  if (byMask == byColour) {
    throw UsageError("make needs either --mask or --track-colour to tell the track from the rest");
  }
  CheckOutput(outPath,
              byMask ? std::vector<std::string>{picturePath, a.Value("mask")} : std::vector<std::string>{picturePath},
              a.Has("force"));

  CircuitData c;
  c.start = start;
  c.lineA = ToPoint("line", line[0], line[1]);
  c.lineB = ToPoint("line", line[2], line[3]);
  c.ahead = ahead;
  const std::vector<std::vector<int>> colours = byColour ? TrackColours(a) : std::vector<std::vector<int>>();

  // The picture (and the mask) are read a row at a time, the pixels straight into the file's
  // bytes: making the largest circuit takes little more memory than the file it writes.
  ByteVector bytes;
  ReadPngInRuns(
      picturePath,
      [&](uint32_t width, uint32_t height) {
        if (width > kMaxCircuitSide || height > kMaxCircuitSide) {
          return picturePath + " is " + std::to_string(width) + "x" + std::to_string(height) +
                 ", larger than a circuit can be (" + std::to_string(kMaxCircuitSide) + " each way)";
        }
        c.width = static_cast<uint16_t>(width);
        c.height = static_cast<uint16_t>(height);
        bytes = EncodeCircuit(c);  // the header
        bytes.resize(static_cast<size_t>(RecordOffset(c.width, c.height)));
        c.cells.assign(static_cast<size_t>(width) * height, 1);
        return std::string();
      },
      [&](size_t i, const uint8_t* rgba) {
        PutU16(bytes.data() + kCircuitHeaderBytes + 2 * i, PixelOf(Rgb8(rgba[0], rgba[1], rgba[2])));
        // Pixels near any of the track colours are track.
        for (const std::vector<int>& k : colours) {
          if (std::abs(rgba[0] - k[0]) <= k[3] && std::abs(rgba[1] - k[1]) <= k[3] &&
              std::abs(rgba[2] - k[2]) <= k[3] && rgba[3] >= 128) {
            c.cells[i] = 0;
          }
        }
      });
  if (byMask) ReadMask(a.Value("mask"), &c);

  RefuseUnsound(c, Name(outPath) + " not written");
  std::copy(c.cells.begin(), c.cells.end(), bytes.begin() + kCircuitHeaderBytes + 2 * c.cells.size());
  WriteFileSafely(outPath, bytes);
  const size_t free = static_cast<size_t>(std::count(c.cells.begin(), c.cells.end(), 0));
  out << "wrote " << outPath << ": " << c.width << "x" << c.height << ", " << free << " track cells\n";
  return 0;
}

int Render(const std::vector<std::string>& args, std::ostream& out) {
  const Arguments a = Parse("render", args, 2, {"scale"}, {"outline", "line", "record", "force"});
  CheckOutput(a.files[1], {a.files[0]}, a.Has("force"));
  // A circuit too large to preview is refused by its header, before the whole file is read.
  const std::pair<uint32_t, uint32_t> size = HeaderSize(a.files[0]);
  const int scale = ScaleOption(a, size.first, size.second);
  const CircuitData c = ReadCircuitFile(a.files[0]);
  Preview preview(c, scale);
  if (a.Has("outline")) preview.Outline(LoadForRace(a.files[0])->track);
  if (a.Has("record") && c.record.size() >= kMinRecordPoints) preview.Trail(c.record, kPreviewRecord, 0.85f);
  if (a.Has("line")) preview.Line();
  preview.Write(a.files[1]);
  out << "wrote " << a.files[1] << "\n";
  return 0;
}

int Info(const std::vector<std::string>& args, std::ostream& out) {
  const Arguments a = Parse("info", args, 1, {}, {});
  const CircuitData c = ReadCircuitFile(a.files[0]);
  const size_t free = static_cast<size_t>(std::count(c.cells.begin(), c.cells.end(), 0));
  out << "circuit:           " << Name(a.files[0]) << "\n"
      << "size:              " << c.width << "x" << c.height << "\n"
      << "start point:       " << PointText(c.start) << "\n"
      << "start/finish line: " << PointText(c.lineA) << " to " << PointText(c.lineB) << "\n"
      << "ahead point:       " << PointText(c.ahead) << "\n"
      << "track:             " << free << " free cells (" << std::fixed << std::setprecision(1)
      << 100.0 * free / c.cells.size() << "%)\n";
  out << "record:            ";
  if (!c.recordProblem.empty()) {
    out << "unusable, " << c.recordProblem << "\n";
  } else if (!c.hasRecordSection || c.record.empty()) {
    out << "none\n";
  } else if (c.record.size() < kMinRecordPoints) {
    out << "none (" << c.record.size() << (c.record.size() == 1 ? " point" : " points") << ", too few for a lap)\n";
  } else {
    out << c.record.size() << " points, " << static_cast<uint16_t>(c.record.size() - 2) << " rounds\n";
  }
  return 0;
}

// The widths check's quick searches try in turn, until one finds a lap: the narrowest finds one on
// every built-in circuit, the wider ones keep more slow cars for corners that catch them all.
constexpr int kCheckWidths[] = {32, 128, 512, 2048};

int Check(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool showProgress) {
  const Arguments a = Parse("check", args, 1, {"lap", "scale"}, {"moves", "force"});
  RefuseScaleWithoutLap(a, "check");
  const std::string& path = a.files[0];
  const std::string name = Name(path);
  if (a.Has("lap")) CheckOutput(a.Value("lap"), {path}, a.Has("force"));
  const CircuitData c = ReadCircuitFile(path);
  const int lapScale = a.Has("lap") ? ScaleOption(a, c.width, c.height) : 1;
  RefuseUnsound(c, name);

  std::unique_ptr<GameState> state = LoadForRace(path);
  const std::unique_ptr<TrackModel> model = ModelFor(*state, name);
  const CarState start{c.start, {}, 0};
  Foresight foresight(*model);
  LapPlan lap;
  for (int width : kCheckWidths) {
    BeamSearch beam(*model, &foresight, width);
    beam.Start(start);
    beam.Run([&] {
      if (showProgress) {
        err << "\rchecking " << name << ": round " << beam.round() + 1 << ", " << width << " cars a round "
            << std::flush;
      }
      return false;
    });
    lap = beam.Lap();
    if (lap.found) break;
  }
  if (showProgress) err << "\r" << std::string(70, ' ') << "\r" << std::flush;
  if (!lap.found) throw ToolError(name + ": no lap found: every car the search sent off ran into a dead end");

  // The lap is driven again by the game's rules, one player, as a race would run it.
  const int counted = DriveLap(*state, lap.moves, name);
  if (counted != static_cast<int>(lap.rounds)) {
    throw ToolError(name + ": the game counts " + std::to_string(counted) + " rounds for a lap of " +
                    std::to_string(lap.rounds));
  }
  out << name << ": a lap takes " << lap.rounds << " rounds (the shortest way round is "
      << model->StepsToGo(1, c.start.x, c.start.y) << " cell steps)\n";
  ShowLap(a, c, lapScale, lap.moves, out);
  return 0;
}

// ---- solve -------------------------------------------------------------------------------------

// Set by Ctrl-C while a solve runs: the search stops and the best lap so far is reported.
std::atomic<bool> interrupted{false};

extern "C" void StopSolving(int) { interrupted = true; }

// Ctrl-C stops the search rather than the tool, for as long as this lives.
class InterruptStopsSearch {
 public:
  InterruptStopsSearch() {
    interrupted = false;
    previous_ = std::signal(SIGINT, StopSolving);
  }
  ~InterruptStopsSearch() { std::signal(SIGINT, previous_ == SIG_ERR ? SIG_DFL : previous_); }
  InterruptStopsSearch(const InterruptStopsSearch&) = delete;
  InterruptStopsSearch& operator=(const InterruptStopsSearch&) = delete;

 private:
  void (*previous_)(int);
};

constexpr double kDefaultSolveSeconds = 60;
constexpr double kMaxSolveSeconds = 1e6;
// The exact search's share of the time; the rest, when it proves nothing, goes to wider quick
// searches for a better lap to report.
constexpr double kExactShare = 0.75;
constexpr double kMaxSolveGigabytes = 65536;
constexpr int kMaxSolveThreads = 256;

// A positive decimal number of an option, at most `most`: digits with an optional fraction and
// exponent, nothing else (no sign, no hexadecimal, no infinity).
double DecimalOption(const Arguments& a, const std::string& option, double most, const std::string& unit) {
  const std::string text = a.Value(option);
  size_t i = 0, digits = 0;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++digits;
  }
  if (digits > 0 && i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    const size_t exponent = j;
    while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j]))) ++j;
    if (j > exponent) i = j;
  }
  const std::string wanted = "--" + option + " " + text + ": give a number of " + unit + " above 0 and at most " +
                             std::to_string(static_cast<long long>(most));
  if (digits == 0 || i != text.size()) throw ToolError(wanted);
  const double value = std::strtod(text.c_str(), nullptr);
  if (!(value > 0) || value > most) throw ToolError(wanted);
  return value;
}

// Refuses, before any search, an output file whose folder is missing or takes no new file: a
// file is made there and removed again.
void CheckOutputFolder(const std::string& output) {
  std::filesystem::path folder = std::filesystem::path(output).parent_path();
  if (folder.empty()) folder = ".";
  std::error_code error;
  if (!std::filesystem::is_directory(folder, error)) {
    const bool there = std::filesystem::exists(folder, error);
    throw ToolError("can't write " + output + ": " + folder.string() + (there ? " is not a folder" : " is missing"));
  }
  std::string probe = (folder / ".apexcircuit-XXXXXX").string();
  const int fd = mkstemp(probe.data());
  if (fd < 0) throw ToolError("can't write " + output + ": the folder " + folder.string() + " takes no new files");
  close(fd);
  unlink(probe.c_str());
}

// The rounds of the record a circuit file holds; 0 for none.
uint16_t StoredRounds(const std::string& hostPath) {
  const CircuitData c = ReadCircuitFile(hostPath);
  if (!c.recordProblem.empty() || c.record.size() < kMinRecordPoints) return 0;
  return static_cast<uint16_t>(c.record.size() - 2);
}

// Where a record of the circuit would go, worked out before the search so that a file that
// can't take it is refused at once. A shipped circuit of a program folder the user can't write
// keeps its records in the user's private copy, as a race does: the record to beat is the
// copy's, or the shipped file's when the copy is yet to be made from it.
struct RecordTarget {
  std::u16string load;  // the file the race loads: the private copy when there is one
  std::string compare;  // the host file whose record a new lap must beat
  std::string written;  // the host file the record goes into
};

RecordTarget WhereRecordGoes(const std::string& path) {
  RecordTarget target;
  const std::u16string device = DevicePath(path);
  target.load = CircuitToLoad(device);
  target.compare = HostPath(target.load);
  const std::u16string copy = PrivateCopyOf(device, GetProgramFolder(), GetWritableFolder());
  if (!copy.empty() && target.load == device) {
    // The copy is made when the record is stored; one that is there but can't be read is the
    // user's to mend, and the game would store nothing.
    target.written = HostPath(copy);
    if (DeviceFileExists(copy)) throw ToolError("can't read " + target.written + ": a record can't be stored in it");
    CheckOutputFolder(target.written);
  } else {
    target.written = target.compare;
    if (IsReadOnlyHostFile(target.written)) {
      throw ToolError(target.written + " is read-only: a record can't be stored in it");
    }
  }
  return target;
}

// Half the machine's memory, the exact search's bound unless --memory says otherwise.
double DefaultSolveGigabytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || pageSize <= 0) return 1;
  return static_cast<double>(pages) * static_cast<double>(pageSize) / 2 / (1 << 30);
}

// The --threads option, or a thread for each core.
int ThreadsOption(const Arguments& a) {
  int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  if (a.Has("threads")) {
    long long n = 0;
    if (ReadWholeNumber(a.Value("threads"), 1, kMaxSolveThreads, &n) != WholeNumber::kRead) {
      throw ToolError("--threads " + a.Value("threads") + ": give a whole number from 1 to " +
                      std::to_string(kMaxSolveThreads));
    }
    threads = static_cast<int>(n);
  }
  return threads;
}

// The best lap found within the time and memory given, reporting progress on err when asked; the
// exact search's lower bound in *bound. Refused when no lap is found.
LapPlan SearchLap(const TrackModel& model, const CarState& start, const std::string& name, double seconds,
                  double gigabytes, int threads, bool showProgress, std::ostream& err, uint32_t* bound) {
  // A quick search first, so that a lap is known however soon the exact search must stop; then
  // the exact search, round by round, which ends with the optimum or with a proven bound.
  using Clock = std::chrono::steady_clock;
  const Clock::time_point began = Clock::now();
  auto elapsed = [&] { return std::chrono::duration<double>(Clock::now() - began).count(); };
  if (showProgress) err << "\rsolving " << name << ": quick search " << std::flush;
  LapPlan best = QuickLap(model, start, 32, [&] { return interrupted.load(); });
  ExactLimits limits;
  limits.seconds = std::max(0.0, seconds * kExactShare - elapsed());
  limits.memoryBytes = static_cast<size_t>(std::min(gigabytes * (1 << 30), 1e18));
  limits.threads = threads;
  limits.stop = [&] { return interrupted.load(); };
  if (showProgress) {
    limits.progress = [&](const ExactProgress& p) {
      err << "\rsolving " << name << ": round " << p.layer << ", " << p.states << " states, " << p.bytes / (1 << 20)
          << " MB, " << static_cast<int>(elapsed()) << " s " << std::flush;
    };
  }
  ExactLap exact;
  exact.plan.lowerBound = 1;
  exact.end = ExactEnd::kStopped;
  if (!interrupted) exact = SolveExact(model, start, limits);
  if (exact.plan.found) best = exact.plan;
  // Without a proof, what is left of the time goes to wider quick searches for a better lap.
  for (int width = 128; !exact.plan.found && width <= 2048 && !interrupted && elapsed() < seconds; width *= 4) {
    if (showProgress) err << "\rsolving " << name << ": quick search, " << width << " cars a round " << std::flush;
    const LapPlan wider = QuickLap(model, start, width, [&] { return interrupted || elapsed() > seconds; });
    if (wider.found && (!best.found || wider.rounds < best.rounds)) best = wider;
  }
  *bound = exact.plan.lowerBound;
  if (showProgress) err << "\r" << std::string(78, ' ') << "\r" << std::flush;
  if (exact.end == ExactEnd::kNoLap) throw ToolError(name + ": no lap can be driven on this circuit");
  if (!best.found) {
    std::ostringstream limit;
    limit << seconds;
    const std::string why = interrupted                      ? "stopped before a lap was found"
                            : exact.end == ExactEnd::kMemory ? "no lap found before memory ran out"
                                                             : "no lap found in " + limit.str() + " seconds";
    throw ToolError(name + ": " + why +
                    (*bound > 1 ? "; no lap can take fewer than " + std::to_string(*bound) + " rounds" : ""));
  }
  return best;
}

// Offers the lap as the circuit's record, in the file the record goes into, and says what stands.
void OfferRecord(const RecordTarget& record, const LapPlan& best, const std::string& name, std::ostream& out) {
  // The record to beat is the one in the file the record would go into, read now; the lap is
  // raced once more from that file, so that the game's commit stores it through SaveRecord
  // exactly as a race would. What the file holds afterwards is what is reported.
  const uint16_t stored = StoredRounds(record.compare);
  if (stored != 0 && stored <= best.rounds) {
    out << "the stored record of " << stored << " rounds stands\n";
  } else {
    auto race = std::make_unique<GameState>();
    if (LoadCircuit(race->track, record.load) != 0) throw ToolError("the game can't load " + HostPath(record.load));
    DriveLap(*race, best.moves, name, true);
    const uint16_t now = StoredRounds(record.written);
    if (now != 0 && now < best.rounds) {
      out << "the stored record of " << now << " rounds stands\n";
    } else if (now != best.rounds) {
      throw ToolError(name + ": the record could not be written into " + record.written);
    } else {
      out << "stored as the record" << (stored != 0 ? " (was " + std::to_string(stored) + " rounds)" : "") << "\n";
    }
  }
}

int Solve(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool showProgress) {
  const Arguments a =
      Parse("solve", args, 1, {"seconds", "lap", "scale", "threads", "memory"}, {"moves", "write-record", "force"});
  RefuseScaleWithoutLap(a, "solve");
  const std::string& path = a.files[0];
  const std::string name = Name(path);
  const double seconds =
      a.Has("seconds") ? DecimalOption(a, "seconds", kMaxSolveSeconds, "seconds") : kDefaultSolveSeconds;
  const double gigabytes =
      a.Has("memory") ? DecimalOption(a, "memory", kMaxSolveGigabytes, "gigabytes") : DefaultSolveGigabytes();
  const int threads = ThreadsOption(a);
  // Ctrl-C from here on stops the search and reports what it has, even while the circuit loads.
  InterruptStopsSearch interrupt;
  // Every output is checked before the search, which may take long: a lap that can't be
  // written helps nobody.
  if (a.Has("lap")) {
    CheckOutput(a.Value("lap"), {path}, a.Has("force"));
    CheckOutputFolder(a.Value("lap"));
  }
  const CircuitData c = ReadCircuitFile(path);
  RefuseUnsound(c, name);
  const int scale = a.Has("lap") ? ScaleOption(a, c.width, c.height) : 1;
  RecordTarget record;
  if (a.Has("write-record")) record = WhereRecordGoes(path);

  std::unique_ptr<GameState> state = LoadForRace(path);
  const std::unique_ptr<TrackModel> model = ModelFor(*state, name);
  const CarState start{state->track.startPoint, {}, 0};

  uint32_t bound = 0;
  const LapPlan best = SearchLap(*model, start, name, seconds, gigabytes, threads, showProgress, err, &bound);
  const int counted = DriveLap(*state, best.moves, name);
  if (counted != static_cast<int>(best.rounds)) {
    throw ToolError(name + ": the game counts " + std::to_string(counted) + " rounds for a lap of " +
                    std::to_string(best.rounds));
  }
  out << name << ": best lap " << best.rounds << " rounds, ";
  if (best.proven) {
    out << "proven optimal\n";
  } else {
    out << "no lap can take fewer than " << std::min(bound, best.rounds) << "\n";
  }
  ShowLap(a, c, scale, best.moves, out);
  if (a.Has("write-record")) OfferRecord(record, best, name, out);
  return 0;
}

// Builds the circuit's lap table into the cache the game reads it from, or into the file given.
int Table(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool showProgress) {
  const Arguments a = Parse("table", args, 1, {"out", "threads"}, {"force"});
  const std::string& path = a.files[0];
  const std::string name = Name(path);
  const int threads = ThreadsOption(a);
  InterruptStopsSearch interrupt;
  const CircuitData c = ReadCircuitFile(path);
  RefuseUnsound(c, name);
  std::unique_ptr<GameState> state = LoadForRace(path);
  const std::unique_ptr<TrackModel> model = ModelFor(*state, name);
  std::string written;
  if (a.Has("out")) {
    written = a.Value("out");
    CheckOutput(written, {path}, a.Has("force"));
  } else {
    const std::u16string user = UserDataFolder();
    if (user.empty() || MakeFolders(user + u"\\Cache") != 0) throw ToolError("no per-user folder to keep the table in");
    written = HostPath(user + u"\\Cache") + "/" + LapTable::FileName(*model);
  }
  CheckOutputFolder(written);
  using Clock = std::chrono::steady_clock;
  const Clock::time_point began = Clock::now();
  LapTable table;
  table.Begin(*model);
  const auto elapsed = [&] { return static_cast<int>(std::chrono::duration<double>(Clock::now() - began).count()); };
  std::function<void(int, const ExactProgress&)> progress;
  if (showProgress) {
    progress = [&](int lap, const ExactProgress& p) {
      err << "\r" << std::string(78, ' ') << "\rbuilding the lap table of " << name << ": ";
      if (lap < 0) {
        err << "the stop map, ";
      } else {
        err << (lap == 0 ? "the first lap" : "flying lap " + std::to_string(lap)) << ", round " << p.layer << ", "
            << p.states << " states, " << p.bytes / (1 << 20) << " MB, ";
      }
      err << elapsed() << " s " << std::flush;
    };
  }
  const bool built = table.BuildAll(threads, [&] { return interrupted.load(); }, progress);
  if (showProgress) err << "\r" << std::string(78, ' ') << "\r" << std::flush;
  if (!built) {
    throw ToolError(name + (interrupted ? ": stopped" : ": its lap table doesn't fit in 256 MB, or memory ran out"));
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
  if (!table.Save(written)) throw ToolError("can't write " + written);
  std::ostringstream line;
  line << std::fixed << std::setprecision(1) << name << ": lap table of " << table.states() << " states, "
       << static_cast<double>(table.bytes()) / (1 << 20) << " MB, built in " << seconds << " s; the fastest lap "
       << table.Rounds(CarState{state->track.startPoint, {}, 0}) << " rounds\n";
  out << line.str() << "wrote " << written << "\n";
  return 0;
}

int ClearRecord(const std::vector<std::string>& args, std::ostream& out) {
  const Arguments a = Parse("clear-record", args, 1, {}, {"force"});
  const std::string& path = a.files[0];
  CircuitData c = ReadCircuitFile(path);
  const ByteVector bytes = ReadWholeFile(path);
  const ByteVector cleared = [&] {
    CircuitData bare = c;
    bare.hasRecordSection = false;
    bare.record.clear();
    return EncodeCircuit(bare);
  }();
  if (bytes.size() == cleared.size()) {
    out << Name(path) << " has no record\n";
    return 0;
  }
  if (!a.Has("force") && IsReadOnlyHostFile(path)) {
    throw ToolError(path + " is read-only; --force clears its record all the same");
  }
  WriteFileSafely(path, cleared);
  if (c.record.size() < kMinRecordPoints) {
    out << "cleared the record section of " << Name(path) << "\n";
  } else {
    out << "cleared the record of " << Name(path) << " (" << static_cast<uint16_t>(c.record.size() - 2) << " rounds)\n";
  }
  return 0;
}

// What a data picture of the game must measure, by file name; empty when it fits or the name
// is not one of them.
std::string DataPictureMisfit(const std::string& name, uint32_t width, uint32_t height) {
  static const std::map<std::string, std::pair<uint32_t, uint32_t>> sizes = {{"MenuBar.pic", {240, 40}},
                                                                             {"GoButton.pic", {20, 40}},
                                                                             {"Menu.pic", {140, 600}},
                                                                             {"SubMenu_NPlayer.pic", {70, 400}},
                                                                             {"GameData.dat", {240, 320}}};
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  if (name == "Numbers-CourierNew14.pic") {
    if (width % 10 != 0 || height > 11) {
      return "the digit strip must be ten glyphs of equal width and at most 11 high; the PNG is " + size;
    }
    return "";
  }
  auto it = sizes.find(name);
  if (it == sizes.end() || (it->second.first == width && it->second.second == height)) return "";
  return name + " must be " + std::to_string(it->second.first) + "x" + std::to_string(it->second.second) +
         "; the PNG is " + size;
}

int ToPng(const std::vector<std::string>& args, std::ostream& out) {
  const Arguments a = Parse("topng", args, 2, {"scale"}, {"picture", "screenshot", "force"});
  const std::string& path = a.files[0];
  CheckOutput(a.files[1], {path}, a.Has("force"));
  const ByteVector bytes = ReadWholeFile(path);
  const unsigned long long size = bytes.size();
  // A picture file has 16-bit sizes and may have bytes after its pixels; a screenshot has 32-bit
  // sizes and none. The header that explains the file's length tells them apart.
  const bool picture = size >= 4 && 4 + 2ULL * ReadU16(bytes.data()) * ReadU16(bytes.data() + 2) <= size;
  const bool pictureExact = picture && 4 + 2ULL * ReadU16(bytes.data()) * ReadU16(bytes.data() + 2) == size;
  const bool screenshot = size >= 8 && 8 + 2ULL * ReadU32(bytes.data()) * ReadU32(bytes.data() + 4) == size &&
                          ReadU32(bytes.data()) <= 0xFFFF && ReadU32(bytes.data() + 4) <= 0xFFFF;
  bool asShot;
  if (a.Has("picture") && a.Has("screenshot")) throw UsageError("topng: give --picture or --screenshot, not both");
  if (a.Has("screenshot")) {
    if (!screenshot)
      throw ToolError(path + " is not a screenshot: its " + std::to_string(size) + " bytes don't match its header");
    asShot = true;
  } else if (a.Has("picture")) {
    if (!picture)
      throw ToolError(path + " is not a picture file: its " + std::to_string(size) +
                      " bytes are fewer than its header needs");
    asShot = false;
  } else if (pictureExact || (picture && !screenshot)) {
    asShot = false;
  } else if (screenshot) {
    asShot = true;
  } else {
    throw ToolError(path + " is neither a picture file nor a screenshot: its " + std::to_string(size) +
                    " bytes don't match its header");
  }
  const uint32_t width = asShot ? ReadU32(bytes.data()) : ReadU16(bytes.data());
  const uint32_t height = asShot ? ReadU32(bytes.data() + 4) : ReadU16(bytes.data() + 2);
  if (width == 0 || height == 0) throw ToolError(path + " holds an empty picture");
  const size_t offset = asShot ? 8 : 4;
  const int scale = ScaleOption(a, width, height);
  std::vector<uint16_t> pixels(static_cast<size_t>(width) * height * scale * scale);
  for (size_t y = 0; y < static_cast<size_t>(height) * scale; ++y) {
    for (size_t x = 0; x < static_cast<size_t>(width) * scale; ++x) {
      pixels[y * width * scale + x] = ReadU16(bytes.data() + offset + 2 * ((y / scale) * width + x / scale));
    }
  }
  WritePngFile(a.files[1], pixels, width * scale, height * scale);
  out << "wrote " << a.files[1] << ": " << width << "x" << height << (asShot ? " screenshot" : " picture") << "\n";
  return 0;
}

int FromPng(const std::vector<std::string>& args, std::ostream& out) {
  const Arguments a = Parse("frompng", args, 2, {}, {"screenshot", "force"});
  const std::string& outPath = a.files[1];
  CheckOutput(outPath, {a.files[0]}, a.Has("force"));
  std::vector<uint8_t> alpha;
  const RgbImage image = ReadPngFile(a.files[0], &alpha);
  const std::string name = Name(outPath);
  const bool asShot = a.Has("screenshot") || name == "ScrSave.pic";
  if (!asShot && (image.width > 0xFFFF || image.height > 0xFFFF)) {
    throw ToolError(a.files[0] + " is " + std::to_string(image.width) + "x" + std::to_string(image.height) +
                    ", larger than a picture file can hold (65535 each way)");
  }
  const std::string misfit = DataPictureMisfit(name, image.width, image.height);
  if (!misfit.empty()) throw ToolError(misfit);
  // Transparent pixels become the key colour, the game's only kind of transparency.
  const uint16_t key = PixelOf(Rgb{1, 0, 1});
  std::vector<uint16_t> pixels(static_cast<size_t>(image.width) * image.height);
  for (size_t i = 0; i < pixels.size(); ++i) {
    pixels[i] = alpha[i] < 128 ? key : PixelOf(Rgb8(image.rgb[3 * i], image.rgb[3 * i + 1], image.rgb[3 * i + 2]));
  }
  WriteFileSafely(outPath, asShot ? EncodeScreenshot(image.width, image.height, pixels.data())
                                  : EncodePicture(image.width, image.height, pixels.data()));
  out << "wrote " << outPath << ": " << image.width << "x" << image.height << (asShot ? " screenshot" : " picture")
      << "\n";
  return 0;
}

}  // namespace

std::string CircuitToolUsage() {
  return "usage: apexcircuit COMMAND ...\n"
         "  make PICTURE.png OUT.cct --start X,Y --line AX,AY,BX,BY --ahead X,Y\n"
         "       (--mask MASK.png | --track-colour R,G,B[,TOLERANCE] ...)\n"
         "      a circuit from a picture; the mask's light pixels (or the picture's pixels near\n"
         "      a track colour) are track, the rest is blocked\n"
         "  render CIRCUIT.cct OUT.png [--outline] [--line] [--record] [--scale N]\n"
         "      a PNG preview, with the outline, the start/finish line and points, the record\n"
         "  info CIRCUIT.cct\n"
         "      size, points and record\n"
         "  check CIRCUIT.cct [--lap OUT.png [--scale N]] [--moves]\n"
         "      validates the circuit and finds a lap under the game's rules\n"
         "  solve CIRCUIT.cct [--seconds S] [--threads N] [--memory GB] [--moves]\n"
         "        [--lap OUT.png [--scale N]] [--write-record]\n"
         "      the fastest lap, proven optimal, or when S seconds (60 unless given) or GB of\n"
         "      memory (half the machine's) run out first, or Ctrl-C stops it, the best lap found\n"
         "      and the fewest rounds any lap could take; N threads (all the cores unless given);\n"
         "      --write-record stores it as the circuit's record when it beats the stored one\n"
         "  table CIRCUIT.cct [--out FILE] [--threads N]\n"
         "      the circuit's lap table, with which the game's pro drives the fastest laps, into\n"
         "      the per-user cache where the game reads it (or into FILE)\n"
         "  clear-record CIRCUIT.cct\n"
         "      removes the record lap\n"
         "  topng FILE OUT.png [--picture | --screenshot] [--scale N]\n"
         "      a picture file (.pic, GameData.dat) or a screenshot (ScrSave.pic) as PNG\n"
         "  frompng IN.png OUT [--screenshot]\n"
         "      a PNG as a picture file (or a screenshot); data pictures must have their size\n" +
         ReplayToolUsage() +
         "Every command that writes a file refuses one that is its own input, and one made\n"
         "read-only unless --force is given. Files are written whole or not at all.\n";
}

int RunCircuitTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool showProgress) {
  if (args.empty() || args[0] == "help" || args[0] == "--help") {
    (args.empty() ? err : out) << CircuitToolUsage();
    return args.empty() ? 2 : 0;
  }
  const std::string& command = args[0];
  if (command == "replay") return RunReplayTool(args, out, err);
  try {
    if (command == "make") return Make(args, out);
    if (command == "render") return Render(args, out);
    if (command == "info") return Info(args, out);
    if (command == "check") return Check(args, out, err, showProgress);
    if (command == "solve") return Solve(args, out, err, showProgress);
    if (command == "clear-record") return ClearRecord(args, out);
    if (command == "table") return Table(args, out, err, showProgress);
    if (command == "topng") return ToPng(args, out);
    if (command == "frompng") return FromPng(args, out);
    throw UsageError("no command called '" + command + "'");
  } catch (const UsageError& e) {
    err << "apexcircuit: " << e.what() << " (apexcircuit help shows the usage)\n";
    return 2;
  } catch (const ToolError& e) {
    err << "apexcircuit: " << e.what() << "\n";
    return 1;
  } catch (const std::bad_alloc&) {
    err << "apexcircuit: out of memory\n";
    return 1;
  }
}
