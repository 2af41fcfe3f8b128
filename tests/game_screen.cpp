// The game's screen in this process, for the board and game-logic tests.
#include "tests/game_screen.h"

#include "data/circuit.h"
#include "game/drivers.h"
#include "game/globals.h"
#include "gfx/colour.h"
#include "gfx/display.h"
#include "platform/gx.h"

void GameScreen::SetUp() {
  ASSERT_EQ(OpenDisplay(display, nullptr, 1), 0);
  ASSERT_EQ(CreatePicture(framePicture, 0, 0, kPictureScreenSize), 0);
  ASSERT_EQ(CreatePicture(boardPicture, 0, 0, kPictureScreenSize), 0);
  keyList = GXGetDefaultKeys(GX_NORMALKEYS);
}

void GameScreen::TearDown() {
  CloseDisplay(display);
  display = Display{};
  ResetDisplay();
}

void GameScreen::Race(const TestCircuit& circuit) {
  WriteBytes(folder.HostFile("c.cct"), circuit.Encode());
  ASSERT_EQ(LoadCircuit(gameState.track, folder.File("c.cct")), 0);
  SetStartValues(gameState);
  SetPlayerColours(gameState, MakeColour);
  ForgetBrain();  // the computer learns the new circuit
  gameState.screenMode = kScreenRace;
}

uint16_t GameScreen::Frame(int x, int y) { return framePicture.pixels[y * framePicture.width + x]; }
