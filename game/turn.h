// The turn sequence: a race begun, a turn ended and the next begun, the computer's pause and its
// ticks, and what the host keys D, H and F do to the turn under way.
#pragma once

#include <cstdint>

// The pause a computer car makes with its target shown, on its own window timer, which ticks a
// few times in it. On every tick, and on the ticks while a player ponders, the pro spends a fixed
// amount of work preparing its lap from the standing start.
constexpr uintptr_t kComputerTimer = 101;
constexpr uint32_t kComputerPause = 800;
constexpr uint32_t kComputerTick = 100;

// A turn begins on the race board (after a move, at the start of a race, back from the menu or
// the title): a computer car chooses its move, shows it and starts its pause; for a player's car
// any pause left over is stopped. Also names the driver to move in the window's caption.
void BeginTurn();

// Ends the current player's turn with a move to (x, y) in track coordinates: the Go button is
// shown pressed, the move committed (a crash sends the car back), the turn passed, the view
// centred on the next car with its target reset, and the pen locked until it is lifted. A move
// the car's full trail has no room for is refused and the turn passes all the same.
void EndTurn(int16_t x, int16_t y);

// An online race, after a move or the server's word arrived (game/online.h): a turn that waited
// for it begins again, playing the move or, once the server agrees, handing this computer its car;
// otherwise nothing.
void PlayArrivedMoves();

// The race on the board was put there afresh (an online race reloaded as the server holds it): a
// move being shown is forgotten with the race it belonged to, the view and the target follow the
// car to move, and its turn begins when the board shows.
void BeginTurnAfresh();

// A tick of the computer's timer: the pro thinks ahead; once a computer car's pause is over it
// moves, when the race board still shows its turn.
void ComputerTick();

// Every car back on the start, round 0, player 0 to move, the race board shown. The player count,
// the colours, the display switches and the circuit's record stay. An online race stays as it is.
void NewRace();

// Back on the race board from the menu or the title: the board shown and the turn begun again.
void ResumeRace();

// The player count chosen in the menu (not in an online race), and back to the race. When the car
// to move is no longer in the race, the turn passes on to the next car that is, counting the round.
void ChangePlayerCount(uint16_t count);

// The Go button in its pressed look (for a player who aims), put straight on the screen.
void FlashGoButton();

// The host keys, on the race board: D hands the car to move along human, club, pro and back to
// human; H puts the target (or, tapping directly, a cross) on the pro's move for a player's car;
// F switches foresight on and off.
void CycleDriver();
void ShowHint();
void ToggleForesight();

// The title's timer: started with the window, its first tick leaves the title screen.
constexpr uintptr_t kTitleTimer = 100;
constexpr uint32_t kTitlePeriod = 400;

// Leaves the title for the race board: stops the title's timer, shows the board and puts the aim
// target on the predicted point. The first timer tick does the same.
void LeaveTitle();
