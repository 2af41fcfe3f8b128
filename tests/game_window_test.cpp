// The game in a real SDL window on a virtual X server: the mouse clicks through the title, makes
// a move with the Go button, and quits from the menu; the window's pixels show each step.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "gfx/colour.h"
#include "platform/png.h"
#include "tests/game_folder.h"

namespace {

// Leak reports of the desktop's own libraries are left out; under the sanitizers the window
// draws through SDL's software renderer, since Mesa's driver can't be named in a suppression.
#ifdef APEXGRID_SANITIZED
const std::string kDesktopLibraries = "SDL_RENDER_DRIVER=software SDL_FRAMEBUFFER_ACCELERATION=0 ";
#else
const std::string kDesktopLibraries;
#endif

constexpr int kScale = 2;

bool Installed(const char* program) {
  return std::system(("command -v " + std::string(program) + " >/dev/null 2>&1").c_str()) == 0;
}

// One pixel of the X server's screen, read from its frame buffer file: an X window dump (a
// header of big-endian 32-bit fields, a colour table, then 32-bit pixels). Only the header and
// the pixel are read, so that polling stays quick in a sanitizer build.
bool ScreenShows(const std::string& dump, uint32_t x, uint32_t y, uint16_t colour) {
  std::ifstream in(dump, std::ios::binary);
  unsigned char header[100];
  if (!in.read(reinterpret_cast<char*>(header), sizeof header)) return false;
  auto field = [&](int i) {
    const unsigned char* b = header + 4 * i;
    return static_cast<uint32_t>(b[0] << 24 | b[1] << 16 | b[2] << 8 | b[3]);
  };
  if (field(11) != 32 || y >= field(5) || x >= field(4)) return false;
  const uint32_t byteOrder = field(7);
  const std::streamoff at = static_cast<std::streamoff>(field(0)) + field(19) * 12 +
                            static_cast<std::streamoff>(y) * field(12) + x * 4;
  unsigned char b[4];
  if (!in.seekg(at) || !in.read(reinterpret_cast<char*>(b), 4)) return false;
  uint32_t p = 0;
  for (int i = 0; i < 4; ++i) p |= static_cast<uint32_t>(b[byteOrder == 0 ? i : 3 - i]) << (8 * i);
  uint8_t r, g, bl;
  ExpandPixel(colour, true, &r, &g, &bl);
  // Give or take the server's rounding of 5- and 6-bit channels.
  auto near = [](int a, int e) { return std::abs(a - e) <= 8; };
  return near(static_cast<int>(p >> 16 & 255), r) && near(static_cast<int>(p >> 8 & 255), g) &&
         near(static_cast<int>(p & 255), bl);
}

class GameWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Installed("Xvfb") || !Installed("xdotool")) GTEST_SKIP() << "Xvfb or xdotool is not installed";
    std::system(("Xvfb -displayfd 3 -screen 0 800x700x24 -nolisten tcp -fbdir " + Quote(game_.Host("")) + " 3>" +
                 Quote(game_.Host("display")) + " 2>/dev/null & echo $! >" + Quote(game_.Host("server")))
                    .c_str());
    for (int waited = 0; waited < 10000 && ReadText(game_.Host("display")).empty(); waited += 20) Pause(20);
    std::string number = ReadText(game_.Host("display"));
    while (!number.empty() && (number.back() == '\n' || number.back() == ' ')) number.pop_back();
    ASSERT_FALSE(number.empty()) << "Xvfb did not start";
    display_ = "DISPLAY=:" + number + " ";
  }

  void TearDown() override {
    const std::string server = ReadText(game_.Host("server"));
    if (server.empty()) return;
    const std::string pid = server.substr(0, server.find('\n'));
    std::system(("kill " + pid + " 2>/dev/null; for i in $(seq 100); do kill -0 " + pid +
                 " 2>/dev/null || break; sleep 0.05; done")
                    .c_str());
  }

  std::string Xdo(const std::string& arguments) {
    const std::string out = game_.Host("xdo");
    std::system(("timeout 10 env " + display_ + "xdotool " + arguments + " >" + Quote(out) + " 2>&1").c_str());
    return ReadText(out);
  }

  // Clicks at a device screen point.
  void Click(int x, int y) {
    Xdo("mousemove --window " + window_ + " " + std::to_string(x * kScale + 1) + " " + std::to_string(y * kScale + 1) +
        " click 1");
  }

  // Waits until the window shows the colour at a device screen point.
  bool WaitForPixel(int x, int y, uint16_t colour) {
    for (int tries = 0; tries < 500; ++tries) {
      if (ScreenShows(game_.Host("Xvfb_screen0"), static_cast<uint32_t>(left_ + x * kScale),
                      static_cast<uint32_t>(top_ + y * kScale), colour)) {
        return true;
      }
      Pause(20);
    }
    return false;
  }

  GameFolder game_;
  std::string display_;
  std::string window_;
  int left_ = 0, top_ = 0;
};

}  // namespace

TEST_F(GameWindow, TheMouseClicksThroughTheTitleAndMakesAMove) {
  // Two cars on an open field; the view stands still at (0, 0) near its top-left corner.
  TestCircuit field(240, 300);
  for (uint16_t& p : field.pixels) p = MakeColour(12, 24, 12);
  field.start = GridPoint{60, 60};
  field.lineA = GridPoint{0, 0};
  field.lineB = GridPoint{0, 1};
  field.ahead = GridPoint{1, 0};
  game_.AddCircuit("Field.cct", field);
  Picture title;
  LoadDataPicture(title, "GameData.dat");

  const std::string err = game_.Host("err");
  std::system(("(" + game_.Isolation() + "env -u APEXGRID_VIDEO -u SDL_VIDEODRIVER " + display_ +
               "APEXGRID_SCALE=" + std::to_string(kScale) + " " + kDesktopLibraries + Quote(game_.Host("Apexgrid")) +
               " " + Quote(game_.Device("Circuits/Field.cct")) + " 2>" + Quote(err) + "; echo $? >" +
               Quote(game_.Host("status")) + ") &")
                  .c_str());
  window_ = Xdo("search --sync --onlyvisible --name '^Apexgrid$'");
  window_ = window_.substr(0, window_.find('\n'));
  ASSERT_FALSE(window_.empty()) << ReadText(err);
  const std::string geometry = Xdo("getwindowgeometry --shell " + window_);
  EXPECT_NE(geometry.find("WIDTH=480\nHEIGHT=640"), std::string::npos) << geometry;
  std::istringstream lines(geometry);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("X=", 0) == 0) left_ = std::atoi(line.c_str() + 2);
    if (line.rfind("Y=", 0) == 0) top_ = std::atoi(line.c_str() + 2);
  }

  // The title gives way to the race at its timer's first tick, or at a click if that comes
  // first; either way the race board follows. A click on the bar's name does nothing in a race.
  Click(90, 310);
  const uint16_t red = MakeColour(31, 0, 0), blue = MakeColour(0, 0, 31), black = MakeColour(0, 0, 0);
  ASSERT_TRUE(WaitForPixel(63, 63, blue)) << "the race board, player 1's car over player 0's on the start";
  EXPECT_TRUE(WaitForPixel(60, 80, red)) << "player 0's reach circle";

  // The title again from the menu, where no timer ends it, and a click through it.
  Click(30, 310);
  Click(70, 190);
  ASSERT_TRUE(WaitForPixel(120, 60, title.pixels[60 * 240 + 120])) << "the title";
  ASSERT_TRUE(WaitForPixel(200, 30, title.pixels[30 * 240 + 200]));
  Click(10, 200);
  ASSERT_TRUE(WaitForPixel(63, 63, blue)) << "back on the race board";

  // Player 0 aims 10 to the right with a drag, then clicks Go, which stands at (95, 25), up and
  // to the right of the reach circle around (60, 60).
  Xdo("mousemove --window " + window_ + " 111 121 mousedown 1 mousemove --window " + window_ +
      " 141 121 mouseup 1");
  ASSERT_TRUE(WaitForPixel(70, 60, black)) << "the cursor";
  Click(100, 30);
  EXPECT_TRUE(WaitForPixel(74, 64, red)) << "player 0's car moved to (70, 60)";
  EXPECT_TRUE(WaitForPixel(60, 80, blue)) << "player 1's turn";

  // The menu's quit entry ends the game.
  Click(30, 310);
  Click(70, 287);
  for (int waited = 0; waited < 10000 && ReadText(game_.Host("status")).empty(); waited += 20) Pause(20);
  EXPECT_EQ(ReadText(game_.Host("status")), "0\n") << ReadText(err);
}
