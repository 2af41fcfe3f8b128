// apexgrid-render: composes the race board on a circuit and writes the screen as a PNG.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "game/board.h"
#include "game/globals.h"
#include "gfx/display.h"
#include "platform/files.h"
#include "platform/png.h"
#include "tools/board_scene.h"
#include "tools/circuit_data.h"
#include "tools/whole_number.h"

namespace {

const char kUsage[] =
    "usage: apexgrid-render [options] OUT.png\n"
    "  Composes the race board and writes the screen, as the display shows it, to OUT.png.\n"
    "  --circuit FILE    a circuit file; default: a loop circuit drawn in memory\n"
    "  --size W H        size of that loop circuit (default 600 480)\n"
    "  --data DIR        read MenuBar.pic, GoButton.pic and Numbers-CourierNew14.pic from DIR;\n"
    "                    default: stand-in pictures drawn here\n"
    "  --players N       cars in the race, 1 to 8 (default 4)\n"
    "  --moves N         moves each car has made round the loop (default 40; loop circuit only)\n"
    "  --current P       whose turn it is (default 0)\n"
    "  --laps L          completed laps shown for every car (default 0)\n"
    "  --wait P T        player P sits out T more turns\n"
    "  --round R         the round counter (default: the moves made)\n"
    "  --record          show the record lap (the loop circuit gets one lap as its record)\n"
    "  --outline         show the circuit outline\n"
    "  --direct          the current player taps directly: no Go button\n"
    "  --view X Y        the view's top-left corner (default: centred on the current car)\n"
    "  --scale N         enlarge every pixel N times in the PNG (default 1)\n"
    "  --pictures        write the three stand-in pictures next to OUT.png instead\n";

// Wrong usage: one line, and status 2.
int Fail(const std::string& what) {
  std::fprintf(stderr, "apexgrid-render: %s (--help shows the usage)\n", what.c_str());
  return 2;
}

bool ToInt(const char* text, int low, int high, int* value) {
  long long v = 0;
  if (ReadWholeNumber(text, low, high, &v) != WholeNumber::kRead) return false;
  *value = static_cast<int>(v);
  return true;
}

std::string Sibling(const std::string& path, const std::string& suffix) {
  const std::string stem =
      path.size() > 4 && path.compare(path.size() - 4, 4, ".png") == 0 ? path.substr(0, path.size() - 4) : path;
  return stem + "-" + suffix + ".png";
}

// What the command line asks for.
struct Options {
  std::string out, circuit, data;
  int width = 600, height = 480, players = 4, moves = 40, current = 0, laps = 0, round = -1;
  int viewX = 0, viewY = 0, scale = 1;
  bool record = false, outline = false, direct = false, view = false, pictures = false;
  std::vector<std::pair<int, int>> waits;
};

// Reads the command line into *o: kGoOn when the board is to be drawn, else the program's status.
constexpr int kGoOn = -1;
int ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto need = [&](int n) { return i + n < argc; };
    if (a == "--circuit" && need(1)) {
      o->circuit = argv[++i];
    } else if (a == "--data" && need(1)) {
      o->data = argv[++i];
    } else if (a == "--size" && need(2)) {
      if (!ToInt(argv[i + 1], 1, kMaxCircuitSide, &o->width) || !ToInt(argv[i + 2], 1, kMaxCircuitSide, &o->height)) {
        return Fail("--size needs a width and a height from 1 to " + std::to_string(kMaxCircuitSide));
      }
      i += 2;
    } else if (a == "--players" && need(1)) {
      if (!ToInt(argv[++i], 1, kMaxPlayers, &o->players)) return Fail("--players needs 1 to 8");
    } else if (a == "--moves" && need(1)) {
      if (!ToInt(argv[++i], 0, kTrailCapacity - 3, &o->moves)) {
        return Fail("--moves needs 0 to " + std::to_string(kTrailCapacity - 3));
      }
    } else if (a == "--current" && need(1)) {
      if (!ToInt(argv[++i], 0, kMaxPlayers - 1, &o->current)) return Fail("--current needs 0 to 7");
    } else if (a == "--laps" && need(1)) {
      if (!ToInt(argv[++i], 0, INT16_MAX, &o->laps)) return Fail("--laps needs a count from 0");
    } else if (a == "--wait" && need(2)) {
      int p = 0, t = 0;
      if (!ToInt(argv[i + 1], 0, kMaxPlayers - 1, &p) || !ToInt(argv[i + 2], 0, INT16_MAX, &t)) {
        return Fail("--wait needs a player from 0 to 7 and a count of turns");
      }
      o->waits.emplace_back(p, t);
      i += 2;
    } else if (a == "--round" && need(1)) {
      if (!ToInt(argv[++i], 0, UINT16_MAX, &o->round)) return Fail("--round needs 0 to 65535");
    } else if (a == "--view" && need(2)) {
      if (!ToInt(argv[i + 1], INT16_MIN, INT16_MAX, &o->viewX) ||
          !ToInt(argv[i + 2], INT16_MIN, INT16_MAX, &o->viewY)) {
        return Fail("--view needs two coordinates from -32768 to 32767");
      }
      o->view = true;
      i += 2;
    } else if (a == "--scale" && need(1)) {
      if (!ToInt(argv[++i], 1, 8, &o->scale)) return Fail("--scale needs 1 to 8");
    } else if (a == "--record") {
      o->record = true;
    } else if (a == "--outline") {
      o->outline = true;
    } else if (a == "--direct") {
      o->direct = true;
    } else if (a == "--pictures") {
      o->pictures = true;
    } else if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (!a.empty() && a[0] != '-' && o->out.empty()) {
      o->out = a;
    } else {
      return Fail("unknown or incomplete option " + a);
    }
  }
  if (o->out.empty()) return Fail("no output file");
  if (o->current >= o->players) {
    return Fail("--current must name one of the " + std::to_string(o->players) + " players");
  }
  if (!o->circuit.empty() && SameHostFile(o->out, o->circuit)) {
    std::fprintf(stderr, "apexgrid-render: %s is also the circuit; give another file to write\n", o->out.c_str());
    return 1;
  }
  return kGoOn;
}

// The three pictures from the data folder in place of the stand-ins; 1, with the display closed,
// when one can't be read.
int LoadDataPictures(const std::string& data) {
  const std::pair<Picture*, const char*> wanted[] = {{&menuBarPicture, "MenuBar.pic"},
                                                     {&goButtonPicture, "GoButton.pic"},
                                                     {&digitsPicture, "Numbers-CourierNew14.pic"}};
  for (const auto& picture : wanted) {
    // Host paths as they are: the name mapping gives the loader exactly this file.
    const std::string path = data + "/" + picture.second;
    LoadPicture(*picture.first, DevicePath(path));
    if (picture.first->pixels == nullptr) {
      std::fprintf(stderr, "apexgrid-render: can't read the picture %s\n", path.c_str());
      CloseDisplay(display);
      return 1;
    }
  }
  return 0;
}

// The three pictures next to OUT.png; the display is closed afterwards.
int WritePictures(const Options& o) {
  const std::pair<const Picture*, const char*> written[] = {
      {&menuBarPicture, "menubar"}, {&goButtonPicture, "gobutton"}, {&digitsPicture, "digits"}};
  for (const auto& picture : written) {
    const std::string path = Sibling(o.out, picture.second);
    if (WritePicturePng(*picture.first, path, o.scale) != 0) {
      std::fprintf(stderr, "apexgrid-render: can't write %s\n", path.c_str());
      CloseDisplay(display);
      return 1;
    }
  }
  CloseDisplay(display);
  return 0;
}

// The race as the options set it up, on the circuit already in s.
void SetUpRace(GameState& s, const Options& o) {
  StartBoardRace(s);
  s.playerCount = static_cast<uint16_t>(o.players);
  s.currentPlayer = static_cast<uint16_t>(o.current);
  s.showRecord = o.record ? 1 : 0;
  s.showOutline = o.outline ? 1 : 0;
  if (o.circuit.empty()) {
    // The cars line up one behind the other in two lanes, each a little further round the loop.
    for (int p = 0; p < o.players; ++p) {
      const double lane = (p % 2 == 0 ? -1 : 1) * 0.35 * (o.width < o.height ? o.width : o.height) / 12.0;
      SetTrail(s.players[p], LoopTrail(s.track, o.moves, 9.0 - 0.4 * p, lane, 0.002 + 0.004 * (o.players - p)));
    }
    if (o.record && s.track.recordCount == 0) SetRecord(s.track, LoopTrail(s.track, 80, 11.0, 0, 0.002));
  }
  for (int p = 0; p < kMaxPlayers; ++p) s.players[p].laps = static_cast<int16_t>(o.laps);
  for (const auto& w : o.waits) s.players[w.first].waitTurns = static_cast<int16_t>(w.second);
  if (o.direct) s.players[o.current].inputMode = kInputDirect;
  s.round = static_cast<uint16_t>(o.round >= 0 ? o.round : o.moves);
  if (o.view) {
    s.viewX = static_cast<int16_t>(o.viewX);
    s.viewY = static_cast<int16_t>(o.viewY);
  } else {
    const GridPoint car = s.players[o.current].trail[s.players[o.current].lastIndex];
    s.viewX = static_cast<int16_t>(car.x - 120);
    s.viewY = static_cast<int16_t>(car.y - 150);
  }
}

// Draws the board and writes what the display shows, which is also what a screenshot of the real
// screen would hold.
int WriteBoard(const Options& o) {
  DrawBoard();
  Picture screen;
  CreatePicture(screen, 0, 0, kPictureScreenSize);
  const uint16_t* shown = GXPresentedScreen();
  if (shown == nullptr || screen.pixels == nullptr) {
    std::fprintf(stderr, "apexgrid-render: nothing was presented\n");
    return 1;
  }
  std::memcpy(screen.pixels, shown, static_cast<size_t>(screen.width) * screen.height * 2);
  const int status = WritePicturePng(screen, o.out, o.scale);
  CloseDisplay(display);
  if (status != 0) {
    std::fprintf(stderr, "apexgrid-render: can't write %s\n", o.out.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  const int parsed = ParseOptions(argc, argv, &o);
  if (parsed != kGoOn) return parsed;

  if (OpenBoardScreen() != 0) {
    std::fprintf(stderr, "apexgrid-render: the display can't be opened\n");
    return 1;
  }
  if (!o.data.empty() && LoadDataPictures(o.data) != 0) return 1;
  if (o.pictures) return WritePictures(o);

  GameState& s = gameState;
  if (o.circuit.empty()) {
    if (MakeLoopCircuit(s.track, static_cast<uint16_t>(o.width), static_cast<uint16_t>(o.height)) != 0) {
      std::fprintf(stderr, "apexgrid-render: no room for a %d x %d circuit\n", o.width, o.height);
      return 1;
    }
  } else if (LoadCircuit(s.track, DevicePath(o.circuit)) != 0) {
    std::fprintf(stderr, "apexgrid-render: can't load circuit %s\n", o.circuit.c_str());
    return 1;
  }
  SetUpRace(s, o);
  if (WriteBoard(o) != 0) return 1;
  std::printf("view %d %d, Go button %d %d\n", s.viewX, s.viewY, s.goButtonX, s.goButtonY);
  return 0;
}
