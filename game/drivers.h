// The computer drivers, the hint and foresight: what the host keys D, H and F add to a race.
//
// Any car may be handed to the computer, at the level "club" or "pro"; a computer car plays its
// turn as a player who aims would: it shows its target with the cursor, pauses so that the
// players can follow, flashes Go and commits. H shows a player the move the pro would make, and
// F colours the aim cursor amber where the move is clean but leaves no way to stop before a wall.
// The drivers and foresight are kept in a settings file beside the last-circuit file. With every
// car driven by a player and foresight off, nothing here draws or changes anything.
#pragma once

#include <cstdint>

#include "data/grid_point.h"
#include "rules/state.h"

// Who drives a car.
constexpr uint8_t kDriverHuman = 0;
constexpr uint8_t kDriverClub = 1;
constexpr uint8_t kDriverPro = 2;

// The pause a computer car makes with its target shown, on its own window timer, which ticks a
// few times in it: the pro spends part of each tick preparing its lap from the standing start.
constexpr uintptr_t kComputerTimer = 101;
constexpr uint32_t kComputerPause = 800;
constexpr uint32_t kComputerTick = 100;
constexpr uint32_t kThinkSlice = 40;

// The settings file, beside the last-circuit file.
inline constexpr char16_t kDriverSettingsFile[] = u"\\Data\\drivers.txt";

struct DriverChoices {
  uint8_t driver[kMaxPlayers] = {};  // kDriverHuman, kDriverClub or kDriverPro for each car
  uint8_t foresight = 0;             // the aim cursor warns of doomed moves
};

// The program-wide choices, read at start-up.
extern DriverChoices driverChoices;

// Reads the choices from the settings file in the folder; all players and no foresight when
// there is none.
void LoadDriverChoices(const std::u16string& folder);

// True when the car whose turn it is on the race board is driven by the computer.
bool IsComputerTurn();

// A turn begins on the race board (after a move, at the start of a race, back from the menu or
// the title): a computer car chooses its move, shows it and starts its pause; for a player's car
// any pause left over is stopped. Also names the driver to move in the window's caption.
void BeginTurn();

// A tick of the computer's pause: the pro thinks ahead; once the pause is over the car moves,
// when the race board still shows its turn.
void ComputerTick();

// The host keys, on the race board: D hands the car to move along human, club, pro and back to
// human; H puts the target (or, tapping directly, a cross) on the pro's move for a player's car;
// F switches foresight on and off.
void CycleDriver();
void ShowHint();
void ToggleForesight();

// Whether the cursor should warn that the move to `to` is clean but doomed: foresight on, a
// player's car, and no way to bring the car to rest after it.
bool MoveIsDoomed(GridPoint to);

// The caption names the driver to move again at the next BeginTurn, after something else has
// shown its own.
void ForgetCaption();

// Draws the level's badge beside every computer car on framePicture, for the board renderer.
void DrawDriverBadges();

// True while a hint's cross is shown on a board tapped directly; the next tap takes it away.
bool HintShown();
void ForgetHint();
