// The subcommands of apexcircuit.
#include "tools/circuit_tool.h"
#include "tools/replay_tool.h"

#include <algorithm>
#include <atomic>
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
#include <utility>

#include "brain/solver.h"
#include "brain/track_model.h"
#include "data/circuit.h"
#include "rules/turn.h"
#include "gfx/picture.h"
#include "platform/byte_order.h"
#include "platform/files.h"
#include "rules/commit.h"
#include "rules/move.h"
#include "rules/state.h"
#include "tools/canvas.h"
#include "tools/circuit_data.h"
#include "tools/lap_search.h"
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
        if (i + 1 >= args.size()) throw UsageError(command + ": --" + name + " needs a value");
        parsed.values[name].push_back(args[++i]);
      } else if (flags.count(name) != 0) {
        parsed.flags.insert(name);
      } else {
        throw UsageError(command + ": unknown option " + a);
      }
    } else {
      parsed.files.push_back(a);
    }
  }
  if (parsed.files.size() != fileCount) {
    throw UsageError(command + " takes " + std::to_string(fileCount) + " file" +
                     (fileCount == 1 ? "" : "s") + ", not " + std::to_string(parsed.files.size()));
  }
  return parsed;
}

std::vector<int> Numbers(const std::string& option, const std::string& text, size_t minCount,
                         size_t maxCount) {
  std::vector<int> numbers;
  size_t from = 0;
  for (;;) {
    const size_t comma = text.find(',', from);
    const std::string part = text.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
    long long value = 0;
    const WholeNumber read = ReadWholeNumber(part, INT32_MIN, INT32_MAX, &value);
    if (read != WholeNumber::kRead) {
      throw ToolError("--" + option + " " + text + ": " +
                      (part.empty() ? std::string("a number is missing")
                                    : "'" + part + (read == WholeNumber::kOutOfRange ? "' is out of range"
                                                                                      : "' is not a whole number")));
    }
    numbers.push_back(static_cast<int>(value));
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  if (numbers.size() < minCount || numbers.size() > maxCount) {
    const std::string wanted = minCount == maxCount ? std::to_string(minCount)
                                                    : std::to_string(minCount) + " or " + std::to_string(maxCount);
    throw ToolError("--" + option + " " + text + ": needs " + wanted + " numbers separated by commas");
  }
  return numbers;
}

GridPoint ToPoint(const std::string& option, int x, int y) {
  if (x < INT16_MIN || x > INT16_MAX || y < INT16_MIN || y > INT16_MAX) {
    throw ToolError("--" + option + ": " + std::to_string(x) + "," + std::to_string(y) +
                    " is beyond any circuit");
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
        for (uint32_t k = 0; k < count; ++k) pixel(row + x + k * step, rgba + 4 * k);
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
  Preview(const CircuitData& c, int scale)
      : circuit_(c), scale_(scale), canvas_(c.width * scale, c.height * scale) {
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
// exactly this host path, a "\" in it included. The path is then forgotten, so that a lap counted
// while checking can never write a record into the file.
std::unique_ptr<GameState> LoadForRace(const std::string& path) {
  auto state = std::make_unique<GameState>();
  if (LoadCircuit(state->track, DevicePath(path)) != 0) {
    throw ToolError("the game can't load " + path);
  }
  state->track.path.clear();
  return state;
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

int Make(const std::vector<std::string>& args, std::ostream& out) {
  const Arguments a =
      Parse("make", args, 2, {"start", "line", "ahead", "mask", "track-colour"}, {"force"});
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
  CheckOutput(outPath, byMask ? std::vector<std::string>{picturePath, a.Value("mask")}
                              : std::vector<std::string>{picturePath},
              a.Has("force"));

  CircuitData c;
  c.start = start;
  c.lineA = ToPoint("line", line[0], line[1]);
  c.lineB = ToPoint("line", line[2], line[3]);
  c.ahead = ahead;
  std::vector<std::vector<int>> colours;
  if (byColour) {
    for (const std::string& text : a.values.at("track-colour")) {
      std::vector<int> n = Numbers("track-colour", text, 3, 4);
      if (n.size() == 3) n.push_back(24);
      for (int v : n) {
        if (v < 0 || v > 255) throw ToolError("--track-colour " + text + ": values run from 0 to 255");
      }
      colours.push_back(n);
    }
  }

  // The picture (and the mask) are read a row at a time, the pixels straight into the file's
  // bytes: making the largest circuit takes little more memory than the file it writes.
  ByteVector bytes;
  ReadPngInRuns(picturePath, [&](uint32_t width, uint32_t height) {
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
  }, [&](size_t i, const uint8_t* rgba) {
    PutU16(bytes.data() + kCircuitHeaderBytes + 2 * i, PixelOf(Rgb8(rgba[0], rgba[1], rgba[2])));
    // Pixels near any of the track colours are track.
    for (const std::vector<int>& k : colours) {
      if (std::abs(rgba[0] - k[0]) <= k[3] && std::abs(rgba[1] - k[1]) <= k[3] && std::abs(rgba[2] - k[2]) <= k[3] &&
          rgba[3] >= 128) {
        c.cells[i] = 0;
      }
    }
  });
  if (byMask) {
    // Light pixels of the mask are track; dark or transparent ones are blocked.
    const std::string maskPath = a.Value("mask");
    ReadPngInRuns(maskPath, [&](uint32_t width, uint32_t height) {
      if (width == c.width && height == c.height) return std::string();
      return "the mask " + maskPath + " is " + std::to_string(width) + "x" + std::to_string(height) +
             ", the picture is " + std::to_string(c.width) + "x" + std::to_string(c.height);
    }, [&](size_t i, const uint8_t* rgba) {
      const int light = (299 * rgba[0] + 587 * rgba[1] + 114 * rgba[2]) / 1000;
      if (light >= 128 && rgba[3] >= 128) c.cells[i] = 0;
    });
  }

  RefuseUnsound(c, Name(outPath) + " not written");
  std::copy(c.cells.begin(), c.cells.end(), bytes.begin() + kCircuitHeaderBytes + 2 * c.cells.size());
  WriteFileSafely(outPath, bytes);
  const size_t free = static_cast<size_t>(std::count(c.cells.begin(), c.cells.end(), 0));
  out << "wrote " << outPath << ": " << c.width << "x" << c.height << ", " << free
      << " track cells\n";
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

int Check(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool showProgress) {
  const Arguments a = Parse("check", args, 1, {"lap", "scale"}, {"moves", "force"});
  RefuseScaleWithoutLap(a, "check");
  const std::string& path = a.files[0];
  if (a.Has("lap")) CheckOutput(a.Value("lap"), {path}, a.Has("force"));
  const CircuitData c = ReadCircuitFile(path);
  const int lapScale = a.Has("lap") ? ScaleOption(a, c.width, c.height) : 1;
  RefuseUnsound(c, Name(path));

  std::unique_ptr<GameState> state = LoadForRace(path);
  LapSearchOptions options;
  if (showProgress) {
    options.progress = [&](int round, double covered) {
      err << "\rchecking " << Name(path) << ": round " << round << ", "
          << static_cast<int>(std::min(1.0, covered) * 100) << "% of the lap covered " << std::flush;
    };
  }
  const LapSearchResult lap = FindLap(state->track, options);
  if (showProgress) err << "\r" << std::string(70, ' ') << "\r" << std::flush;
  if (!lap.found) throw ToolError(Name(path) + ": " + lap.problem);

  // The lap is driven again through the game's own commit, one player, as a race would run it.
  SetStartValues(*state);
  state->playerCount = 1;
  PlayerRecord& car = state->players[0];
  for (GridPoint to : lap.moves) {
    const GridPoint p = PredictedPoint(car);
    if (!IsWithinReach(static_cast<int16_t>(to.x - p.x), static_cast<int16_t>(to.y - p.y), state->moveRadius) ||
        CommitMove(*state, to.x, to.y) != 0 || car.waitTurns != 0) {
      throw ToolError(Name(path) + ": the lap found breaks the game's rules at " + PointText(to));
    }
    NextTurn(*state);
  }
  if (car.laps != 1) throw ToolError(Name(path) + ": the lap found is not counted by the game");

  out << Name(path) << ": a lap takes " << lap.moves.size() << " rounds (about "
      << static_cast<int>(lap.lapLength) << " pixels of track)\n";
  if (a.Has("moves")) {
    for (GridPoint p : lap.moves) out << PointText(p) << "\n";
  }
  if (a.Has("lap")) {
    Preview preview(c, lapScale);
    std::vector<GridPoint> trail{c.start};
    trail.insert(trail.end(), lap.moves.begin(), lap.moves.end());
    preview.Trail(trail, kPreviewLap, 0.9f);
    preview.Line();
    preview.Write(a.Value("lap"));
  }
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

// Drives the lap through the game's own commit, one car from the standing start, and returns the
// rounds the game counted; a lap the game does not count is the tool's fault, reported as such.
int DriveLap(GameState& state, const std::vector<GridPoint>& moves, const std::string& name) {
  SetStartValues(state);
  state.playerCount = 1;
  PlayerRecord& car = state.players[0];
  for (GridPoint to : moves) {
    const GridPoint p = PredictedPoint(car);
    if (car.laps != 0 ||
        !IsWithinReach(static_cast<int16_t>(to.x - p.x), static_cast<int16_t>(to.y - p.y), state.moveRadius) ||
        CommitMove(state, to.x, to.y) != 0) {
      throw ToolError(name + ": the lap found breaks the game's rules at " + PointText(to));
    }
    NextTurn(state);
  }
  if (car.laps != 1) throw ToolError(name + ": the lap found is not counted by the game");
  return state.round;
}

int Solve(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool showProgress) {
  const Arguments a = Parse("solve", args, 1, {"seconds", "lap", "scale"}, {"moves", "write-record", "force"});
  RefuseScaleWithoutLap(a, "solve");
  const std::string& path = a.files[0];
  const std::string name = Name(path);
  if (a.Has("lap")) CheckOutput(a.Value("lap"), {path}, a.Has("force"));
  double seconds = kDefaultSolveSeconds;
  if (a.Has("seconds")) {
    const std::string text = a.Value("seconds");
    size_t used = 0;
    try {
      seconds = std::stod(text, &used);
    } catch (const std::exception&) {
      used = 0;
    }
    if (used == 0 || used != text.size() || !(seconds > 0) || seconds > 1e6) {
      throw ToolError("--seconds " + text + ": give a number of seconds above 0");
    }
  }
  const CircuitData c = ReadCircuitFile(path);
  RefuseUnsound(c, name);
  const int scale = a.Has("lap") ? ScaleOption(a, c.width, c.height) : 1;

  std::unique_ptr<GameState> state = LoadForRace(path);
  const DistanceToGo field = MeasureDistanceToGo(state->track);
  if (field.At(c.start.x, c.start.y) == DistanceToGo::kUnreachable) {
    throw ToolError(name + ": no way along the track leads from the start point round to the start/finish line");
  }
  auto model = std::make_unique<TrackModel>();
  if (!model->Build(state->track)) throw ToolError(name + ": out of memory for the solver");
  const CarState start{state->track.startPoint, {}, 0};

  // Quick searches of growing width find good laps early; the best-first search then looks for
  // better ones and proves a bound, with what is left of the time.
  using Clock = std::chrono::steady_clock;
  const Clock::time_point began = Clock::now();
  const Clock::time_point deadline = began + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  const Clock::time_point quickDeadline =
      began + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds * 0.4));
  InterruptStopsSearch interrupt;
  LapPlan best;
  auto show = [&](const char* what, uint32_t lowerBound, size_t states) {
    if (!showProgress) return;
    err << "\rsolving " << name << ": " << what << ", best lap "
        << (best.found ? std::to_string(best.rounds) : std::string("-")) << ", bound " << lowerBound << ", "
        << states << " states, " << static_cast<int>(std::chrono::duration<double>(Clock::now() - began).count())
        << " s " << std::flush;
  };
  // The narrowest search always runs to its end, short as it is, so that a lap is found however
  // little time was given or however busy the machine is.
  for (int width = 32; width <= 2048; width *= 4) {
    show("quick search", 0, 0);
    const bool first = width == 32;
    const LapPlan quick =
        QuickLap(*model, start, width, [&] { return interrupted || (!first && Clock::now() > quickDeadline); });
    if (quick.found && (!best.found || quick.rounds < best.rounds)) best = quick;
    if (interrupted || Clock::now() > quickDeadline) break;
  }
  SolveLimits limits;
  limits.seconds = std::max(0.0, std::chrono::duration<double>(deadline - Clock::now()).count());
  limits.stop = [&] { return interrupted.load(); };
  limits.progress = [&](const SolveProgress& p) { show("best-first search", p.lowerBound, p.stored); };
  const LapPlan solved = SolveLap(*model, start, limits, best.found ? &best : nullptr);
  if (solved.found) best = solved;
  const uint32_t bound = solved.lowerBound;
  if (showProgress) err << "\r" << std::string(78, ' ') << "\r" << std::flush;
  if (!best.found) {
    if (bound == TrackModel::kFar) throw ToolError(name + ": no lap can be driven on this circuit");
    std::ostringstream limit;
    limit << seconds;
    throw ToolError(name + ": no lap found in " + limit.str() + " seconds");
  }

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
  if (a.Has("moves")) {
    for (GridPoint p : best.moves) out << PointText(p) << "\n";
  }
  if (a.Has("lap")) {
    Preview preview(c, scale);
    std::vector<GridPoint> trail{c.start};
    trail.insert(trail.end(), best.moves.begin(), best.moves.end());
    preview.Trail(trail, kPreviewLap, 0.9f);
    preview.Line();
    preview.Write(a.Value("lap"));
  }
  if (a.Has("write-record")) {
    // The lap is raced once more with the circuit's path kept, so that the game's commit stores
    // it through SaveRecord exactly as a race would; only a lap that beats the stored record is.
    auto race = std::make_unique<GameState>();
    if (LoadCircuit(race->track, DevicePath(path)) != 0) throw ToolError("the game can't load " + path);
    const uint16_t stored = race->track.recordCount == 0 ? 0 : race->track.recordRounds;
    if (stored != 0 && stored <= best.rounds) {
      out << "the stored record of " << stored << " rounds stands\n";
    } else {
      DriveLap(*race, best.moves, name);
      if (race->track.recordCount == 0 || race->track.recordRounds != best.rounds) {
        throw ToolError(name + ": the record could not be written");
      }
      out << "stored as the record" << (stored != 0 ? " (was " + std::to_string(stored) + " rounds)" : "") << "\n";
    }
  }
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
    out << "cleared the record of " << Name(path) << " (" << static_cast<uint16_t>(c.record.size() - 2)
        << " rounds)\n";
  }
  return 0;
}

// What a data picture of the game must measure, by file name; empty when it fits or the name
// is not one of them.
std::string DataPictureMisfit(const std::string& name, uint32_t width, uint32_t height) {
  static const std::map<std::string, std::pair<uint32_t, uint32_t>> sizes = {
      {"MenuBar.pic", {240, 40}}, {"GoButton.pic", {20, 40}},          {"Menu.pic", {140, 600}},
      {"SubMenu_NPlayer.pic", {70, 400}}, {"GameData.dat", {240, 320}}};
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
    if (!screenshot) throw ToolError(path + " is not a screenshot: its " + std::to_string(size) + " bytes don't match its header");
    asShot = true;
  } else if (a.Has("picture")) {
    if (!picture) throw ToolError(path + " is not a picture file: its " + std::to_string(size) + " bytes are fewer than its header needs");
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
  out << "wrote " << a.files[1] << ": " << width << "x" << height << (asShot ? " screenshot" : " picture")
      << "\n";
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
  out << "wrote " << outPath << ": " << image.width << "x" << image.height
      << (asShot ? " screenshot" : " picture") << "\n";
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
         "  solve CIRCUIT.cct [--seconds S] [--moves] [--lap OUT.png [--scale N]] [--write-record]\n"
         "      the fastest lap the search finds in S seconds (60 unless given; Ctrl-C stops it\n"
         "      early), with a proof that it is optimal or the fewest rounds any lap could take;\n"
         "      --write-record stores it as the circuit's record when it beats the stored one\n"
         "  clear-record CIRCUIT.cct\n"
         "      removes the record lap\n"
         "  topng FILE OUT.png [--picture | --screenshot] [--scale N]\n"
         "      a picture file (.pic, GameData.dat) or a screenshot (ScrSave.pic) as PNG\n"
         "  frompng IN.png OUT [--screenshot]\n"
         "      a PNG as a picture file (or a screenshot); data pictures must have their size\n"
         + ReplayToolUsage() +
         "Every command that writes a file refuses one that is its own input, and one made\n"
         "read-only unless --force is given. Files are written whole or not at all.\n";
}

int RunCircuitTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   bool showProgress) {
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
