// The game in a real SDL window on a virtual X server: the mouse clicks through the title, makes
// a move with the Go button, and quits from the menu; the window's pixels show each step.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "gfx/colour.h"
#include "tests/game_folder.h"
#include "tests/taps.h"

namespace {

constexpr int kScale = 2;

class GameWindow : public WindowTest {
 protected:
  // Clicks at a device screen point.
  void Click(int x, int y) {
    screen().Xdo("mousemove --window " + window_ + " " + std::to_string(x * kScale + 1) + " " +
                 std::to_string(y * kScale + 1) + " click 1");
  }
  void Click(ScreenPoint p) { Click(p.x, p.y); }

  // Waits until the window shows the colour at a device screen point.
  bool WaitForPixel(int x, int y, uint16_t colour) {
    for (int tries = 0; tries < 500; ++tries) {
      if (ScreenFileShows(screen().ScreenFile(), left_ + x * kScale, top_ + y * kScale, ShownAs(colour))) {
        return true;
      }
      Pause(20);
    }
    return false;
  }

  // The game in a window on the test's screen, on the field.
  std::string Command() const {
    return game_.Isolation() + "env -u APEXGRID_VIDEO -u SDL_VIDEODRIVER " + screen().display() +
           "APEXGRID_SCALE=" + std::to_string(kScale) + " " + DesktopLibraries() + Quote(game_.Host("Apexgrid")) + " " +
           Quote(game_.Device("Circuits/Field.cct"));
  }

  GameFolder game_;
  std::string window_;
  int left_ = 0, top_ = 0;
};

// An open field the board's size, starting at (60, 60); the view stands still at (0, 0).
TestCircuit Field() {
  TestCircuit field(240, 300);
  for (uint16_t& p : field.pixels) p = MakeColour(12, 24, 12);
  field.start = GridPoint{60, 60};
  field.lineA = GridPoint{0, 0};
  field.lineB = GridPoint{0, 1};
  field.ahead = GridPoint{1, 0};
  return field;
}

}  // namespace

TEST_F(GameWindow, TheMouseClicksThroughTheTitleAndMakesAMove) {
  // Two cars on the open field, near its top-left corner.
  game_.AddCircuit("Field.cct", Field());
  Picture title;
  LoadDataPicture(title, "GameData.dat");

  const std::string err = game_.Host("err");
  StartShell(Command() + " 2>" + Quote(err), game_.Host("status"));
  window_ = screen().FindWindow("Apexgrid");
  ASSERT_FALSE(window_.empty()) << ReadText(err);
  const WindowPlace place = screen().PlaceOf(window_);
  EXPECT_NE(place.geometry.find("WIDTH=480\nHEIGHT=640"), std::string::npos) << place.geometry;
  left_ = place.left;
  top_ = place.top;

  // The title gives way to the race at its timer's first tick, or at a click if that comes
  // first; either way the race board follows. A click on the bar's name does nothing in a race.
  Click(90, 310);
  const uint16_t red = MakeColour(31, 0, 0), blue = MakeColour(0, 0, 31), black = MakeColour(0, 0, 0);
  ASSERT_TRUE(WaitForPixel(63, 63, blue)) << "the race board, player 1's car over player 0's on the start";
  EXPECT_TRUE(WaitForPixel(60, 80, red)) << "player 0's reach circle";

  // The title again from the menu, where no timer ends it, and a click through it.
  Click(kMenuButton);
  Click(kTitleEntry);
  ASSERT_TRUE(WaitForPixel(120, 60, title.pixels[60 * 240 + 120])) << "the title";
  ASSERT_TRUE(WaitForPixel(200, 30, title.pixels[30 * 240 + 200]));
  Click(10, 200);
  ASSERT_TRUE(WaitForPixel(63, 63, blue)) << "back on the race board";

  // Player 0 aims 10 to the right with a drag, then clicks Go, which stands at (95, 25), up and
  // to the right of the reach circle around (60, 60).
  screen().Xdo("mousemove --window " + window_ + " 111 121 mousedown 1 mousemove --window " + window_ +
               " 141 121 mouseup 1");
  ASSERT_TRUE(WaitForPixel(70, 60, black)) << "the cursor";
  Click(100, 30);
  EXPECT_TRUE(WaitForPixel(74, 64, red)) << "player 0's car moved to (70, 60)";
  EXPECT_TRUE(WaitForPixel(60, 80, blue)) << "player 1's turn";

  // D hands player 1's car to the computer, and the caption says who drives the car to move.
  screen().Xdo("key d");
  std::string caption;
  for (int tries = 0; tries < 250 && caption != "Apexgrid \u2013 blue: computer (club)"; ++tries) {
    Pause(20);
    caption = screen().Xdo("getwindowname " + window_);
    while (!caption.empty() && caption.back() == '\n') caption.pop_back();
  }
  EXPECT_EQ(caption, "Apexgrid \u2013 blue: computer (club)");

  // The menu's quit entry ends the game, also while a computer car waits to move.
  Click(kMenuButton);
  Click(kQuitEntry);
  WaitForText(game_.Host("status"), "\n", 10000);
  EXPECT_EQ(ReadText(game_.Host("status")), "0\n") << ReadText(err);
}

// A double click on a launcher starts copies at the same moment: of eight, one opens its window
// and the other seven find it and end, however each was started (a desktop session's runtime
// folder, an ssh login without one, no home in the environment).
TEST_F(GameWindow, CopiesStartedTogetherLeaveOneWindow) {
  game_.AddCircuit("Field.cct", Field());
  const TempFolder runtime;
  std::filesystem::permissions(runtime.host(), std::filesystem::perms::owner_all);
  const std::string environments[] = {
      "", "env -u XDG_RUNTIME_DIR -u HOME -u XDG_CACHE_HOME ",
      "env XDG_RUNTIME_DIR=" + Quote(runtime.host()) + " TMPDIR=" + Quote(runtime.host()) + " "};
  std::string copies;
  for (int i = 0; i < 8; ++i) {
    copies += "(" + environments[i % 3] + Command() + " 2>" + Quote(game_.Host("err" + std::to_string(i))) +
              "; echo $? >>" + Quote(game_.Host("ended")) + ") & ";
  }
  StartShell(copies + "wait", game_.Host("status"));
  ASSERT_TRUE(WaitForText(game_.Host("ended"), "0\n", 30000, 7)) << ReadText(game_.Host("ended"));
  window_ = screen().FindWindow("Apexgrid");
  ASSERT_FALSE(window_.empty());
  Pause(500);
  EXPECT_EQ(LinesOf(screen().Xdo("search --onlyvisible --name '^Apexgrid$'")).size(), 1u);
  EXPECT_EQ(ReadText(game_.Host("ended")), "0\n0\n0\n0\n0\n0\n0\n");

  const WindowPlace place = screen().PlaceOf(window_);
  left_ = place.left;
  top_ = place.top;
  ASSERT_TRUE(WaitForPixel(63, 63, MakeColour(0, 0, 31))) << "the race board";
  Click(kMenuButton);
  Click(kQuitEntry);
  ASSERT_TRUE(WaitForText(game_.Host("status"), "\n", 10000));
  EXPECT_EQ(ReadText(game_.Host("ended")), "0\n0\n0\n0\n0\n0\n0\n0\n");
}
