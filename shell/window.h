// The game's frame: its one window, the message loop, and the window procedure that hands every
// message to the game's handlers. Only one copy of the game runs at a time.
#pragma once

#include <cstdint>

#include "platform/window.h"

// The game's entry point: creates the window (or brings a running copy to the front), runs the
// message loop, shuts down, and returns the exit code: 0, or 1 when the screen couldn't be
// opened.
int GameMain(int showCommand);

// Creates and starts the game window: false when another copy runs (it is brought to the front
// instead) or no window can be made. True otherwise, also when start-up has closed the window
// again (no circuit): the loop then ends at once.
bool CreateMainWindow(int showCommand);

// Registers the window class of the game window. The class atom, 0 when it can't be registered.
uint16_t RegisterMainWindowClass(const char16_t* className);

// The window procedure of the game window.
intptr_t MainWindowProc(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);
