// Between two moves: the aim target, the view on the current car, and a hint's cross.
#pragma once

#include <cstdint>

// Puts the aim target on the current car's predicted point: every turn starts with no change of
// velocity.
void ResetTarget();

// Places the view so that the current car's predicted point sits at the board's centre, shifted
// by the player's scroll, and composes and presents the race board. The board keeps the view
// inside the circuit; a shift it refused is taken back out of the scroll, so presses towards an
// edge already in view don't pile up.
void CentreView();

// The race board as the current player needs it: CentreView, and the aim cursor for a player who
// aims or the hint's cross for one who taps directly.
void ShowBoard();

// Tapping directly, a hint's cross shows where to tap until the next tap or the end of the turn,
// through scrolls and the menu bar's switches.
void ShowHintCross();
bool HintShown();
void ForgetHint();
