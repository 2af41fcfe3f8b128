// The game's screen in this process, shared by the board and game-logic tests: the display open,
// the frame and board pictures made, the keys read, and a circuit loaded for a race.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "tests/support.h"

class GameScreen : public ::testing::Test {
 protected:
  TempFolder folder;

  void SetUp() override;
  void TearDown() override;

  // Loads the circuit and gives the state its start values for a race: two players, both aiming,
  // the race shown.
  void Race(const TestCircuit& circuit);

  static uint16_t Frame(int x, int y);
};
