// The game program itself, run headless with scripts in program folders of its own: the title,
// moves in both input modes, crashes, laps and records, the menu, the menu bar, scrolling, the
// screenshot key, the last-circuit file, the hand-over to the selector and a second copy. The
// screen is checked by its pixels.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "data/circuit.h"
#include "gfx/colour.h"
#include "gfx/layout.h"
#include "platform/text.h"
#include "tests/game_folder.h"
#include "tests/taps.h"

namespace {

uint16_t Track() { return MakeColour(12, 24, 12); }
uint16_t Wall() { return MakeColour(0, 20, 4); }
uint16_t Red() { return MakeColour(31, 0, 0); }
uint16_t Blue() { return MakeColour(0, 0, 31); }
uint16_t Green() { return MakeColour(0, 31, 0); }
uint16_t Black() { return MakeColour(0, 0, 0); }

// The small ring on a circuit exactly the board's size, so that the view never moves and a screen
// point is the track point under it.
TestCircuit Ring() {
  TestCircuit ring = SmallRing(240, 300);
  for (size_t i = 0; i < ring.cells.size(); ++i) ring.pixels[i] = ring.cells[i] == 1 ? Wall() : Track();
  return ring;
}

// An open field larger than the board, every pixel its own colour, for the view.
TestCircuit Field(GridPoint start) {
  TestCircuit field(400, 500);
  field.start = start;
  field.lineA = Pt(0, 0);
  field.lineB = Pt(0, 1);
  field.ahead = Pt(1, 0);
  return field;
}

// The menu bar picture's rows against the screen's bar rows: every button up, or switched on.
constexpr int kBarUp = kMenuBarUpRow - kMenuBarTop;
constexpr int kBarOn = kMenuBarOnRow - kMenuBarTop;
// The player-count submenu's right edge, and the rows of its entry for two players.
constexpr int kSubMenuRight = kSubMenuLeft + kSubMenuWidth;
constexpr int kTwoPlayersTop = kSubMenuTop + kCountEntryTop + 2 * kCountEntryPitch;
constexpr int kTwoPlayersBottom = kTwoPlayersTop + kCountEntryHeight;

// Screen places of the ring's race board.
constexpr int kGoX = 70, kGoY = 10;               // inside the Go button, which sits at (66, 0) for a car at the start
const GridPoint kReachCircleBottom = Pt(31, 28);  // the reach circle's first point for a car on the start
const GridPoint kCarCorner = Pt(34, 11);          // in the square of a car on the start, clear of the cursor

class Game : public ::testing::Test {
 protected:
  GameFolder game;

  std::string ShotLine(const std::string& name) const { return "shot " + game.Host(name) + "\n"; }

  Shot ShotOf(const std::string& name) const {
    Shot shot;
    EXPECT_TRUE(shot.Load(game.Host(name))) << name << " was not written";
    return shot;
  }
};

}  // namespace

// ---- The title -----------------------------------------------------------------------------------

TEST_F(Game, TheTitleGivesWayToTheRaceOnATapOrTheFirstTick) {
  game.AddCircuit("Ring.cct", Ring());
  Picture title;
  LoadDataPicture(title, "GameData.dat");

  // The timer: still the title at 399 ms, the race at 400.
  ProgramRun run =
      game.PlayCircuit("wait 399\n" + ShotLine("before.png") + "wait 1\n" + ShotLine("after.png"), "Ring.cct");
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(ShotOf("before.png").Shows(title, 0, 0, kScreenColumns, kScreenRows));
  Shot raced = ShotOf("after.png");
  EXPECT_TRUE(raced.Is(kCarCorner.x, kCarCorner.y, Blue()))
      << "the cars stand on the start, player 1's over player 0's";
  EXPECT_TRUE(raced.Is(31, 8, Black())) << "the aim cursor on the predicted point";
  EXPECT_TRUE(raced.Is(kReachCircleBottom.x, kReachCircleBottom.y, Red())) << "player 0 has the turn";

  // A tap, wherever it lands, and no tick follows it: the cursor stays where the player aims.
  run = game.PlayCircuit(TapShellButton() + ShotLine("tapped.png") + "down 41 8\n" + ShotLine("aimed.png") +
                             "wait 2000\n" + ShotLine("later.png"),
                         "Ring.cct");
  EXPECT_EQ(run.status, 0);
  Shot tapped = ShotOf("tapped.png");
  EXPECT_TRUE(tapped.SameAs(raced)) << "a tap on the menu bar's shell button only left the title";
  Shot aimed = ShotOf("aimed.png");
  EXPECT_TRUE(aimed.Is(41, 8, Black()) && aimed.Is(38, 8, Black()) && aimed.Is(41, 11, Black()))
      << "the cursor is a black plus on the aimed point";
  EXPECT_TRUE(ShotOf("later.png").SameAs(aimed)) << "a late tick would have reset the target";
}

// ---- Moves ---------------------------------------------------------------------------------------

TEST_F(Game, ADirectTapAndAnAimedGoEachMoveTheCarAndPassTheTurn) {
  game.AddCircuit("Ring.cct", Ring());
  const std::string script = TapTitle() +
                             // Player 0 switches to direct taps and taps (40, 8).
                             TapInputButton() + ShotLine("direct.png") + Tap(40, 8) + ShotLine("moved.png") +
                             // Player 1 aims at (33, 16) with the pen, then taps Go.
                             "down 20 20\nmove 33 16\nup 33 16\n" + ShotLine("aiming.png") + Tap(kGoX, kGoY) +
                             ShotLine("gone.png");
  const ProgramRun run = game.PlayCircuit(script, "Ring.cct");
  EXPECT_EQ(run.status, 0);

  Picture bar;
  LoadDataPicture(bar, "MenuBar.pic");
  Shot direct = ShotOf("direct.png");
  EXPECT_TRUE(direct.Shows(bar, 0, kMenuBarTop, kScreenColumns, kScreenRows, 0, kBarUp))
      << "in direct mode no bar button is on";
  EXPECT_TRUE(direct.Is(kGoX, kGoY, Wall())) << "and there is no Go button";

  Shot moved = ShotOf("moved.png");
  EXPECT_TRUE(moved.Is(40, 8, Red())) << "player 0's car stands on the tapped pixel";
  EXPECT_TRUE(moved.Is(44, 12, Red()) && moved.Is(45, 8, Track()));
  EXPECT_TRUE(moved.Is(kReachCircleBottom.x, kReachCircleBottom.y, Blue())) << "player 1 has the turn";
  EXPECT_TRUE(moved.Shows(bar, kInputButtonLeft, kMenuBarTop, kInputButtonRight, kScreenRows, 0, kBarOn))
      << "player 1 aims";

  Shot aiming = ShotOf("aiming.png");
  EXPECT_TRUE(aiming.Is(33, 16, Red())) << "the island is in the way: the cursor is red";
  EXPECT_TRUE(aiming.Is(30, 16, Red()) && aiming.Is(33, 19, Red()));

  // Go commits the target even though it crashes: player 1 is back on the start with two turns
  // to sit out, and player 0 moves again.
  Shot gone = ShotOf("gone.png");
  EXPECT_TRUE(gone.Is(kCarCorner.x, kCarCorner.y, Blue()));
  EXPECT_TRUE(gone.Is(101, 11, Blue()) && gone.Is(107, 11, Blue())) << "two penalty marks in row 1";
  EXPECT_TRUE(gone.Is(49, 28, Red())) << "player 0's reach circle, around (49, 8)";
}

TEST_F(Game, ADirectTapAtDistanceTwentyIsIgnored) {
  game.AddCircuit("Ring.cct", Ring());
  // From the start (31, 8): (43, 24) is 12 across and 16 down, exactly 20 away; (45, 22) is 14
  // and 14, 19.8 away, and lies on the island.
  const std::string script = TapTitle() + TapInputButton() + ShotLine("before.png") + Tap(31 + 12, 8 + 16) +
                             ShotLine("after.png") + Tap(31 + 14, 8 + 14) + ShotLine("near.png");
  const ProgramRun run = game.PlayCircuit(script, "Ring.cct");
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(ShotOf("after.png").SameAs(ShotOf("before.png")));
  Shot near = ShotOf("near.png");
  EXPECT_TRUE(near.Is(101, 4, Red())) << "19.8 away is in reach: the move to (45, 22) crashed into the island";
}

// ---- Crashes and sat-out turns ------------------------------------------------------------------

TEST_F(Game, ACrashShowsItsPenaltyMarksAndSitsOutTwoTurns) {
  game.AddCircuit("Ring.cct", Ring());
  // Player 0 taps straight into the wall above the start; player 1 then stays put three times.
  const std::string script = TapTitle() + TapInputButton() + Tap(31, 1) + ShotLine("crashed.png") + Tap(kGoX, kGoY) +
                             ShotLine("sat1.png") + Tap(kGoX, kGoY) + ShotLine("sat2.png") + Tap(kGoX, kGoY) +
                             ShotLine("back.png");
  const ProgramRun run = game.PlayCircuit(script, "Ring.cct");
  EXPECT_EQ(run.status, 0);

  struct Expect {
    const char* shot;
    int marks;
    uint16_t turn;
  };
  for (const Expect& e : {Expect{"crashed.png", 2, Blue()}, Expect{"sat1.png", 1, Blue()},
                          Expect{"sat2.png", 0, Blue()}, Expect{"back.png", 0, Red()}}) {
    SCOPED_TRACE(e.shot);
    Shot shot = ShotOf(e.shot);
    for (int i = 0; i < 3; ++i) {
      // Player 0's status row, rows 2-6: a 5 x 5 square per turn still to sit out.
      EXPECT_EQ(shot.Is(102 + 6 * i, 4, Red()), i < e.marks) << "mark " << i;
      EXPECT_EQ(shot.Is(100 + 6 * i, 2, Red()) && shot.Is(104 + 6 * i, 6, Red()), i < e.marks) << "mark " << i;
    }
    EXPECT_TRUE(shot.Is(kReachCircleBottom.x, kReachCircleBottom.y, e.turn));
    EXPECT_TRUE(shot.Is(kCarCorner.x, kCarCorner.y, Blue())) << "both cars on the start";
  }
}

// ---- Laps and the record -------------------------------------------------------------------------

TEST_F(Game, ALapWritesTheRecordIntoTheCircuitFile) {
  game.AddCircuit("Ring.cct", Ring());
  const Bytes before = ReadBytes(game.Host("Circuits/Ring.cct"));
  ASSERT_EQ(static_cast<long long>(before.size()), RecordOffset(240, 300)) << "no record yet";

  // One player, tapping directly along the centre line.
  std::string script = TapTitle() + TapMenuButton() + TapPlayersEntry() + TapPlayerCount(1) + TapInputButton();
  const std::vector<GridPoint> lap = SmallRingLap();
  for (size_t i = 0; i + 1 < lap.size(); ++i) script += Tap(lap[i]);
  script += ShotLine("before-line.png") + Tap(lap.back()) + ShotLine("lap.png");
  const ProgramRun run = game.PlayCircuit(script, "Ring.cct");
  EXPECT_EQ(run.status, 0);

  EXPECT_TRUE(ShotOf("before-line.png").Is(4, 4, Track()));
  Shot lapped = ShotOf("lap.png");
  EXPECT_TRUE(lapped.Is(2, 2, Red()) && lapped.Is(6, 6, Red()) && !lapped.Is(7, 4, Red()))
      << "one lap: a bar of 5 pixels";

  // The record is the trail from its second point: the start twice, then every move.
  const Bytes after = ReadBytes(game.Host("Circuits/Ring.cct"));
  const size_t offset = static_cast<size_t>(RecordOffset(240, 300));
  ASSERT_EQ(after.size(), offset + 2 + 4 * (lap.size() + 2));
  EXPECT_TRUE(std::equal(before.begin(), before.end(), after.begin())) << "the circuit itself is unchanged";
  EXPECT_EQ(GetU16(after, offset), lap.size() + 2);
  std::vector<GridPoint> record;
  for (size_t i = 0; i < lap.size() + 2; ++i) {
    record.push_back(Pt(static_cast<int16_t>(GetU16(after, offset + 2 + 4 * i)),
                        static_cast<int16_t>(GetU16(after, offset + 4 + 4 * i))));
  }
  std::vector<GridPoint> expected{Pt(31, 8), Pt(31, 8)};
  expected.insert(expected.end(), lap.begin(), lap.end());
  EXPECT_EQ(record, expected);
}

// The circuit tool stores a faster lap while a race runs; the race's own lap, slower than that
// but faster than the record the race loaded, must not take its place.
TEST_F(Game, ALapStoredByTheToolDuringARaceStandsAgainstASlowerLap) {
  game.AddCircuit("Ring.cct", Ring());
  const std::string circuit = game.Host("Circuits/Ring.cct");
  const size_t offset = static_cast<size_t>(RecordOffset(240, 300));
  std::string script = TapTitle() + TapMenuButton() + TapPlayersEntry() + TapPlayerCount(1) + TapInputButton();
  const std::vector<GridPoint> lap = SmallRingLap();
  for (size_t i = 0; i + 1 < lap.size(); ++i) script += Tap(lap[i]);
  script += ShotLine("racing.png") + "sleep 6000\n" + Tap(lap.back()) + ShotLine("lap.png");
  WriteText(game.Host("race script"), script);
  StartShell(game.Isolation() + "APEXGRID_VIDEO=headless APEXGRID_SCRIPT=" + Quote(game.Host("race script")) + " " +
                 Quote(game.Host("Apexgrid")) + " " + Quote(game.Device("Circuits/Ring.cct")) + " 2>" +
                 Quote(game.Host("race err")),
             game.Host("race status"));
  ASSERT_TRUE(WaitForFile(game.Host("racing.png")));

  const TempFolder scratch;
  ASSERT_EQ(RunShell(Quote(APEXGRID_CIRCUIT_TOOL) + " solve " + Quote(circuit) + " --seconds 0.5 --write-record >" +
                         Quote(game.Host("solved")) + " 2>&1",
                     scratch),
            0)
      << ReadText(game.Host("solved"));
  ASSERT_FALSE(FileExists(game.Host("lap.png"))) << "the race lapped before the tool stored its lap";
  const Bytes solved = ReadBytes(circuit);
  ASSERT_GT(solved.size(), offset + 2);
  EXPECT_LT(GetU16(solved, offset), lap.size() + 2) << "the tool's lap is the faster";

  ASSERT_TRUE(WaitForFile(game.Host("race status")));
  EXPECT_TRUE(FileExists(game.Host("lap.png"))) << ReadText(game.Host("race err"));
  EXPECT_EQ(ReadBytes(circuit), solved) << "the race's slower lap left the stored record alone";
}

// ---- Computer drivers ----------------------------------------------------------------------------

TEST_F(Game, WithEveryCarTheComputersTheRacePlaysItselfAndAProLapBecomesTheRecord) {
  game.AddCircuit("Ring.cct", Ring());
  // The drivers kept from an earlier run: the pro in the red car, the club in the blue.
  WriteText(game.Host("Data/drivers.txt"), "driver-1 = pro\ndriver-2 = club\n");
  std::string script = TapTitle() + ShotLine("start.png");
  for (int turn = 0; turn < 80; ++turn) script += "wait 800\n";
  script += ShotLine("later.png");
  const ProgramRun run = game.PlayCircuit(script, "Ring.cct");
  EXPECT_EQ(run.status, 0);

  Shot start = ShotOf("start.png");
  EXPECT_FALSE(start.Is(31, 8, Black())) << "the pro's target, not the predicted point, has the cursor";
  Shot later = ShotOf("later.png");
  EXPECT_TRUE(later.Is(2, 2, Red()) && later.Is(6, 6, Red())) << "the red car has lapped";
  // The record is a lap of the red car: it starts on the start, twice, and ends past the line.
  const Bytes after = ReadBytes(game.Host("Circuits/Ring.cct"));
  const size_t offset = static_cast<size_t>(RecordOffset(240, 300));
  ASSERT_GT(after.size(), offset + 2);
  const uint16_t count = GetU16(after, offset);
  EXPECT_GT(count, 4);
  EXPECT_LT(count, SmallRingLap().size() + 2) << "faster than the lap tapped along the centre line";
  EXPECT_EQ(Pt(static_cast<int16_t>(GetU16(after, offset + 2)), static_cast<int16_t>(GetU16(after, offset + 4))),
            Pt(31, 8));
}

TEST_F(Game, WhenTheComputerHasNoRoomForACircuitTheCarsStayThePlayersAndTheGamePlaysOn) {
#ifdef APEXGRID_SANITIZED
  GTEST_SKIP() << "the address sanitizer reserves more address space than the limit allows";
#endif
  // A circuit far larger than any built-in one: its picture and grid fit under the limit, the
  // computer's tables for it do not.
  TestCircuit big(4000, 4000);
  big.BlockRect(0, 0, 4000, 4000);
  for (int y = 3; y < 3997; ++y) {
    for (int x = 3; x < 3997; ++x) {
      big.cells[static_cast<size_t>(y) * 4000 + x] = x < 400 || y < 400 || x >= 3600 || y >= 3600 ? 0 : 1;
    }
  }
  big.lineA = Pt(2000, 0);
  big.lineB = Pt(2000, 405);
  big.start = Pt(2001, 200);
  big.ahead = Pt(2003, 200);
  game.AddCircuit("Big.cct", big);
  const std::string limit = "ulimit -v 300000";
  // D, then H and F, then D again: no computer takes the car, and nothing ends the game.
  const std::string script = TapTitle() + "key d\nwait 800\nkey h\nkey f\nkey d\nwait 800\n" + ShotLine("after.png");
  const ProgramRun run = game.Play(script, game.Device("Circuits/Big.cct"), "", "", limit);
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.LinesStarting("MESSAGE").empty()) << run.LinesStarting("MESSAGE").front();
  ShotOf("after.png");  // the game was still there to take it
  const std::string drivers = ReadText(game.Host("Data/drivers.txt"));
  EXPECT_NE(drivers.find("driver-1 = human"), std::string::npos) << drivers;
  // The next start, with the same limit, plays as well.
  const ProgramRun again = game.Play(TapTitle() + "wait 800\n", game.Device("Circuits/Big.cct"), "", "", limit);
  EXPECT_EQ(again.status, 0);
  EXPECT_TRUE(again.LinesStarting("MESSAGE").empty());
}

// ---- The menu ------------------------------------------------------------------------------------

TEST_F(Game, TheMenuAndThePlayerCountSubmenu) {
  game.AddCircuit("Ring.cct", Ring());
  Picture menu, sub, bar, title;
  LoadDataPicture(menu, "Menu.pic");
  LoadDataPicture(sub, "SubMenu_NPlayer.pic");
  LoadDataPicture(bar, "MenuBar.pic");
  LoadDataPicture(title, "GameData.dat");
  const std::string script = TapTitle() + ShotLine("board.png") + TapMenuButton() + ShotLine("menu.png") +
                             TapPlayersEntry() + ShotLine("submenu.png") + "blur\nfocus\n" + ShotLine("refocused.png") +
                             Tap(220, 150) + ShotLine("beside.png") +     // beside the submenu: nothing
                             TapPlayerCount(3) + ShotLine("three.png") +  // three players
                             TapMenuButton() + TapPlayersEntry() + TapPlayersEntry() + ShotLine("closed.png") +
                             Tap(200, 150) + ShotLine("race.png") +                        // the board beside the menu
                             TapMenuButton() + TapMenuButton() + ShotLine("button.png") +  // the menu button
                             TapMenuButton() + TapTitleEntry() + ShotLine("title.png") + Tap(5, 5) +
                             ShotLine("again.png");
  const ProgramRun run = game.PlayCircuit(script, "Ring.cct");
  EXPECT_EQ(run.status, 0);

  Shot board = ShotOf("board.png");
  Shot open = ShotOf("menu.png");
  EXPECT_TRUE(open.Shows(menu, 0, 0, kMenuPanelWidth, kMenuPanelHeight)) << "the panel over the board's left";
  EXPECT_TRUE(open.Shows(bar, 0, kMenuBarTop, kMenuButtonRight, kScreenRows, 0, kBarOn)) << "the menu button pressed";
  EXPECT_TRUE(open.Is(200, 150, Wall()));

  Shot withSub = ShotOf("submenu.png");
  EXPECT_TRUE(withSub.Shows(menu, 0, kPlayersEntryTop, kMenuPanelWidth, kPlayersEntryBottom, 0, kMenuHighlightRow))
      << "the players entry highlighted";
  EXPECT_TRUE(withSub.Shows(sub, kSubMenuLeft, kSubMenuTop, kSubMenuRight, kTwoPlayersTop, -kSubMenuLeft, -kSubMenuTop))
      << "the submenu panel above count 2";
  EXPECT_TRUE(withSub.Shows(sub, kSubMenuLeft, kTwoPlayersTop, kSubMenuRight, kTwoPlayersBottom, -kSubMenuLeft,
                            kSubMenuHighlightRow - kSubMenuTop))
      << "two players highlighted";
  EXPECT_TRUE(withSub.Shows(sub, kSubMenuLeft, kTwoPlayersBottom, kSubMenuRight, kSubMenuTop + kSubMenuHeight,
                            -kSubMenuLeft, -kSubMenuTop));
  EXPECT_TRUE(ShotOf("beside.png").SameAs(withSub));
  // Taps are still read as the menu's, so the menu is what comes back with the focus.
  EXPECT_TRUE(ShotOf("refocused.png").SameAs(withSub));

  Shot three = ShotOf("three.png");
  EXPECT_TRUE(three.Is(kCarCorner.x, kCarCorner.y, Green())) << "player 2 joins on the start";
  EXPECT_TRUE(three.Is(kReachCircleBottom.x, kReachCircleBottom.y, Red()));

  Shot closed = ShotOf("closed.png");
  EXPECT_TRUE(closed.Shows(menu, 0, 0, kMenuPanelWidth, kMenuPanelHeight))
      << "tapping players again closed the submenu";
  EXPECT_TRUE(closed.Is(180, 150, Wall()));

  EXPECT_TRUE(ShotOf("race.png").SameAs(three));
  EXPECT_TRUE(ShotOf("button.png").SameAs(three));
  EXPECT_TRUE(ShotOf("title.png").Shows(title, 0, 0, kScreenColumns, kScreenRows));
  EXPECT_TRUE(ShotOf("again.png").SameAs(three)) << "a tap on the title returns to the race";
}

TEST_F(Game, NewRaceFromTheMenuPutsEveryCarBackOnTheStart) {
  game.AddCircuit("Ring.cct", Ring());
  const std::string script = TapTitle() + ShotLine("start.png") + TapInputButton() + Tap(40, 8) + TapMenuButton() +
                             TapNewRaceEntry() + ShotLine("new.png");
  const ProgramRun run = game.PlayCircuit(script, "Ring.cct");
  EXPECT_EQ(run.status, 0);
  Shot fresh = ShotOf("new.png");
  EXPECT_TRUE(fresh.Is(40, 8, Track()));
  EXPECT_TRUE(fresh.SameAs(ShotOf("start.png"))) << "player 0 aims again and moves first";
}

TEST_F(Game, QuitEndsTheGameAndCircuitHandsOverToTheSelector) {
  game.AddCircuit("Ring.cct", Ring());
  ProgramRun run = game.PlayCircuit(TapTitle() + TapMenuButton() + TapQuitEntry() + ShotLine("after.png"), "Ring.cct");
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.lines.empty()) << run.lines.front();
  EXPECT_FALSE(FileExists(game.Host("after.png"))) << "nothing runs after quitting";

  run = game.PlayCircuit(TapTitle() + TapMenuButton() + TapCircuitEntry() + ShotLine("after.png"), "Ring.cct");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.lines, std::vector<std::string>{"START " + game.SelectorPath() + " | "});
  EXPECT_FALSE(FileExists(game.Host("after.png")));

  // O starts the online lobby beside the game, from the title and from the race board, not from
  // the menu; the game plays on.
  const std::string lobby = "START " + game.DeviceFolder() + "\\Apexlobby.exe | ";
  run = game.PlayCircuit("key o\n" + TapTitle() + "key o\n" + TapMenuButton() + "key o\n" + ShotLine("after.png"),
                         "Ring.cct");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.lines, (std::vector<std::string>{lobby, lobby}));
  EXPECT_TRUE(FileExists(game.Host("after.png")));
}

// On a circuit smaller than the board, the board beyond it is black: neither the title nor the
// closed menu stays there, and where the menu's Quit was, a tap is a race tap.
TEST_F(Game, BeyondACircuitSmallerThanTheBoardTheBoardIsBlack) {
  TestCircuit small = Field(Pt(50, 100));
  small.width = small.height = 200;
  small.pixels.assign(200 * 200, Track());
  small.cells.assign(200 * 200, 0);
  game.AddCircuit("Small.cct", small);
  const std::string script = TapTitle() + ShotLine("race.png") + TapMenuButton() + Tap(220, 150) +
                             ShotLine("closed.png") + TapQuitEntry() + ShotLine("tapped.png");
  const ProgramRun run = game.PlayCircuit(script, "Small.cct");
  EXPECT_EQ(run.status, 0);
  // Beyond the circuit: right of it, and below it, clear of the round counters at the top right.
  auto litBeyond = [](const Shot& shot) {
    int lit = 0;
    for (int y = 20; y < 300; ++y) {
      for (int x = y < 200 ? 200 : 0; x < 240; ++x) lit += shot.Is(x, y, Black()) ? 0 : 1;
    }
    return lit;
  };
  for (const char* name : {"race.png", "closed.png", "tapped.png"}) {
    const Shot shot = ShotOf(name);
    EXPECT_EQ(litBeyond(shot), 0) << name;
    EXPECT_TRUE(shot.Is(199, 199, Track())) << name;
  }
  EXPECT_TRUE(ShotOf("closed.png").SameAs(ShotOf("race.png")));
}

// ---- The menu bar --------------------------------------------------------------------------------

TEST_F(Game, TheRecordInputModeAndOutlineButtons) {
  TestCircuit ring = Ring();
  ring.hasRecordSection = true;
  ring.record = {Pt(31, 8), Pt(31, 8), Pt(51, 30), Pt(20, 30)};
  game.AddCircuit("Ring.cct", ring);
  Picture bar;
  LoadDataPicture(bar, "MenuBar.pic");
  const std::string script = TapTitle() + ShotLine("plain.png") + TapRecordButton() + ShotLine("record.png") +
                             TapOutlineButton() + ShotLine("outline.png") + TapInputButton() + ShotLine("direct.png") +
                             TapInputButton() + TapRecordButton() + TapOutlineButton() + ShotLine("off.png");
  const ProgramRun run = game.PlayCircuit(script, "Ring.cct");
  EXPECT_EQ(run.status, 0);

  Shot plain = ShotOf("plain.png");
  EXPECT_TRUE(plain.Shows(bar, 0, kMenuBarTop, kInputButtonLeft, kScreenRows, 0, kBarUp));
  EXPECT_TRUE(plain.Shows(bar, kInputButtonLeft, kMenuBarTop, kInputButtonRight, kScreenRows, 0, kBarOn))
      << "aiming is on";
  EXPECT_TRUE(plain.Shows(bar, kInputButtonRight, kMenuBarTop, kScreenColumns, kScreenRows, 0, kBarUp));
  EXPECT_TRUE(plain.Is(40, 30, Track()));
  EXPECT_TRUE(plain.Is(31, 1, Wall()));

  Shot record = ShotOf("record.png");
  EXPECT_TRUE(record.Shows(bar, kRecordButtonLeft, kMenuBarTop, kRecordButtonRight, kScreenRows, 0, kBarOn));
  EXPECT_FALSE(record.Is(40, 30, Track())) << "the record lap is drawn";
  EXPECT_TRUE(plain.Is(kCarCorner.x, kCarCorner.y, Blue()));
  EXPECT_FALSE(record.Is(kCarCorner.x, kCarCorner.y, Blue())) << "its marker, on its second point in round 0";

  Shot outline = ShotOf("outline.png");
  EXPECT_TRUE(outline.Shows(bar, kOutlineButtonLeft, kMenuBarTop, kOutlineButtonRight, kScreenRows, 0, kBarOn));
  EXPECT_TRUE(outline.Is(31, 1, Black())) << "a wall cell against the track";
  EXPECT_TRUE(outline.Is(31, 0, Wall())) << "a wall cell away from it";

  Shot direct = ShotOf("direct.png");
  EXPECT_TRUE(direct.Shows(bar, kInputButtonLeft, kMenuBarTop, kInputButtonRight, kScreenRows, 0, kBarUp))
      << "aiming is off";
  EXPECT_TRUE(direct.Is(kGoX, kGoY, Wall())) << "no Go button";

  EXPECT_TRUE(ShotOf("off.png").SameAs(plain));
}

// ---- Scrolling -----------------------------------------------------------------------------------

TEST_F(Game, ScrollKeysMoveTheViewButNotPastTheCircuitsEdges) {
  const TestCircuit nearTopLeft = Field(Pt(30, 40));
  const TestCircuit nearBottomRight = Field(Pt(370, 470));
  game.AddCircuit("TopLeft.cct", nearTopLeft);
  game.AddCircuit("BottomRight.cct", nearBottomRight);
  Picture field;
  ASSERT_EQ(CreatePicture(field, 400, 500, kPictureGivenSize), 0);
  std::copy(nearTopLeft.pixels.begin(), nearTopLeft.pixels.end(), field.pixels);

  struct Step {
    const char* key;
    int viewX, viewY;
  };
  struct Case {
    const char* circuit;
    int x0, y0, x1, y1;  // a part of the board that nothing is drawn over
    std::vector<Step> steps;
  };
  const Case cases[] = {
      {"TopLeft.cct",
       0,
       150,
       240,
       300,
       {{"", 0, 0},
        {"left", 0, 0},
        {"up", 0, 0},
        {"right", 20, 0},
        {"down", 20, 20},
        {"left", 0, 20},
        {"left", 0, 20}}},
      {"BottomRight.cct",
       0,
       20,
       150,
       200,
       {{"", 160, 200},
        {"right", 160, 200},
        {"down", 160, 200},
        {"left", 140, 200},
        {"up", 140, 180},
        {"right", 160, 180}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.circuit);
    std::string script = TapTitle();
    for (size_t i = 0; i < c.steps.size(); ++i) {
      if (c.steps[i].key[0] != 0) script += std::string("key ") + c.steps[i].key + "\n";
      script += ShotLine("step" + std::to_string(i) + ".png");
    }
    const ProgramRun run = game.PlayCircuit(script, c.circuit);
    EXPECT_EQ(run.status, 0);
    for (size_t i = 0; i < c.steps.size(); ++i) {
      const Step& s = c.steps[i];
      EXPECT_TRUE(ShotOf("step" + std::to_string(i) + ".png").Shows(field, c.x0, c.y0, c.x1, c.y1, s.viewX, s.viewY))
          << "after " << i << " keys the view stands at " << s.viewX << "," << s.viewY;
    }
  }
}

// ---- The screenshot key --------------------------------------------------------------------------

TEST_F(Game, KeyASavesTheScreenBesideTheProgram) {
  game.AddCircuit("Ring.cct", Ring());
  Picture title;
  LoadDataPicture(title, "GameData.dat");
  const std::string shot = game.Host("ScrSave.pic");

  auto pixelsOf = [](const Bytes& file) {
    std::vector<uint16_t> pixels;
    for (size_t at = 8; at + 1 < file.size(); at += 2) pixels.push_back(GetU16(file, at));
    return pixels;
  };

  // On the title screen.
  ProgramRun run = game.PlayCircuit("key a\n", "Ring.cct");
  EXPECT_EQ(run.status, 0);
  Bytes saved = ReadBytes(shot);
  ASSERT_EQ(saved.size(), 153608u);
  EXPECT_EQ(Bytes(saved.begin(), saved.begin() + 8), (Bytes{0xF0, 0, 0, 0, 0x40, 0x01, 0, 0}));
  EXPECT_EQ(pixelsOf(saved), std::vector<uint16_t>(title.pixels, title.pixels + 240 * 320));

  // On the race board, while aiming: the screen as shown, cursor and all; the old file replaced.
  run = game.PlayCircuit(TapTitle() + "down 40 12\n" + ShotLine("race.png") + "key a\n", "Ring.cct");
  EXPECT_EQ(run.status, 0);
  saved = ReadBytes(shot);
  ASSERT_EQ(saved.size(), 153608u);
  const std::vector<uint16_t> pixels = pixelsOf(saved);
  const Shot race = ShotOf("race.png");
  int differing = 0;
  for (int i = 0; i < 240 * 320; ++i) differing += race.Is(i % 240, i / 240, pixels[static_cast<size_t>(i)]) ? 0 : 1;
  EXPECT_EQ(differing, 0);
  EXPECT_EQ(pixels[12 * 240 + 40], Black()) << "the cursor is in it";
}

// ---- Start-up: the circuit, the last-circuit file and the selector --------------------------------

TEST_F(Game, TheLastCircuitIsRememberedAndPlayedWithoutACommandLine) {
  // A path with spaces and letters beyond ASCII comes back exactly.
  game.AddCircuit("Ring \xC3\x89t\xC3\xA9 2.cct", Ring());
  const std::string path = game.Device("Circuits/Ring \xC3\x89t\xC3\xA9 2.cct");
  const std::string lastmap = game.Host("Data/lastmap.dat");
  Picture title;
  LoadDataPicture(title, "GameData.dat");
  const std::u16string wide = FromUtf8(path);
  Bytes expected;
  for (char16_t c : wide) AppendU16(expected, c);

  struct Case {
    const char* what;
    std::string commandLine;
    std::string workingFolder;
  };
  // A path typed in a shell is remembered in full, so that the next start finds it from any folder
  // (the second run starts in another one).
  for (const Case& c :
       {Case{"the selector's full path", path, ""}, Case{"a relative path typed in the program folder",
                                                         "./Circuits/Ring \xC3\x89t\xC3\xA9 2.cct", game.Host("")}}) {
    std::filesystem::remove(lastmap);
    ProgramRun run = game.Play(ShotLine("first.png"), c.commandLine, "", c.workingFolder);
    EXPECT_EQ(run.status, 0) << c.what;
    EXPECT_TRUE(run.lines.empty()) << c.what;
    EXPECT_EQ(ReadBytes(lastmap), expected) << c.what << ": UTF-16 little-endian, nothing else";

    run = game.Play(ShotLine("second.png") + TapTitle() + ShotLine("race.png"), "");
    EXPECT_EQ(run.status, 0) << c.what;
    EXPECT_TRUE(run.lines.empty()) << c.what << ": no message and no selector";
    EXPECT_TRUE(ShotOf("second.png").Shows(title, 0, 0, kScreenColumns, kScreenRows)) << c.what;
    EXPECT_TRUE(ShotOf("race.png").Is(kCarCorner.x, kCarCorner.y, Blue())) << c.what;
    EXPECT_EQ(ReadBytes(lastmap), expected) << c.what << ": written again, the same";
  }
}

TEST_F(Game, WithoutACircuitTheSelectorStartsAndTheGameEnds) {
  ProgramRun run = game.Play(ShotLine("shown.png"), "");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.lines, std::vector<std::string>{"START " + game.SelectorPath() + " | "});
  EXPECT_FALSE(FileExists(game.Host("shown.png"))) << "the game never showed anything";
  EXPECT_FALSE(FileExists(game.Host("Data/lastmap.dat")));

  WriteBytes(game.Host("Data/lastmap.dat"), Bytes{});
  run = game.Play("", "");
  EXPECT_EQ(run.lines, std::vector<std::string>{"START " + game.SelectorPath() + " | "})
      << "an empty file is no circuit";

  std::filesystem::remove(game.Host("Data/lastmap.dat"));
  ASSERT_EQ(mkfifo(game.Host("Data/lastmap.dat").c_str(), 0600), 0);
  run = game.Play("", "");
  EXPECT_EQ(run.lines, std::vector<std::string>{"START " + game.SelectorPath() + " | "}) << "nor is a FIFO, at once";
}

TEST_F(Game, ACircuitThatCantBeLoadedIsReportedAndTheSelectorStarts) {
  game.AddCircuit("Ring.cct", Ring());
  const std::string lastmap = game.Host("Data/lastmap.dat");
  ASSERT_EQ(game.PlayCircuit("", "Ring.cct").status, 0);
  const Bytes remembered = ReadBytes(lastmap);
  WriteBytes(game.Host("Circuits/Short.cct"), Bytes{4, 0, 3, 0, 1, 0});
  ASSERT_EQ(mkfifo(game.Host("Circuits/Pipe.cct").c_str(), 0600), 0);  // would hold a reader forever

  struct Case {
    std::string commandLine;
    std::string shown;
  };
  const std::string quoted = "\"" + game.Device("Circuits/Ring.cct") + "\"";
  for (const Case& c :
       {Case{game.Device("Circuits/Missing.cct"), game.Device("Circuits/Missing.cct")},
        Case{game.Device("Circuits/Short.cct"), game.Device("Circuits/Short.cct")},
        Case{game.Device("Circuits/Pipe.cct"), game.Device("Circuits/Pipe.cct")}, Case{quoted, quoted}}) {
    SCOPED_TRACE(c.commandLine);
    const ProgramRun run = game.Play(ShotLine("shown.png"), c.commandLine);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.lines, (std::vector<std::string>{"MESSAGE Error | Couldn't load circuit:\\n" + c.shown,
                                                   "START " + game.SelectorPath() + " | "}));
    EXPECT_EQ(ReadBytes(lastmap), remembered) << "only a circuit that loaded is remembered";
  }

  // A remembered circuit that has gone, or become a FIFO, is reported the same way, and stays
  // remembered.
  std::filesystem::remove(game.Host("Circuits/Ring.cct"));
  ProgramRun run = game.Play("", "");
  EXPECT_EQ(run.lines,
            (std::vector<std::string>{"MESSAGE Error | Couldn't load circuit:\\n" + game.Device("Circuits/Ring.cct"),
                                      "START " + game.SelectorPath() + " | "}));
  EXPECT_EQ(ReadBytes(lastmap), remembered);
  ASSERT_EQ(mkfifo(game.Host("Circuits/Ring.cct").c_str(), 0600), 0);
  run = game.Play("", "");
  EXPECT_EQ(run.lines,
            (std::vector<std::string>{"MESSAGE Error | Couldn't load circuit:\\n" + game.Device("Circuits/Ring.cct"),
                                      "START " + game.SelectorPath() + " | "}));
  EXPECT_EQ(ReadBytes(lastmap), remembered);
}

// ---- A second copy -------------------------------------------------------------------------------

TEST_F(Game, ASecondCopyBringsTheFirstToTheFrontAndEnds) {
  game.AddCircuit("Ring.cct", Ring());
  game.AddCircuit("Other.cct", Ring());
  Picture title;
  LoadDataPicture(title, "GameData.dat");
  // The first copy shows its title, loses the focus, and waits (in real time) to be found. The
  // second starts once the focus has gone, so that coming to the front has something to give back.
  const std::string first = "blur\n" + ShotLine("up.png") + "sleep 5000\n" + ShotLine("front.png");
  WriteText(game.Host("first script"), first);
  StartShell(game.Isolation() + "APEXGRID_VIDEO=headless APEXGRID_SCRIPT=" + Quote(game.Host("first script")) + " " +
                 Quote(game.Host("Apexgrid")) + " " + Quote(game.Device("Circuits/Ring.cct")) + " 2>" +
                 Quote(game.Host("first err")),
             game.Host("first status"));
  ASSERT_TRUE(WaitForFile(game.Host("up.png")));

  const ProgramRun second = game.Play(ShotLine("second.png"), game.Device("Circuits/Other.cct"));
  EXPECT_EQ(second.status, 0);
  EXPECT_TRUE(second.lines.empty());
  EXPECT_FALSE(FileExists(game.Host("second.png"))) << "the second copy showed nothing";

  ASSERT_TRUE(WaitForFile(game.Host("front.png")));
  Shot front;
  for (int tries = 0; tries < 100 && !front.Load(game.Host("front.png")); ++tries) Pause(50);
  // Coming to the front gave the first copy the focus back, which shows the race board.
  EXPECT_FALSE(front.Shows(title, 0, 0, kScreenColumns, kScreenRows));
  EXPECT_TRUE(front.Is(kCarCorner.x, kCarCorner.y, Blue()));
  const std::u16string remembered = FromUtf8(game.Device("Circuits/Ring.cct"));
  Bytes expected;
  for (char16_t c : remembered) AppendU16(expected, c);
  EXPECT_EQ(ReadBytes(game.Host("Data/lastmap.dat")), expected) << "the second copy didn't start up";
  ASSERT_TRUE(WaitForFile(game.Host("first status")));
  Pause(50);
  EXPECT_EQ(ReadText(game.Host("first status")), "0\n") << ReadText(game.Host("first err"));
}

// ---- Missing data pictures -----------------------------------------------------------------------

TEST_F(Game, WithoutItsDataPicturesTheGamePlaysOnAndSaysWhichAreMissing) {
  GameFolder bare(false);
  bare.AddCircuit("Ring.cct", Ring());
  const std::string script = "shot " + bare.Host("title.png") + "\n" + TapTitle() + "down 40 8\nup 40 8\n" +
                             Tap(75, 5) + TapMenuButton() + TapPlayersEntry() + TapPlayerCount(1) + TapOutlineButton() +
                             "key a\n";
  const ProgramRun run = bare.PlayCircuit(script, "Ring.cct");
  EXPECT_EQ(run.status, 0);
  ASSERT_EQ(run.lines.size(), 6u);
  for (const char* name :
       {"MenuBar.pic", "GoButton.pic", "Menu.pic", "SubMenu_NPlayer.pic", "GameData.dat", "Numbers-CourierNew14.pic"}) {
    EXPECT_TRUE(run.Said("Apexgrid: can't read the picture " + bare.Device("Data/") + name + "; playing on without it"))
        << name;
  }
  Shot title;
  ASSERT_TRUE(title.Load(bare.Host("title.png")));
  EXPECT_TRUE(title.Is(0, 0, Black()) && title.Is(239, 319, Black())) << "a black screen rather than stale memory";
  EXPECT_TRUE(FileExists(bare.Host("ScrSave.pic")));
}

// ---- No desktop ----------------------------------------------------------------------------------

TEST_F(Game, WithoutADesktopTheGameSaysSoInOneLineAndEnds) {
  game.AddCircuit("Ring.cct", Ring());
  const std::string err = game.Host("err");
  const std::string status = game.Host("status");
  std::system(("(" + game.Isolation() + "env -u DISPLAY -u WAYLAND_DISPLAY -u APEXGRID_VIDEO -u SDL_VIDEODRIVER " +
               Quote(game.Host("Apexgrid")) + " " + Quote(game.Device("Circuits/Ring.cct")) + " 2>" + Quote(err) +
               "); echo $? >" + Quote(status))
                  .c_str());
  EXPECT_EQ(ReadText(status), "1\n");
  const std::vector<std::string> lines = LinesOf(ReadText(err));
  ASSERT_EQ(lines.size(), 1u) << ReadText(err);
  EXPECT_EQ(lines[0].rfind("Apexgrid: can't open a display (", 0), 0u) << lines[0];
  EXPECT_FALSE(FileExists(game.Host("Data/lastmap.dat"))) << "nothing was started";
}
