// The race's file: kept up to date after every committed move, resumed with R or from the command
// line, played back on the board with P. None of it changes a screen until its key is pressed.
#pragma once

#include <cstdint>
#include <string>

#include "data/grid_point.h"

// Beside the Data folder of the folder the game writes to.
inline constexpr char16_t kRacesFolder[] = u"\\Races";
inline constexpr char16_t kReplaysFolder[] = u"\\Replays";

// Playback's pace: about four moves a second.
constexpr uintptr_t kPlaybackTimer = 102;
constexpr uint32_t kPlaybackPeriod = 250;

// After the move of `car` to `to` ends a turn: the move, and any change of driver since the last
// one, go into the race file, which is written whole. The first move of a race makes its file. A
// move the car's full trail refused can't be said in a race file: the race keeps the file it has.
void KeepMove(int car, GridPoint to, bool committed);

// A new race begins on the board: its first move starts a new file.
void ForgetRace();

// True for a command line that names a race file rather than a circuit.
bool IsRacePath(const std::u16string& path);

// Start-up with a race file: reads it and finds its circuit. The circuit's path to load, or empty
// (the last circuit is then played) when the race can't be used, which is told first.
std::u16string PrepareRace(const std::u16string& racePath);
// Once that circuit is loaded and the start values set: puts the race on the board as it stood. A
// race the circuit can't replay is told, and a new race begins instead.
void StartPreparedRace();

// R, on the title or the race board: the last race kept for this circuit comes back as it stood,
// its view and drivers included. A race that can't be replayed is told and the race on the board
// stays as it was.
void ResumeLastRace();

// P on the race board: plays the race back from its first move, following the car that moves;
// the caption says which move it shows. True while it plays; keys then go to PlaybackKey (Space,
// comma, full stop, Escape or P again), and taps and pen moves are not the race's.
void StartPlayback();
bool PlaybackShown();
void PlaybackKey(int16_t key);
void PlaybackTick();

// E on the race board: the race so far as an animated GIF in the Replays folder; the caption names
// the file.
void ExportRace();

// The race as kept so far, for the animation: the file's text and where it is; empty before the
// first move.
const std::string& KeptRaceText();
const std::string& KeptRacePath();
