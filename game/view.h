// Between two moves: the aim target, the view on the current car, a new race, and the keys.
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
// aims.
void ShowBoard();

// Every car back on the start, round 0, player 0 to move, the race board shown. The player count,
// the colours, the display switches and the circuit's record stay.
void NewRace();

// A key press: during a race the four direction keys scroll the view by 20 pixels; on every
// screen the A key saves the last composed screen as ScrSave.pic beside the program. Other keys
// do nothing.
void HandleKey(int16_t key);
