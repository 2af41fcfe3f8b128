// The aim cursor.
#include "game/cursor.h"

#include <cmath>

#include "game/drivers.h"
#include "game/globals.h"
#include "game/online.h"
#include "gfx/colour.h"
#include "gfx/display.h"
#include "gfx/draw.h"
#include "gfx/layout.h"
#include "rules/move.h"

void AimAt(int16_t sx, int16_t sy) {
  GameState& s = gameState;
  const GridPoint predicted = PredictedPoint(CurrentRecord(s));
  const int radius = s.moveRadius;
  const int16_t vx = static_cast<int16_t>(sx + s.viewX - predicted.x);
  const int16_t vy = static_cast<int16_t>(sy + s.viewY - predicted.y);
  const int32_t squared = static_cast<int32_t>(vx) * vx + static_cast<int32_t>(vy) * vy;
  const float distance = static_cast<float>(std::sqrt(static_cast<double>(squared)));
  // A pen on the predicted point itself is inside any disc; only a radius of 0 (a state that was
  // never started) could otherwise send it into the division below.
  if (distance < static_cast<float>(radius) || squared == 0) {
    s.targetX = static_cast<int16_t>(s.viewX + sx);
    s.targetY = static_cast<int16_t>(s.viewY + sy);
  } else {
    // Pulled back onto radius R − 1, every step in single precision as the game has always
    // rounded it; the conversion truncates toward zero.
    const float k = 1.0f / distance;
    const float x = static_cast<float>((radius - 1) * vx) * k + static_cast<float>(predicted.x - s.viewX) +
                    static_cast<float>(s.viewX);
    const float y = static_cast<float>((radius - 1) * vy) * k + static_cast<float>(predicted.y - s.viewY) +
                    static_cast<float>(s.viewY);
    s.targetX = static_cast<int16_t>(static_cast<int32_t>(x));
    s.targetY = static_cast<int16_t>(static_cast<int32_t>(y));
  }
  DrawCursor();
}

void HandlePenMove(int16_t sx, int16_t sy) {
  const GameState& s = gameState;
  if (s.screenMode != kScreenRace) return;
  if (static_cast<uint16_t>(sy) >= kMenuBarTop) return;
  if (s.penLock != 0) return;
  if (CurrentRecord(gameState).inputMode != kInputAim) return;
  if (IsComputerTurn() || IsRemoteTurn()) return;  // the computer aims for itself
  AimAt(sx, sy);
}

void DrawCursor() {
  GameState& s = gameState;
  const PlayerRecord& car = CurrentRecord(s);
  // The same segment the commit tests, so the colour foretells exactly whether the move crashes.
  const GridPoint at = car.trail[car.lastIndex < kTrailCapacity ? car.lastIndex : kTrailCapacity - 1];
  const bool blocked = IsPathBlocked(s.track, at.x, at.y, s.targetX, s.targetY);
  // Amber, with foresight on: the move itself is clean, but no later moves can stop the car.
  const uint16_t colour = blocked                                         ? RedColour()
                          : MoveIsDoomed(GridPoint{s.targetX, s.targetY}) ? AmberColour()
                                                                          : BlackColour();
  CopyPicture(boardPicture, framePicture);  // erases the previous cursor
  const int16_t cx = static_cast<int16_t>(s.targetX - s.viewX);
  const int16_t cy = static_cast<int16_t>(s.targetY - s.viewY);
  DrawLine(framePicture, static_cast<int16_t>(cx - kCursorArm), cy, static_cast<int16_t>(cx + kCursorArm), cy, colour);
  DrawLine(framePicture, cx, static_cast<int16_t>(cy - kCursorArm), cx, static_cast<int16_t>(cy + kCursorArm), colour);
  PresentFrame(display, framePicture, kPresentDirect);
}
