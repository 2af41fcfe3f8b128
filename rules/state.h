// The game state: every car, the loaded circuit, and whose turn it is, what the screen shows and
// where the view stands. One instance lives for the whole run.
#pragma once

#include <cstdint>

#include "data/circuit.h"
#include "data/grid_point.h"

constexpr int kMaxPlayers = 8;
constexpr int kTrailCapacity = 5001;  // trail indices 0 to 5000

// Input modes of a player.
constexpr int16_t kInputDirect = 1;  // tap the destination itself
constexpr int16_t kInputAim = 2;     // steer the aim cursor, then tap Go

// What the screen shows, and how taps are read.
constexpr int16_t kScreenNone = 0;  // start-up has not finished
constexpr int16_t kScreenRace = 1;
constexpr int16_t kScreenMenu = 2;
constexpr int16_t kScreenTitle = 3;

constexpr uint16_t kMoveRadius = 20;
constexpr int16_t kGoButtonStartX = 224;
constexpr int16_t kGoButtonStartY = 0;

struct PlayerRecord {
  GridPoint trail[kTrailCapacity];  // oldest first; the car stands on trail[lastIndex]
  uint16_t lastIndex = 0;           // index of the newest point, not a count
  uint16_t colour = 0;              // a pixel of the screen's format
  int16_t waitTurns = 0;            // turns still to sit out after a crash
  int16_t reverseCrossings = 0;     // backward line crossings not yet undone by forward ones
  int16_t laps = 0;
  int16_t inputMode = 0;
};

struct ViewRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;   // exclusive
  int32_t bottom = 0;  // exclusive
};

struct GameState {
  PlayerRecord players[kMaxPlayers];
  TrackGrid track;
  uint16_t playerCount = 0;
  int16_t viewX = 0;  // track point at the board's top-left corner
  int16_t viewY = 0;
  int16_t scrollX = 0;  // the player's own shift of the view
  int16_t scrollY = 0;
  ViewRect viewRect;  // the part of the circuit on the board, written at every frame
  uint8_t showOutline = 0;
  uint8_t showRecord = 0;
  uint16_t currentPlayer = 0;
  uint16_t moveRadius = 0;
  uint16_t round = 0;   // rounds of turns completed since the race began
  int16_t targetX = 0;  // aim target, in track coordinates
  int16_t targetY = 0;
  int16_t goButtonX = 0;  // screen position of the Go button's top-left corner
  int16_t goButtonY = 0;
  uint8_t penLock = 0;  // set by a commit until the pen is lifted
  int16_t screenMode = kScreenNone;
  int16_t subMenuOpen = 0;
};

// The record of the player whose turn it is. currentPlayer always lies below eight, since the
// player count never exceeds it; the guard only keeps a damaged state inside the array.
inline PlayerRecord& CurrentRecord(GameState& state) {
  return state.players[state.currentPlayer < kMaxPlayers ? state.currentPlayer : 0];
}

// Player colours as (red 0-31, green 0-63, blue 0-31). The rules know them only so; what draws
// packs them into its screen's format.
struct ColourComponents {
  uint16_t red;
  uint16_t green;
  uint16_t blue;
};
inline constexpr ColourComponents kPlayerColours[kMaxPlayers] = {
    {31, 0, 0}, {0, 0, 31}, {0, 31, 0}, {31, 0, 31}, {31, 60, 0}, {31, 31, 0}, {0, 0, 0}, {0, 63, 31},
};

// Packs a colour's components into a pixel of the screen's format (MakeColour, for the game).
using ColourPacker = uint16_t (*)(uint16_t red, uint16_t green, uint16_t blue);

// Gives every player its colour, packed by `pack`. The game packs them for its screen once, after
// SetStartValues at start-up; the rules themselves never ask the display.
void SetPlayerColours(GameState& state, ColourPacker pack);

// Puts all eight cars on the circuit's start point with a zero move vector and clears their
// penalties and laps; every player aims. Shared by start-up and a new race.
void PlaceCarsOnStart(GameState& state);

// The values every race starts from: cars on the start, view and scroll at 0, player 0 to move
// in round 0, the pen locked. The player count, colours and display switches are kept.
void ResetRace(GameState& state);

// The start-up values of the whole state for a loaded circuit: two players, title screen, and the
// players' colours as 5-6-5 pixels, which a screen of another format packs again through
// SetPlayerColours.
void SetStartValues(GameState& state);
