// The screens and every tap on them: the title, the race board with its menu bar, and the menu
// with the player-count submenu; and the sequence that ends a turn.
#pragma once

#include <cstdint>

// The title's timer: started with the window, its first tick leaves the title screen.
constexpr uintptr_t kTitleTimer = 100;
constexpr uint32_t kTitlePeriod = 400;

// A pen-down at screen point (x, y), each the 16 bits of the message's position read as
// unsigned. Read by the screen shown: any tap leaves the title; on the race board a tap moves
// (direct mode), aims or taps Go (aim mode), or presses a menu-bar button; on the menu it picks
// an entry. Before start-up has finished (screen mode 0) taps are ignored.
void HandleTap(uint16_t x, uint16_t y);

// Leaves the title for the race board: stops the title's timer, shows the board and puts the aim
// target on the predicted point. The first timer tick does the same.
void LeaveTitle();

// Ends the current player's turn with a move to (x, y) in track coordinates: the Go button is
// shown pressed, the move committed (a crash sends the car back), the turn passed, the view
// centred on the next car with its target reset, and the pen locked until it is lifted. A move
// the car's full trail has no room for is refused and the turn passes all the same.
void EndTurn(int16_t x, int16_t y);

// The menu over the last race board, with the player-count submenu when it is open.
void DrawMenu();

// The Go button in its pressed look (for a player who aims), put straight on the screen.
void FlashGoButton();
