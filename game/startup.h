// Start-up and shut-down: the screen, the pictures, the keys, the circuit, the title; and the
// hand-over to the circuit selector.
#pragma once

#include "platform/window.h"

// Makes the game playable: opens the screen, creates and loads the pictures, opens the keys,
// loads the circuit named on the command line (or the one played last), remembers it, sets the
// start values and shows the title. Without a circuit it starts the selector and closes the
// game; a circuit that can't be loaded is reported first. A screen that can't be opened is
// reported and the game closes.
void StartUp(WindowHandle window);

// True from the end of a successful start-up until shut-down: only then do ticks, focus changes,
// keys and pen reach the game.
bool IsStartedUp();

// True when start-up gave up because the screen couldn't be opened.
bool ScreenFailed();

// Gives back the screen and the keys. Runs once a run; later calls do nothing.
void ShutDown();

// Starts the circuit selector beside the game and closes the game.
void StartSelector();
// Starts the online lobby (Apexlobby) beside the game, which plays on.
void StartLobby();

// Puts the title picture on the screen, unchanged.
void ShowTitle();
