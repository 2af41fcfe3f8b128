// A race drawn move by move by the board renderer, as an animated GIF: the board as each car to
// move saw it when its turn began, or the view kept on one car.
#pragma once

#include <cstdint>
#include <string>

#include "race/race_file.h"

struct BoardAnimation {
  int scale = 1;                        // each pixel enlarged so many times
  int follow = -1;                      // the car the view stays on; -1: the car to move
  bool menuBar = true;                  // the whole screen, or the board's 240 x 300 without the menu bar
  int delay = 25;                       // hundredths of a second a move
  const int16_t* inputModes = nullptr;  // each car's way of moving, for the cursor; all aim when null
};

// Replays the race over the circuit loaded in gameState (whose race is lost: the caller keeps what
// it needs) and writes a frame before the first move and after each. The pictures must be loaded
// and the display open. 0, or 1 with *error naming what failed.
int WriteBoardAnimation(const RaceFile& race, const std::string& raceName, const std::string& outHost,
                        const BoardAnimation& options, std::string* error);
