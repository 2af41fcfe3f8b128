// The aim cursor: steering the aim target with the pen inside the reach disc, and drawing it in
// the colour that tells whether the move would crash.
#pragma once

#include <cstdint>

// Aims at screen point (sx, sy): a point strictly inside the reach disc around the current car's
// predicted point becomes the target; one further out is pulled back towards the predicted point
// onto radius moveRadius − 1, in single precision and truncated toward zero (so towards smaller
// coordinates the target may land one unit further out). Then redraws the cursor.
void AimAt(int16_t sx, int16_t sy);

// A pen move: aims there when a race is shown, the pen is above the menu bar (sy as unsigned
// below 300), the pen has been lifted since the last committed move, and the current player
// aims. Otherwise nothing.
void HandlePenMove(int16_t sx, int16_t sy);

// Redraws the last composed board with a 7 x 7 plus sign on the target, red when the path from
// the car to the target touches a blocked cell (the move would crash), else black, and puts it
// straight on the screen.
void DrawCursor();
