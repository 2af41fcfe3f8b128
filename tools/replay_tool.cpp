// apexcircuit replay: the race replayed through the rules, drawn on the whole circuit (as
// `apexcircuit render` draws it) or on the device's board following one car.
#include "tools/replay_tool.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <ostream>

#include "data/folder.h"
#include "game/globals.h"
#include "game/race_animation.h"
#include "gfx/display.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "race/animation.h"
#include "race/race_circuit.h"
#include "race/race_file.h"
#include "race/replay.h"
#include "rules/move.h"
#include "tools/board_scene.h"
#include "tools/canvas.h"
#include "tools/circuit_data.h"
#include "tools/whole_number.h"

namespace {

constexpr int kWholeSide = 960;  // the whole circuit is shrunk to fit a square of this side

struct Usage {
  std::string what;
};

struct Options {
  std::string race, circuit, out;
  bool record = false;  // the circuit's record lap rather than a race file
  bool force = false;   // write over a read-only file
  bool whole = true;
  int follow = -1;
  int scale = 1;
  double movesPerSecond = 4;
};

int Fail(std::ostream& err, const std::string& what, int status = 1) {
  err << "apexcircuit: replay: " << what << (status == 2 ? " (apexcircuit help shows the usage)" : "") << "\n";
  return status;
}

// The record lap as a race of one car: its trail from the third point, each crash's two copies of
// the point it went back to left to the rules.
RaceFile RecordRace(const TrackGrid& track, const std::string& circuitHost) {
  RaceFile race;
  race.circuitName = circuitHost.substr(circuitHost.rfind('/') + 1);
  race.circuitPath = circuitHost;
  race.circuitSha256 = CircuitSha256(circuitHost, nullptr);
  race.players = 1;
  for (int i = 2; i < track.recordCount; ++i) {
    const GridPoint from = track.recordTrail[i - 1], to = track.recordTrail[i];
    RaceEvent move;
    move.point = to;
    race.events.push_back(move);
    if (IsPathBlocked(track, from.x, from.y, to.x, to.y)) i += 2;
  }
  return race;
}

Rgb CarColour(int car) {
  const ColourComponents& c = kPlayerColours[car];
  return Rgb{c.red / 31.0f, c.green / 63.0f, c.blue / 31.0f};
}

// The whole circuit, every car's trail drawn on it as the race goes, one frame a move.
int WriteWhole(const RaceFile& race, const std::string& raceName, const Options& o, GameState& s, std::string* error) {
  const TrackGrid& t = s.track;
  double factor = o.scale;
  if (std::max(t.width, t.height) * factor > kWholeSide)
    factor = static_cast<double>(kWholeSide) / std::max(t.width, t.height);
  const int width = std::max(1, static_cast<int>(std::lround(t.width * factor)));
  const int height = std::max(1, static_cast<int>(std::lround(t.height * factor)));
  // The circuit's picture, each frame pixel the mean of the circuit pixels it covers.
  Canvas canvas(width, height);
  std::vector<float> sum(static_cast<size_t>(width) * height * 4, 0.0f);
  for (int y = 0; y < t.height; ++y) {
    for (int x = 0; x < t.width; ++x) {
      uint8_t r = 0, g = 0, b = 0;
      ExpandPixel(t.picture.pixels[static_cast<size_t>(y) * t.width + x], true, &r, &g, &b);
      if (factor >= 1) continue;
      const int fx = std::min(width - 1, static_cast<int>(x * factor));
      const int fy = std::min(height - 1, static_cast<int>(y * factor));
      float* cell = &sum[(static_cast<size_t>(fy) * width + fx) * 4];
      cell[0] += r, cell[1] += g, cell[2] += b, cell[3] += 1;
    }
  }
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t r = 0, g = 0, b = 0;
      if (factor >= 1) {
        const int sx = std::min<int>(t.width - 1, static_cast<int>(x / factor));
        const int sy = std::min<int>(t.height - 1, static_cast<int>(y / factor));
        ExpandPixel(t.picture.pixels[static_cast<size_t>(sy) * t.width + sx], true, &r, &g, &b);
        canvas.Set(x, y, Rgb8(r, g, b));
      } else {
        const float* cell = &sum[(static_cast<size_t>(y) * width + x) * 4];
        const float n = std::max(1.0f, cell[3]);
        canvas.Set(x, y, Rgb{cell[0] / n / 255.0f, cell[1] / n / 255.0f, cell[2] / n / 255.0f});
      }
    }
  }
  const float line = std::max(1.2f, static_cast<float>(factor) * 0.6f);
  const auto at = [&](GridPoint p) {
    return Point{static_cast<float>((p.x + 0.5) * factor), static_cast<float>((p.y + 0.5) * factor)};
  };

  GifWriter gif;
  if (gif.Open(o.out, static_cast<uint32_t>(width), static_cast<uint32_t>(height), error) != 0) return 1;
  const int delay = std::max(2, static_cast<int>(std::lround(100.0 / o.movesPerSecond)));
  int drawn[kMaxPlayers] = {};  // each car's trail is drawn up to this index
  RaceProgress progress;
  StartReplay(race, s, &progress);
  while (true) {
    while (progress.next < race.events.size() && race.events[progress.next].kind != RaceEventKind::kMove) {
      if (ReplayNext(race, raceName, s, &progress, error) != 0) return 1;
    }
    for (int car = 0; car < race.players; ++car) {
      const PlayerRecord& p = s.players[car];
      for (int i = std::max(1, drawn[car] + 1); i <= p.lastIndex; ++i) {
        if (p.trail[i] != p.trail[i - 1]) canvas.StrokeLine(at(p.trail[i - 1]), at(p.trail[i]), line, CarColour(car));
        canvas.FillCircle(at(p.trail[i]), 1.5f * line, CarColour(car));
      }
      drawn[car] = p.lastIndex;
    }
    const std::vector<uint16_t> pixels = canvas.ToPixels(false);
    if (gif.Add(ImageFromPixels(pixels.data(), static_cast<uint32_t>(width), static_cast<uint32_t>(height), true),
                delay, error) != 0) {
      return 1;
    }
    if (progress.next >= race.events.size()) break;
    if (ReplayNext(race, raceName, s, &progress, error) != 0) return 1;
  }
  return gif.Close(error);
}

// The device's board following one car, with the game's own data pictures when they are beside
// the tool, else stand-ins.
int WriteFollowing(const RaceFile& race, const std::string& raceName, const Options& o, std::string* error) {
  if (OpenDisplay(display, nullptr, 1) != 0) {
    *error = "the display can't be opened";
    return 1;
  }
  CreatePicture(framePicture, 0, 0, kPictureScreenSize);
  CreatePicture(boardPicture, 0, 0, kPictureScreenSize);
  MakeStandInPictures(menuBarPicture, goButtonPicture, digitsPicture);
  const std::u16string folder = GetProgramFolder();
  LoadPicture(badgePicture, folder + kBadgesFile);
  for (const auto& wanted :
       {std::make_pair(&goButtonPicture, kGoButtonFile), std::make_pair(&digitsPicture, kDigitsFile)}) {
    Picture game;
    LoadPicture(game, folder + wanted.second);
    if (game.pixels != nullptr) SwapPictures(*wanted.first, game);
  }
  BoardAnimation options;
  options.scale = o.scale;
  options.follow = o.follow;
  options.menuBar = false;
  options.delay = std::max(2, static_cast<int>(std::lround(100.0 / o.movesPerSecond)));
  const int status = WriteBoardAnimation(race, raceName, o.out, options, error);
  CloseDisplay(display);
  return status;
}

Options ParseOptions(const std::vector<std::string>& args) {
  Options o;
  std::vector<std::string> files;
  bool whole = false, follow = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool more = i + 1 < args.size();
    long long n = 0;
    if (a == "--circuit" && more) {
      o.circuit = args[++i];
    } else if (a == "--record" && more) {
      o.record = true;
      o.out = args[++i];
    } else if (a == "--scale" && more) {
      if (ReadWholeNumber(args[++i], 1, 8, &n) != WholeNumber::kRead) throw Usage{"--scale needs 1 to 8"};
      o.scale = static_cast<int>(n);
    } else if (a == "--force") {
      o.force = true;
    } else if (a == "--whole") {
      whole = true;
    } else if (a == "--follow" && more) {
      if (ReadWholeNumber(args[++i], 0, kMaxPlayers - 1, &n) != WholeNumber::kRead)
        throw Usage{"--follow needs a car from 0 to 7"};
      follow = true;
      o.follow = static_cast<int>(n);
    } else if (a == "--moves-per-second" && more) {
      char* end = nullptr;
      const double f = std::strtod(args[++i].c_str(), &end);
      if (end == args[i].c_str() || *end != '\0' || !(f >= 0.1 && f <= 50))
        throw Usage{"--moves-per-second needs 0.1 to 50"};
      o.movesPerSecond = f;
    } else if (a.compare(0, 2, "--") == 0) {
      throw Usage{"unknown or incomplete option " + a};
    } else {
      files.push_back(a);
    }
  }
  if (whole && follow) throw Usage{"--whole and --follow exclude each other"};
  o.whole = !follow;
  if (o.record) {
    if (files.size() != 1) throw Usage{"with --record, give the circuit and --record OUT.gif"};
    if (!o.circuit.empty()) throw Usage{"--circuit goes with a race file, not with --record"};
    o.circuit = files[0];
  } else {
    if (files.size() != 2) throw Usage{"give the race file and the GIF to write"};
    o.race = files[0];
    o.out = files[1];
  }
  return o;
}

}  // namespace

std::string ReplayToolUsage() {
  return "  replay RACE.apxrace OUT.gif [--circuit CCT] [--scale N] [--whole | --follow CAR]\n"
         "         [--moves-per-second F] [--force]\n"
         "  replay CIRCUIT.cct --record OUT.gif [--scale N] [--whole | --follow 0] [--moves-per-second F]\n"
         "      a race (or the record lap) as an animated GIF: the whole circuit, shrunk to fit\n"
         "      960 px, with every trail (the default), or the device's board following one car;\n"
         "      four moves a second unless told; the race's circuit is found as the game finds it\n";
}

int RunReplayTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Options o;
  try {
    o = ParseOptions(args);
  } catch (const Usage& usage) {
    return Fail(err, usage.what, 2);
  }
  for (const std::string& input : {o.race, o.circuit}) {
    if (!input.empty() && SameHostFile(o.out, input))
      return Fail(err, o.out + " is also the input; give another file to write");
  }
  if (!o.force && IsReadOnlyHostFile(o.out)) return Fail(err, o.out + " is read-only; --force writes over it");
  RaceFile race;
  std::string error;
  std::string circuit = o.circuit;
  if (!o.record) {
    if (ReadRaceFile(o.race, &race, &error) != 0) return Fail(err, error);
    if (!circuit.empty()) {
      if (CheckRaceCircuit(race, o.race, circuit, &error) != 0) return Fail(err, error);
    } else {
      const std::u16string user = UserDataFolder();
      circuit = FindRaceCircuit(race, o.race,
                                {HostPath(GetProgramFolder() + kCircuitsFolder),
                                 user.empty() ? std::string() : HostPath(user + kCircuitsFolder)},
                                &error);
      if (circuit.empty()) return Fail(err, error);
    }
  }
  GameState& s = gameState;
  if (LoadCircuit(s.track, DevicePath(circuit)) != 0) return Fail(err, "the game can't load " + circuit);
  s.track.path.clear();  // no lap replayed here may ever write a record
  SetStartValues(s);
  if (o.record) {
    if (s.track.recordCount < kMinRecordPoints) return Fail(err, circuit + " has no record lap");
    race = RecordRace(s.track, circuit);
  }
  if (o.follow >= race.players)
    return Fail(err,
                "--follow " + std::to_string(o.follow) + ": the race has " + std::to_string(race.players) + " cars", 2);
  const std::string name = o.record ? circuit : o.race;
  const int status = o.whole ? WriteWhole(race, name, o, s, &error) : WriteFollowing(race, name, o, &error);
  if (status != 0) return Fail(err, error);
  out << "wrote " << o.out << "\n";
  return 0;
}
