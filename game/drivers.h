// The computer drivers, the hint and foresight as the race sees them: who drives each car, the
// brain that answers for the computer, and the badges. What the host keys D, H and F add to a race.
//
// Any car may be handed to the computer, at the level "club" or "pro"; H asks the pro's move for a
// player, and F has the aim cursor warn where a move is clean but leaves no way to stop before a
// wall. The choices are kept in a settings file beside the last-circuit file. This file answers
// questions and keeps the choices; it moves no car and draws only the badges: the turn sequence
// (game/turn.h) acts on its answers.
#pragma once

#include <cstdint>
#include <string>

#include "data/grid_point.h"
#include "rules/state.h"

// Who drives a car.
constexpr uint8_t kDriverHuman = 0;
constexpr uint8_t kDriverClub = 1;
constexpr uint8_t kDriverPro = 2;

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

// D: the car to move goes to the next driver along human, club, pro and back to human, and the
// choices are saved. Only on the race board, and only while the computer can drive on this
// circuit.
void NextDriverForCarToMove();

// F: foresight on or off, saved.
void SwitchForesight();

// True when the car whose turn it is on the race board is driven by the computer.
bool IsComputerTurn();

// The move the computer driver of the car to move makes, strictly inside its reach.
GridPoint ComputerMove();

// The move the pro would make for the car to move (H).
GridPoint HintMove();

// Makes the brain for the circuit now when any car in the race is the computer's, so that no
// tick of the computer's timer pays for it (on a 4000 x 4000 circuit it takes most of a second).
void PrepareBrain();

// A slice of the pro's preparation of its lap from the standing start, a fixed amount of work so
// that the pro plays the same on any machine; true while a pro is in the race and there is more
// to prepare.
bool ThinkAhead();
bool MoreToThink();

// Whether the cursor should warn that the move to `to` is clean but doomed: foresight on, a
// player's car, and no way to bring the car to rest after it.
bool MoveIsDoomed(GridPoint to);

// When memory ran short for the brain on this circuit: the computer drives no car on it, every
// car is back in a player's hands (and saved so), and H and F answer nothing.
bool ComputerUnavailable();

// The window's caption for the car to move: the game's title, with the driver to move once any
// car is the computer's, or the word that the computer is unavailable.
std::u16string CaptionForCarToMove();

// Puts the caption on the window unless it shows it already.
void ShowCaption(const std::u16string& caption);
const std::u16string& ShownCaption();
// The caption names the driver to move again at the next BeginTurn, after something else has
// shown its own.
void ForgetCaption();

// Draws the level's badge beside every computer car, and the online badge beside every car another
// computer plays, on framePicture, for the board renderer.
void DrawDriverBadges();

// Drops the brain made for the circuit (and the word that it had no room): the next question
// makes it again for the circuit in the game state.
void ForgetBrain();
