// The aim target, the view on the current car, a new race, and the keys.
#include "game/view.h"

#include "data/folder.h"
#include "game/board.h"
#include "game/cursor.h"
#include "game/drivers.h"
#include "game/globals.h"
#include "game/race_keeping.h"
#include "gfx/layout.h"
#include "platform/window.h"
#include "rules/move.h"

void ResetTarget() {
  const GridPoint predicted = PredictedPoint(CurrentRecord(gameState));
  gameState.targetX = predicted.x;
  gameState.targetY = predicted.y;
}

void CentreView() {
  GameState& s = gameState;
  // The view follows the predicted point rather than the car: the reach disc is what the player
  // works with, so it is the disc that is centred.
  const GridPoint predicted = PredictedPoint(CurrentRecord(s));
  const int16_t wantedX = static_cast<int16_t>(s.scrollX + (predicted.x - kCarScreenColumn));
  const int16_t wantedY = static_cast<int16_t>(s.scrollY + (predicted.y - kCarScreenRow));
  s.viewX = wantedX;
  s.viewY = wantedY;
  DrawBoard();
  s.scrollX = static_cast<int16_t>(s.scrollX - wantedX + s.viewX);
  s.scrollY = static_cast<int16_t>(s.scrollY - wantedY + s.viewY);
}

void ShowBoard() {
  CentreView();
  if (CurrentRecord(gameState).inputMode == kInputAim) DrawCursor();
}

void NewRace() {
  GameState& s = gameState;
  ResetRace(s);
  ForgetRace();
  s.screenMode = kScreenRace;
  CentreView();
  ResetTarget();
  if (CurrentRecord(s).inputMode == kInputAim) DrawCursor();
  BeginTurn();
}

void HandleKey(int16_t key) {
  GameState& s = gameState;
  if (PlaybackShown()) {
    PlaybackKey(key);
    return;
  }
  if (s.screenMode == kScreenRace) {
    struct Scroll {
      int16_t key;
      int dx;
      int dy;
    };
    const Scroll scrolls[] = {
        {keyList.vkUp, 0, -kScrollStep},
        {keyList.vkDown, 0, kScrollStep},
        {keyList.vkLeft, -kScrollStep, 0},
        {keyList.vkRight, kScrollStep, 0},
    };
    for (const Scroll& scroll : scrolls) {
      if (key != scroll.key) continue;
      s.scrollX = static_cast<int16_t>(s.scrollX + scroll.dx);
      s.scrollY = static_cast<int16_t>(s.scrollY + scroll.dy);
      ShowBoard();  // the aim target stays where it was
    }
  }
  if (key == keyList.vkA) SavePicture(framePicture, GetWritableFolder() + kScreenshotFile);
  // The host keys of what the hand-held never had.
  if (key == kHostKeyDriver) CycleDriver();
  if (key == kHostKeyHint) ShowHint();
  if (key == kHostKeyForesight) ToggleForesight();
  if (key == kHostKeyResume) ResumeLastRace();
  if (key == kHostKeyPlayback) StartPlayback();
  if (key == kHostKeyExport) ExportRace();
}
