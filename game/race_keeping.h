// The race's keys: R brings back the race kept last, P plays it back on the board, E exports it as
// an animation. None of it changes a screen until its key is pressed.
#pragma once

#include <cstdint>
#include <string>

// Playback's pace: about four moves a second.
constexpr uintptr_t kPlaybackTimer = 102;
constexpr uint32_t kPlaybackPeriod = 250;

// R, on the title or the race board: the last race kept for this circuit comes back as it stood,
// its view and drivers included. A race that can't be replayed is told and the race on the board
// stays as it was.
void ResumeLastRace();

// An online race that has left the server's (a move of ours refused, a car retired there): the
// race as the server holds it, the text of its race file, replaces the race on the board and in
// its file, and play goes on from there; a playback under way ends first. This computer's drivers
// of its own cars stay as they were. 0 when done; 1 with *error, the race left as it was.
int ReloadOnlineRace(const std::string& text, const std::string& account, std::string* error);

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
