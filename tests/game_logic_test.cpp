// The game's handlers in-process, on small circuits, for what the scripted runs can't reach
// exactly: the aim arithmetic, every boundary of the tap regions, the view clamp, a new race, a
// full trail, messages before start-up, running out of memory and a screen that won't open.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "game/cursor.h"
#include "game/drivers.h"
#include "game/globals.h"
#include "game/online.h"
#include "game/screens.h"
#include "game/startup.h"
#include "game/turn.h"
#include "game/view.h"
#include "gfx/colour.h"
#include "gfx/display.h"
#include "gfx/layout.h"
#include "gfx/picture.h"
#include "platform/files.h"
#include "platform/gx.h"
#include "platform/out_of_memory.h"
#include "platform/platform.h"
#include "rules/move.h"
#include "shell/window.h"
#include "tests/game_screen.h"
#include "tests/taps.h"

namespace {

class Play : public GameScreen {
 protected:
  // An open circuit of the size with the cars on the start, the race shown, the pen free.
  void Race(uint16_t width, uint16_t height, GridPoint start, const std::vector<GridPoint>& walls = {}) {
    TestCircuit circuit(width, height);
    circuit.start = start;
    circuit.lineA = Pt(0, 0);
    circuit.lineB = Pt(0, 1);
    circuit.ahead = Pt(1, 0);
    for (GridPoint w : walls) circuit.Block(w.x, w.y);
    GameScreen::Race(circuit);
    gameState.penLock = 0;
    CentreView();
    ResetTarget();
  }

  static GridPoint Target() { return Pt(gameState.targetX, gameState.targetY); }
  static GridPoint CarOf(int player) {
    const PlayerRecord& p = gameState.players[player];
    return p.trail[p.lastIndex];
  }
};

}  // namespace

// ---- The aim cursor ------------------------------------------------------------------------------

TEST_F(Play, AimingPullsTheTargetBackOntoRadiusNineteenAsTheGameRoundsIt) {
  struct Case {
    int viewX, viewY, penX, penY;
    GridPoint target;
  };
  // The predicted point is (100, 100) in every case.
  const Case cases[] = {
      {0, 0, 110, 105, Pt(110, 105)},  // inside the disc: the pen point itself
      {0, 0, 116, 111, Pt(116, 111)},  // 19.4 away: still inside
      {0, 0, 112, 116, Pt(111, 115)},  // exactly 20: pulled back
      {0, 0, 150, 100, Pt(119, 100)},  {0, 0, 130, 140, Pt(111, 115)},
      {0, 0, 100, 50, Pt(100, 81)},    {0, 0, 70, 60, Pt(88, 84)},  // truncation toward zero: 20 away, further than 19
      {40, 20, 90, 110, Pt(113, 113)},                              // a scrolled view
      {40, 20, 60, 80, Pt(100, 100)},                               // the predicted point itself
  };
  Race(400, 400, Pt(100, 100));
  for (const Case& c : cases) {
    gameState.viewX = static_cast<int16_t>(c.viewX);
    gameState.viewY = static_cast<int16_t>(c.viewY);
    AimAt(static_cast<int16_t>(c.penX), static_cast<int16_t>(c.penY));
    EXPECT_EQ(Target(), c.target) << "pen " << c.penX << "," << c.penY << " view " << c.viewX << "," << c.viewY;
  }
}

TEST_F(Play, TheCursorIsRedExactlyWhenTheMoveWouldCrash) {
  Race(240, 300, Pt(100, 100), {Pt(110, 99), Pt(110, 100), Pt(110, 101)});
  const uint16_t red = MakeColour(31, 0, 0), black = MakeColour(0, 0, 0);

  AimAt(115, 100);  // through the wall
  for (int d = -3; d <= 3; ++d) {
    EXPECT_EQ(Frame(115 + d, 100), red);
    EXPECT_EQ(Frame(115, 100 + d), red);
  }
  EXPECT_NE(Frame(111, 100), red) << "7 pixels wide";
  EXPECT_NE(Frame(115, 96), red) << "and 7 high";
  const uint16_t* screen = GXPresentedScreen();
  ASSERT_NE(screen, nullptr);
  EXPECT_EQ(screen[100 * 240 + 115], red) << "put on the screen at once";

  AimAt(100, 112);  // clear
  EXPECT_EQ(Frame(100, 112), black);
  EXPECT_EQ(Frame(100, 109), black);
  EXPECT_EQ(Frame(115, 100), boardPicture.pixels[100 * 240 + 115]) << "the old cursor is gone";
}

TEST_F(Play, PenMovesSteerOnlyARaceWhileThePenIsFreeAndThePlayerAims) {
  struct Case {
    int16_t screenMode;
    int sy;
    uint8_t penLock;
    int16_t inputMode;
    bool steers;
  };
  const Case cases[] = {
      {kScreenRace, 110, 0, kInputAim, true},  {kScreenRace, 299, 0, kInputAim, true},
      {kScreenRace, 300, 0, kInputAim, false}, {kScreenRace, -1, 0, kInputAim, false},
      {kScreenRace, 110, 1, kInputAim, false}, {kScreenRace, 110, 0, kInputDirect, false},
      {kScreenMenu, 110, 0, kInputAim, false}, {kScreenTitle, 110, 0, kInputAim, false},
  };
  Race(240, 300, Pt(100, 100));
  for (const Case& c : cases) {
    ResetTarget();
    gameState.screenMode = c.screenMode;
    gameState.penLock = c.penLock;
    gameState.players[0].inputMode = c.inputMode;
    HandlePenMove(105, static_cast<int16_t>(c.sy));
    EXPECT_EQ(Target() != Pt(100, 100), c.steers)
        << "mode " << c.screenMode << " y " << c.sy << " lock " << int{c.penLock} << " input " << c.inputMode;
  }
}

// ---- Taps ----------------------------------------------------------------------------------------

TEST_F(Play, EveryMenuRegionAndItsEdges) {
  struct Case {
    int x, y;
    int16_t subMenu;
    int16_t screenMode;  // what follows
    int16_t subMenuAfter;
    uint16_t players;
    bool newRace;
    uint16_t mover = 0;  // the car to move before the tap, and after it
    uint16_t moverAfter = 0;
  };
  const Case cases[] = {
      {100, 249, 0, kScreenRace, 0, 2, true},  // new race wins the row it shares with players
      {140, 275 - 1, 1, kScreenRace, 0, 2, true},
      {100, 248, 0, kScreenMenu, 1, 2, false},  // players
      {100, 228, 1, kScreenMenu, 0, 2, false},
      {100, 227, 0, kScreenMenu, 0, 2, false},   // between circuit and players
      {100, 203, 0, kScreenMenu, 0, 2, false},   // between title and circuit
      {100, 202, 0, kScreenTitle, 0, 2, false},  // title
      {0, 180, 1, kScreenTitle, 1, 2, false},
      {100, 179, 0, kScreenMenu, 0, 2, false},
      {141, 249, 0, kScreenRace, 0, 2, false},  // the board beside the menu
      {239, 299, 0, kScreenRace, 0, 2, false},
      {141, 0, 0, kScreenMenu, 0, 2, false},
      {240, 100, 0, kScreenMenu, 0, 2, false},
      {60, 300, 0, kScreenRace, 0, 2, false},  // the menu button
      {60, 320, 1, kScreenRace, 1, 2, false},
      {61, 310, 0, kScreenMenu, 0, 2, false},
      {150, 76, 1, kScreenRace, 1, 1, false},        // player counts: the submenu stays marked open
      {150, 76, 1, kScreenRace, 1, 1, false, 1, 0},  // the car to move leaves the race: the next round's first moves
      {150, 100, 1, kScreenRace, 1, 2, false, 1, 1},
      {209, 93, 1, kScreenRace, 1, 1, false},
      {150, 93 + 19 * 7, 1, kScreenRace, 1, 8, false},
      {150, 94, 1, kScreenMenu, 1, 2, false},
      {141, 75, 1, kScreenMenu, 1, 2, false},
      {210, 80, 1, kScreenMenu, 1, 2, false},
      {220, 150, 1, kScreenMenu, 1, 2, false},
      {150, 151, 1, kScreenMenu, 1, 2, false},  // between counts 4 and 5
  };
  Race(240, 300, Pt(100, 100));
  for (const Case& c : cases) {
    gameState.screenMode = kScreenMenu;
    gameState.subMenuOpen = c.subMenu;
    gameState.playerCount = 2;
    gameState.round = 5;
    gameState.currentPlayer = c.mover;
    HandleTap(static_cast<uint16_t>(c.x), static_cast<uint16_t>(c.y));
    SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y) + " submenu " + std::to_string(c.subMenu));
    EXPECT_EQ(gameState.screenMode, c.screenMode);
    EXPECT_EQ(gameState.subMenuOpen, c.subMenuAfter);
    EXPECT_EQ(gameState.playerCount, c.players);
    EXPECT_EQ(gameState.round == 0, c.newRace);
    EXPECT_EQ(gameState.currentPlayer, c.moverAfter);
    if (!c.newRace) {
      EXPECT_EQ(gameState.round, c.moverAfter < c.mover ? 6 : 5);
    }
  }
}

TEST_F(Play, QuitOnlyQuitsAndGivesTheScreenBackOnce) {
  Race(240, 300, Pt(100, 100));
  gameState.screenMode = kScreenMenu;
  gameState.round = 5;
  HandleTap(kQuitEntry.x, kQuitEntryTap.first);  // the row quit shares with new race: quit wins
  EXPECT_EQ(gameState.round, 5) << "not a new race";
  EXPECT_EQ(display.stagingBuffer, nullptr);
  EXPECT_EQ(framePicture.pixels, nullptr);
  EXPECT_FALSE(IsStartedUp());
  ShutDown();  // as the end of the message loop does: nothing more
  EXPECT_EQ(framePicture.pixels, nullptr);
}

TEST_F(Play, EveryMenuBarButtonAndItsEdges) {
  enum Effect { kNone, kMenu, kRecord, kInput, kOutline };
  struct Case {
    int x, y;
    Effect effect;
  };
  const Case cases[] = {
      {0, 300, kMenu},     {60, 319, kMenu},  {61, 310, kNone},     {126, 310, kNone},    {127, 310, kRecord},
      {149, 310, kRecord}, {150, 310, kNone}, {152, 310, kNone},    {153, 310, kInput},   {177, 310, kInput},
      {178, 310, kNone},   {180, 310, kNone}, {181, 310, kOutline}, {201, 310, kOutline}, {202, 310, kNone},
      {210, 310, kNone},   {211, 310, kNone}, {239, 310, kNone},    {240, 310, kNone},  // the shell button changes no
                                                                                        // state
  };
  Race(240, 300, Pt(100, 100));
  for (const Case& c : cases) {
    gameState.screenMode = kScreenRace;
    gameState.showRecord = gameState.showOutline = 0;
    gameState.players[0].inputMode = kInputAim;
    ResetTarget();
    HandleTap(static_cast<uint16_t>(c.x), static_cast<uint16_t>(c.y));
    SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
    EXPECT_EQ(gameState.screenMode == kScreenMenu, c.effect == kMenu);
    EXPECT_EQ(gameState.showRecord == 1, c.effect == kRecord);
    EXPECT_EQ(gameState.players[0].inputMode == kInputDirect, c.effect == kInput);
    EXPECT_EQ(gameState.showOutline == 1, c.effect == kOutline);
    EXPECT_EQ(Target(), Pt(100, 100)) << "no aiming from the bar";
    EXPECT_EQ(gameState.currentPlayer, 0);
  }
}

TEST_F(Play, ADirectTapMovesOnlyFromStrictlyInsideTheReach) {
  struct Case {
    int x, y;
    bool moves;
  };
  const Case cases[] = {{119, 100, true}, {112, 116, false}, {100, 80, false}, {100, 81, true},
                        {86, 86, true},   {85, 85, false},   {100, 100, true}};
  for (const Case& c : cases) {
    Race(240, 300, Pt(100, 100));
    gameState.players[0].inputMode = kInputDirect;
    HandleTap(static_cast<uint16_t>(c.x), static_cast<uint16_t>(c.y));
    SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
    EXPECT_EQ(gameState.currentPlayer, c.moves ? 1 : 0);
    EXPECT_EQ(CarOf(0), c.moves ? Pt(c.x, c.y) : Pt(100, 100)) << "the tapped pixel itself";
  }
}

TEST_F(Play, TheGoButtonAnswersOnePixelBeyondItsPictureEachWay) {
  struct Case {
    int x, y;
    bool commits;
  };
  const Case cases[] = {{150, 60, true},  {170, 80, true},  {160, 70, true}, {171, 80, false},
                        {170, 81, false}, {149, 60, false}, {150, 59, false}};
  for (const Case& c : cases) {
    Race(240, 300, Pt(115, 95));
    ASSERT_EQ(gameState.goButtonX, 150);
    ASSERT_EQ(gameState.goButtonY, 60);
    gameState.targetX = 120;  // aimed 5 to the right
    HandleTap(static_cast<uint16_t>(c.x), static_cast<uint16_t>(c.y));
    SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
    EXPECT_EQ(CarOf(0), c.commits ? Pt(120, 95) : Pt(115, 95));
    EXPECT_EQ(gameState.currentPlayer, c.commits ? 1 : 0);
    if (!c.commits) {
      EXPECT_NE(Target(), Pt(120, 95)) << "the tap aimed instead";
    }
  }
}

TEST_F(Play, AfterAMoveTheNextPlayerStartsCentredWithTheTargetOnItsPredictedPoint) {
  Race(1000, 1000, Pt(500, 500));
  gameState.players[1].trail[1] = Pt(600, 600);
  gameState.players[1].trail[2] = Pt(610, 605);  // moving (10, 5): predicted (620, 610)
  gameState.scrollX = 40;
  gameState.scrollY = -20;
  gameState.targetX = 510;
  HandleTap(static_cast<uint16_t>(gameState.goButtonX), static_cast<uint16_t>(gameState.goButtonY));
  EXPECT_EQ(CarOf(0), Pt(510, 500));
  EXPECT_EQ(gameState.currentPlayer, 1);
  EXPECT_EQ(gameState.scrollX, 0);
  EXPECT_EQ(gameState.scrollY, 0);
  EXPECT_EQ(gameState.viewX, 620 - 120);
  EXPECT_EQ(gameState.viewY, 610 - 150);
  EXPECT_EQ(Target(), Pt(620, 610));
  EXPECT_EQ(gameState.penLock, 1);
}

TEST_F(Play, ACarWithAFullTrailCantMoveAndItsTurnPasses) {
  struct Case {
    uint16_t lastIndex;
    int targetX;  // (109, 100) is clear; (111, 100) is behind a wall and needs room for a crash
  };
  for (const Case& c : {Case{5000, 109}, Case{4999, 111}, Case{4998, 111}}) {
    Race(240, 300, Pt(100, 100), {Pt(110, 100)});
    PlayerRecord& car = gameState.players[0];
    for (int i = 0; i <= c.lastIndex; ++i) car.trail[i] = Pt(100, 100);
    car.lastIndex = c.lastIndex;
    gameState.targetX = static_cast<int16_t>(c.targetX);
    HandleTap(static_cast<uint16_t>(gameState.goButtonX), static_cast<uint16_t>(gameState.goButtonY));
    SCOPED_TRACE(c.lastIndex);
    EXPECT_EQ(car.lastIndex, c.lastIndex);
    EXPECT_EQ(car.waitTurns, 0);
    EXPECT_EQ(gameState.currentPlayer, 1);
  }
  // One point of room is enough for a clean move.
  Race(240, 300, Pt(100, 100));
  gameState.players[0].lastIndex = 4999;
  gameState.players[0].trail[4998] = gameState.players[0].trail[4999] = Pt(100, 100);
  ResetTarget();
  HandleTap(static_cast<uint16_t>(gameState.goButtonX), static_cast<uint16_t>(gameState.goButtonY));
  EXPECT_EQ(gameState.players[0].lastIndex, 5000);
}

// ---- The view ------------------------------------------------------------------------------------

TEST_F(Play, TheViewFollowsThePredictedPointAndStaysOnTheCircuit) {
  struct Case {
    uint16_t width, height;
    GridPoint predicted;
    int scrollX, scrollY;
    int viewX, viewY;
    int scrollXAfter, scrollYAfter;
  };
  const Case cases[] = {
      {400, 500, Pt(200, 250), 0, 0, 80, 100, 0, 0},       {400, 500, Pt(200, 250), -40, 60, 40, 160, -40, 60},
      {400, 500, Pt(30, 40), 0, 0, 0, 0, 90, 110},      // the refused shift goes into the scroll
      {400, 500, Pt(30, 40), -20, -20, 0, 0, 90, 110},  // presses towards the edge don't pile up
      {400, 500, Pt(370, 470), 0, 0, 160, 200, -90, -120}, {400, 500, Pt(200, 250), 300, 300, 160, 200, 80, 100},
      {200, 250, Pt(100, 100), 40, -20, 0, 0, 20, 50},  // smaller than the board: never moves
  };
  for (const Case& c : cases) {
    Race(c.width, c.height, c.predicted);
    gameState.scrollX = static_cast<int16_t>(c.scrollX);
    gameState.scrollY = static_cast<int16_t>(c.scrollY);
    CentreView();
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " scroll " + std::to_string(c.scrollX) +
                 "," + std::to_string(c.scrollY));
    EXPECT_EQ(gameState.viewX, c.viewX);
    EXPECT_EQ(gameState.viewY, c.viewY);
    EXPECT_EQ(gameState.scrollX, c.scrollXAfter);
    EXPECT_EQ(gameState.scrollY, c.scrollYAfter);
  }
}

// ---- The computer drivers and foresight ----------------------------------------------------------

TEST_F(Play, WithForesightTheCursorIsAmberWhereNoLaterMoveCanStopTheCar) {
  // A wall across the whole field at x = 130, and a short one at x = 100 below the car's line.
  std::vector<GridPoint> walls;
  for (int y = 0; y < 300; ++y) walls.push_back(Pt(130, y));
  for (int y = 105; y <= 115; ++y) walls.push_back(Pt(100, y));
  Race(240, 300, Pt(70, 100), walls);
  // The car comes from (40, 100): 30 a round to the right, predicted at (100, 100).
  gameState.players[0].trail[1] = Pt(40, 100);
  const uint16_t red = MakeColour(31, 0, 0), amber = MakeColour(31, 47, 0), black = MakeColour(0, 0, 0);
  struct Case {
    uint8_t foresight;
    GridPoint target;
    uint16_t colour;
  };
  const Case cases[] = {
      {1, Pt(110, 100), amber},  // 40 a round, 20 short of the wall: no braking stops it in time
      {0, Pt(110, 100), black},  // the same without foresight
      {1, Pt(100, 100), black},  // 30 a round: 11, then 0
      {1, Pt(108, 112), red},    // through the short wall: a crash is red, foresight or not
  };
  for (const Case& c : cases) {
    driverChoices.foresight = c.foresight;
    gameState.targetX = c.target.x;
    gameState.targetY = c.target.y;
    DrawCursor();
    EXPECT_EQ(Frame(c.target.x + 3, c.target.y), c.colour)
        << c.target.x << "," << c.target.y << " foresight " << int{c.foresight};
  }
}

TEST_F(Play, AComputerCarShowsItsMovePausesWithTheBoardItsOwnAndMoves) {
  Race(240, 300, Pt(100, 100));
  driverChoices.driver[0] = kDriverPro;
  BeginTurn();
  const GridPoint chosen = Target();
  EXPECT_TRUE(IsWithinReach(static_cast<int16_t>(chosen.x - 100), static_cast<int16_t>(chosen.y - 100), 20));

  // Meanwhile taps and drags on the board and the input button do nothing; the menu still opens.
  HandleTap(static_cast<uint16_t>(gameState.goButtonX), static_cast<uint16_t>(gameState.goButtonY));
  HandleTap(150, 150);
  HandlePenMove(130, 130);
  HandleTap(kInputButton.x, kInputButton.y);
  EXPECT_EQ(CarOf(0), Pt(100, 100));
  EXPECT_EQ(Target(), chosen);
  EXPECT_EQ(gameState.players[0].inputMode, kInputAim);
  HandleTap(kMenuButton.x, kMenuButton.y);
  EXPECT_EQ(gameState.screenMode, kScreenMenu);
  for (uint32_t tick = 0; tick < kComputerPause / kComputerTick; ++tick) ComputerTick();
  EXPECT_EQ(CarOf(0), Pt(100, 100)) << "no move while the menu is shown";

  HandleTap(kMenuButton.x, kMenuButton.y);  // back on the board: the pause begins again
  for (uint32_t tick = 1; tick < kComputerPause / kComputerTick; ++tick) ComputerTick();
  EXPECT_EQ(CarOf(0), Pt(100, 100)) << "still pausing";
  ComputerTick();
  EXPECT_EQ(CarOf(0), chosen);
  EXPECT_EQ(gameState.currentPlayer, 1);
  EXPECT_FALSE(IsComputerTurn()) << "player 1 drives its own car";
  // While player 1 ponders, the pro prepares its lap on the same ticks, and nothing moves.
  for (int tick = 0; tick < 20; ++tick) ComputerTick();
  EXPECT_EQ(gameState.currentPlayer, 1);
  EXPECT_EQ(CarOf(1), Pt(100, 100));
  // No pen made the computer's move, so none is locked out: player 1's first drag steers.
  HandlePenMove(static_cast<int16_t>(105 - gameState.viewX), static_cast<int16_t>(100 - gameState.viewY));
  EXPECT_EQ(Target(), Pt(105, 100));
}

// In an online race this computer's move goes out in order; the other computer's car waits, its
// board not ours (taps, drags, D and H do nothing on it), until its move arrives: then it is shown
// and committed after the computer's pause. Moves arriving twice or out of order are played once,
// in order. Without assists, D, H and F do nothing on our own car either.
TEST_F(Play, AnOnlineRaceSendsOurMovesAndPlaysTheRemoteCarsAsTheyArrive) {
  Race(240, 300, Pt(100, 100));
  driverChoices = DriverChoices{};  // every car its player's
  onlineRace = OnlineRace();
  onlineRace.active = true;
  onlineRace.remote[1] = true;
  onlineRace.names[1] = u"ana";
  onlineRace.serverTurnAt = 0;
  onlineRace.serverTurn = 0;
  BeginTurn();
  EXPECT_EQ(ShownCaption(), u"Apexgrid \u2013 red: your turn");
  EndTurn(101, 100);
  ASSERT_EQ(onlineRace.outbox.size(), 1u);
  EXPECT_EQ(onlineRace.outbox[0].index, 0);
  EXPECT_EQ(onlineRace.outbox[0].to, Pt(101, 100));
  EXPECT_EQ(onlineRace.moves, 1);
  EXPECT_EQ(ShownCaption(), u"Apexgrid \u2013 blue: ana (online), waiting");

  // The remote car carries the online badge (the badges' third plate), not a computer level's.
  CreatePicture(badgePicture, 3 * kBadgeWidth, kBadgeHeight, 0);
  for (uint32_t i = 0; i < badgePicture.width * badgePicture.height; ++i) {
    badgePicture.pixels[i] = i % badgePicture.width >= 2 * kBadgeWidth ? MakeColour(0, 63, 0) : MakeColour(31, 0, 0);
  }
  driverChoices.driver[1] = kDriverClub;  // the other computer's choice, which shows nothing here
  ShowBoard();
  const GridPoint badge = Pt(100 - gameState.viewX + kBadgeOffsetX, 100 - gameState.viewY + kBadgeOffsetY);
  EXPECT_EQ(Frame(badge.x, badge.y), MakeColour(0, 63, 0));
  ReleasePixels(badgePicture);
  driverChoices.driver[1] = kDriverHuman;

  const GridPoint before = Target();
  HandleTap(static_cast<uint16_t>(gameState.goButtonX), static_cast<uint16_t>(gameState.goButtonY));
  HandleTap(150, 150);
  HandlePenMove(130, 130);
  CycleDriver();
  ShowHint();
  for (int tick = 0; tick < 20; ++tick) ComputerTick();
  EXPECT_EQ(CarOf(1), Pt(100, 100));
  EXPECT_EQ(Target(), before);
  EXPECT_EQ(driverChoices.driver[1], kDriverHuman);

  EXPECT_FALSE(TakeArrivedMove(OnlineMove{0, 0, Pt(101, 100)})) << "ours, and had";
  EXPECT_FALSE(TakeArrivedMove(OnlineMove{2, 1, Pt(99, 100)})) << "not the next";
  EXPECT_TRUE(TakeArrivedMove(OnlineMove{1, 1, Pt(100, 101)}));
  EXPECT_FALSE(TakeArrivedMove(OnlineMove{1, 1, Pt(100, 101)})) << "again, after a reconnection";
  PlayArrivedMoves();
  EXPECT_EQ(Target(), Pt(100, 101));
  for (uint32_t tick = 1; tick < kComputerPause / kComputerTick; ++tick) ComputerTick();
  EXPECT_EQ(CarOf(1), Pt(100, 100)) << "still pausing";
  ComputerTick();
  EXPECT_EQ(CarOf(1), Pt(100, 101));
  EXPECT_EQ(onlineRace.moves, 2);
  EXPECT_EQ(onlineRace.outbox.size(), 1u) << "the remote car's move isn't ours to send";
  EXPECT_EQ(gameState.currentPlayer, 0);
  // Our car again, but only once the server says so.
  EXPECT_TRUE(IsRemoteTurn());
  EXPECT_EQ(ShownCaption(), u"Apexgrid \u2013 red: waiting for the server");
  onlineRace.serverTurnAt = 2;
  PlayArrivedMoves();
  EXPECT_FALSE(IsRemoteTurn());
  EXPECT_EQ(ShownCaption(), u"Apexgrid \u2013 red: your turn");

  onlineRace.assistsOff = true;
  CycleDriver();
  ShowHint();
  ToggleForesight();
  EXPECT_EQ(driverChoices.driver[0], kDriverHuman);
  EXPECT_EQ(driverChoices.foresight, 0);
  EXPECT_EQ(Target(), PredictedPoint(gameState.players[0]));

  // The server passes over a car it counts as finished: its order wins here too.
  // Its next move arrives during this one's pause: kept, and played once this one is committed.
  EndTurn(102, 100);
  EXPECT_TRUE(TakeArrivedMove(OnlineMove{3, 1, Pt(100, 102)}));
  PlayArrivedMoves();
  EXPECT_TRUE(TakeArrivedMove(OnlineMove{4, 1, Pt(100, 104)}));
  onlineRace.serverTurnAt = 4;
  onlineRace.serverTurn = 1;
  for (uint32_t tick = 0; tick < kComputerPause / kComputerTick; ++tick) ComputerTick();
  EXPECT_EQ(CarOf(1), Pt(100, 102));
  EXPECT_EQ(gameState.currentPlayer, 1);
  for (uint32_t tick = 0; tick < kComputerPause / kComputerTick; ++tick) ComputerTick();
  EXPECT_EQ(CarOf(1), Pt(100, 104));
  EXPECT_EQ(CarOf(0), Pt(102, 100));
  // Our car's move made elsewhere (the same account on another computer) is the server's word: it
  // is played as a remote one, and not sent again.
  const size_t sent = onlineRace.outbox.size();
  EXPECT_TRUE(TakeArrivedMove(OnlineMove{5, 0, Pt(103, 100)}));
  PlayArrivedMoves();
  for (uint32_t tick = 0; tick < kComputerPause / kComputerTick; ++tick) ComputerTick();
  EXPECT_EQ(CarOf(0), Pt(103, 100));
  EXPECT_EQ(onlineRace.outbox.size(), sent);
  // A refused move: the server's word stays in the caption until our next move.
  onlineRace.notice = u"the server refused the move: not your turn";
  EXPECT_EQ(CaptionForCarToMove(),
            u"Apexgrid \u2013 blue: ana (online), waiting \u2013 the server refused the move: "
            u"not your turn");
  onlineRace.serverTurnAt = 7;
  onlineRace.serverTurn = 0;
  EXPECT_TRUE(TakeArrivedMove(OnlineMove{6, 1, Pt(100, 106)}));
  PlayArrivedMoves();
  for (uint32_t tick = 0; tick < kComputerPause / kComputerTick; ++tick) ComputerTick();
  EXPECT_EQ(ShownCaption(), u"Apexgrid \u2013 red: your turn \u2013 the server refused the move: not your turn");
  // The menu's new race and player count leave the server's race as it is.
  gameState.screenMode = kScreenMenu;
  NewRace();
  ChangePlayerCount(4);
  EXPECT_EQ(gameState.playerCount, 2);
  EXPECT_EQ(CarOf(0), Pt(103, 100));
  EXPECT_EQ(gameState.screenMode, kScreenRace);
  EndTurn(104, 100);
  EXPECT_EQ(onlineRace.outbox.size(), sent + 1);
  EXPECT_TRUE(onlineRace.notice.empty());
  // Our car's place as soon as it finishes: behind the cars that finished in an earlier round only.
  for (const int16_t theirs : {2, 3}) {
    onlineRace.finishRound[0] = 3;
    onlineRace.finishRound[1] = theirs;
    EXPECT_EQ(CaptionForCarToMove(), std::u16string(u"Apexgrid \u2013 blue: ana (online), waiting \u2013 red ") +
                                         (theirs == 2 ? u"2nd" : u"1st") + u" at the finish");
  }
  // The race ended on the server with moves still to play here, past our finished car: each goes
  // to its own car.
  EXPECT_TRUE(TakeArrivedMove(OnlineMove{8, 1, Pt(100, 108)}));
  EXPECT_TRUE(TakeArrivedMove(OnlineMove{9, 1, Pt(100, 110)}));
  onlineRace.over = true;
  PlayArrivedMoves();
  for (uint32_t tick = 0; tick < 2 * kComputerPause / kComputerTick; ++tick) ComputerTick();
  EXPECT_EQ(CarOf(1), Pt(100, 110));
  EXPECT_EQ(CarOf(0), Pt(104, 100));
  EXPECT_EQ(onlineRace.moves, 10);
  // The end: the caption gives this computer's car its place.
  onlineRace.over = true;
  onlineRace.places[0] = 2;
  onlineRace.places[1] = 1;
  EXPECT_EQ(CaptionForCarToMove(), u"Apexgrid \u2013 the race is over, red 2nd");
  onlineRace = OnlineRace();
}

TEST_F(Play, AHintAimsAtTheProsMoveAndTappingDirectlyItsCrossStaysUntilTheNextTap) {
  Race(240, 300, Pt(100, 100));
  ShowHint();
  const GridPoint hint = Target();
  EXPECT_NE(hint, Pt(100, 100)) << "the pro gets going";
  EXPECT_EQ(Frame(hint.x, hint.y), MakeColour(0, 0, 0)) << "aiming: the cursor on it";

  gameState.players[0].inputMode = kInputDirect;
  ShowBoard();
  ShowHint();
  EXPECT_EQ(Target(), hint) << "the same move, asked again";
  EXPECT_EQ(Frame(hint.x, hint.y), MakeColour(0, 0, 0)) << "tapping directly: a cross on it";
  HandleKey(kKeyUp);
  HandleTap(kOutlineButton.x, kOutlineButton.y);
  EXPECT_EQ(Frame(hint.x, hint.y), MakeColour(0, 0, 0)) << "through a scroll and the outline switch";
  HandleTap(10, 10);  // out of reach: no move, but the cross goes
  EXPECT_EQ(CarOf(0), Pt(100, 100));
  EXPECT_EQ(Frame(hint.x, hint.y), boardPicture.pixels[hint.y * 240 + hint.x]);
}

TEST_F(Play, DCyclesTheDriverOfTheCarToMoveAndTheChoicesAreKept) {
  std::filesystem::create_directory(folder.HostFile("Data"));
  LoadDriverChoices(DevicePath(folder.host()));
  Race(240, 300, Pt(100, 100));
  gameState.players[0].inputMode = kInputDirect;
  const uint8_t cycle[] = {kDriverClub, kDriverPro, kDriverHuman, kDriverClub};
  for (uint8_t expected : cycle) {
    CycleDriver();
    EXPECT_EQ(driverChoices.driver[0], expected);
    EXPECT_EQ(IsComputerTurn(), expected != kDriverHuman);
    // The computer aims; back in the player's hands, the car taps directly again.
    EXPECT_EQ(gameState.players[0].inputMode, expected == kDriverHuman ? kInputDirect : kInputAim);
  }
  ToggleForesight();
  driverChoices = DriverChoices{};
  LoadDriverChoices(DevicePath(folder.host()));
  EXPECT_EQ(driverChoices.driver[0], kDriverClub) << "read back from the settings file";
  EXPECT_EQ(driverChoices.driver[1], kDriverHuman);
  EXPECT_EQ(driverChoices.foresight, 1);
}

TEST_F(Play, ScrollKeysWorkOnlyDuringARace) {
  Race(1000, 1000, Pt(500, 500));
  for (int16_t mode : {kScreenMenu, kScreenTitle}) {
    gameState.screenMode = mode;
    for (int16_t key : {kKeyUp, kKeyDown, kKeyLeft, kKeyRight, kKeyB, kKeyStart}) HandleKey(key);
    EXPECT_EQ(gameState.scrollX, 0);
    EXPECT_EQ(gameState.scrollY, 0);
  }
  gameState.screenMode = kScreenRace;
  gameState.targetX = 505;
  HandleKey(kKeyUp);
  HandleKey(kKeyRight);
  HandleKey(kKeyRight);
  EXPECT_EQ(gameState.scrollX, 40);
  EXPECT_EQ(gameState.scrollY, -20);
  EXPECT_EQ(gameState.viewX, 500 - 120 + 40);
  EXPECT_EQ(gameState.viewY, 500 - 150 - 20);
  EXPECT_EQ(Target(), Pt(505, 500)) << "scrolling keeps the aim";
}

TEST_F(Play, ANewRaceResetsTheRaceAndKeepsTheSettings) {
  Race(400, 400, Pt(100, 100));
  const uint16_t colour = gameState.players[3].colour;
  gameState.playerCount = 3;
  gameState.showOutline = gameState.showRecord = 1;
  for (PlayerRecord& p : gameState.players) {
    p.trail[3] = Pt(120, 100);
    p.lastIndex = 3;
    p.waitTurns = 2;
    p.reverseCrossings = 1;
    p.laps = 4;
    p.inputMode = kInputDirect;
  }
  gameState.round = 9;
  gameState.currentPlayer = 2;
  gameState.scrollX = gameState.scrollY = 60;
  gameState.screenMode = kScreenMenu;
  gameState.subMenuOpen = 1;
  gameState.penLock = 0;
  NewRace();
  for (const PlayerRecord& p : gameState.players) {
    EXPECT_EQ(p.lastIndex, 2);
    EXPECT_EQ(p.trail[2], Pt(100, 100));
    EXPECT_EQ(p.trail[1], Pt(100, 100));
    EXPECT_EQ(p.waitTurns + p.reverseCrossings + p.laps, 0);
    EXPECT_EQ(p.inputMode, kInputAim);
  }
  EXPECT_EQ(gameState.players[3].colour, colour);
  EXPECT_EQ(gameState.playerCount, 3);
  EXPECT_EQ(gameState.showOutline + gameState.showRecord, 2);
  EXPECT_EQ(gameState.round, 0);
  EXPECT_EQ(gameState.currentPlayer, 0);
  EXPECT_EQ(gameState.screenMode, kScreenRace);
  EXPECT_EQ(gameState.subMenuOpen, 0);
  EXPECT_EQ(gameState.penLock, 1);
  EXPECT_EQ(Target(), Pt(100, 100));
  EXPECT_EQ(gameState.scrollX, 120 - 100) << "only the clamp's share of the view";
}

// ---- The window procedure before start-up ---------------------------------------------------------

TEST_F(Play, BeforeStartUpHasFinishedMessagesChangeNothing) {
  // The state as constructed: no circuit, screen mode 0.
  gameState.screenMode = kScreenNone;
  gameState.playerCount = 0;
  gameState.penLock = 1;
  struct Sent {
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
  };
  for (const Sent& m :
       {Sent{WM_SETFOCUS, 0, 0}, Sent{WM_TIMER, kTitleTimer, 0}, Sent{WM_KEYDOWN, 0xC1, 1}, Sent{WM_KEYDOWN, 0x26, 1},
        Sent{WM_LBUTTONDOWN, MK_LBUTTON, MakePenPosition(5, 5)}, Sent{WM_MOUSEMOVE, MK_LBUTTON, MakePenPosition(9, 9)},
        Sent{WM_KILLFOCUS, 0, 0}, Sent{WM_PAINT, 0, 0}}) {
    EXPECT_EQ(MainWindowProc(nullptr, m.message, m.wParam, m.lParam), 0) << m.message;
  }
  EXPECT_EQ(GXPresentedScreen(), nullptr) << "nothing was drawn";
  EXPECT_EQ(gameState.screenMode, kScreenNone);
  MainWindowProc(nullptr, WM_LBUTTONUP, 0, MakePenPosition(5, 5));
  EXPECT_EQ(gameState.penLock, 0);
}

// ---- Fatal failures ------------------------------------------------------------------------------

TEST(OutOfMemory, TheUserIsToldAndTheProgramEndsWithCodeOne) {
  EXPECT_EXIT(OutOfMemory(), ::testing::ExitedWithCode(1), "MESSAGE Error \\| out of memory");
  InstallOutOfMemoryHandler();
  EXPECT_EQ(std::get_new_handler(), &OutOfMemory);
#ifndef APEXGRID_SANITIZED  // the sanitizers' allocator reports and aborts on its own
  EXPECT_EXIT(
      {
        volatile size_t huge = SIZE_MAX / 2;
        void* p = ::operator new(huge);
        std::printf("%p\n", p);
      },
      ::testing::ExitedWithCode(1), "MESSAGE Error \\| out of memory");
#endif
}

TEST(ScreenFailure, TheGameSaysItCantOpenTheScreenAndCloses) {
  GXDisplayProperties eightBits = DefaultDisplayProperties();
  eightBits.cBPP = 8;
  struct Case {
    GXDisplayProperties properties;
    bool failOpen;
  };
  TempFolder key;  // a single-instance key of this test's own
  for (const Case& c : {Case{DefaultDisplayProperties(), true}, Case{eightBits, false}}) {
    setenv("APEXGRID_VIDEO", "headless", 1);
    setenv("APEXGRID_INSTANCE", key.host().c_str(), 1);
    unsetenv("APEXGRID_SCRIPT");
    unsetenv("APEXGRID_SCRIPT_Apexgrid");
    SetDisplayProperties(c.properties, c.failOpen);
    char name[] = "Apexgrid";
    char* argv[] = {name, nullptr};
    std::string error;
    ASSERT_EQ(StartPlatform(1, argv, "Apexgrid", &error), 0) << error;
    ::testing::internal::CaptureStderr();
    const int code = GameMain(SW_SHOWNORMAL);
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(code, 1);
    EXPECT_EQ(said, "MESSAGE Error | Apexgrid can't open the screen, so it will close.\n");
    EXPECT_EQ(IsWindow(mainWindow), 0) << "no empty window left behind";
    EXPECT_FALSE(IsStartedUp());
    StopPlatform(code);
    ResetDisplay();
  }
}
