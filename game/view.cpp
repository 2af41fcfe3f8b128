// The aim target, the view on the current car, and a hint's cross.
#include "game/view.h"

#include "game/board.h"
#include "game/cursor.h"
#include "game/globals.h"
#include "gfx/layout.h"
#include "rules/move.h"

namespace {

bool hintShown = false;  // a hint's cross is on a board tapped directly

}  // namespace

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
  if (CurrentRecord(gameState).inputMode == kInputAim || hintShown) DrawCursor();
}

void ShowHintCross() { hintShown = true; }

bool HintShown() { return hintShown; }

void ForgetHint() { hintShown = false; }
