// The program-wide objects of the game: its pictures and its state.
#pragma once

#include "gfx/picture.h"
#include "platform/gx.h"
#include "rules/state.h"

extern Picture framePicture;     // every screen is composed and presented from here
extern Picture boardPicture;     // the last composed race board, for overlays
extern Picture menuBarPicture;   // the bar under the board, buttons up and switched on
extern Picture goButtonPicture;  // the Go button, normal and pressed
extern Picture menuPicture;      // the menu panel, normal and highlighted
extern Picture subMenuPicture;   // the player-count panel, normal and highlighted
extern Picture titlePicture;     // the full-screen title
extern Picture digitsPicture;    // the digits 0 to 9 side by side
extern GameState gameState;

// The game's one window; null until it has been created.
extern WindowHandle mainWindow;

// The window's class name and title; together they are what a second copy looks for.
inline constexpr char16_t kWindowClassName[] = u"APEXGRID";
inline constexpr char16_t kWindowTitle[] = u"Apexgrid";

// The badges of the computer drivers, shown beside their cars: beyond the hand-held's pictures.
extern Picture badgePicture;

// The display library's default keys, portrait assignment: filled at start-up, read by the key
// handler.
extern GXKeyList keyList;
