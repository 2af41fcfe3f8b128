// The screens and every tap and key on them: the title, the race board with its menu bar, and the
// menu with the player-count submenu.
#pragma once

#include <cstdint>

// A pen-down at screen point (x, y), each the 16 bits of the message's position read as
// unsigned. Read by the screen shown: any tap leaves the title; on the race board a tap moves
// (direct mode), aims or taps Go (aim mode), or presses a menu-bar button; on the menu it picks
// an entry. Before start-up has finished (screen mode 0) taps are ignored.
void HandleTap(uint16_t x, uint16_t y);

// The menu over the last race board, with the player-count submenu when it is open.
void DrawMenu();

// A key press: during a race the four direction keys scroll the view by 20 pixels; on every
// screen the A key saves the last composed screen as ScrSave.pic beside the program; on the race
// board the host keys D, H and F hand the car to the computer, show a hint and switch foresight.
// Other keys do nothing.
void HandleKey(int16_t key);
