// Scenes for looking at the race board without the game: stand-in data pictures, a loop circuit
// drawn in memory, and cars driven round it. Shared by the render tool and the benchmarks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gfx/picture.h"
#include "rules/state.h"

// Opens the emulated display (240 x 320, 5-6-5) and gives the game's frame and board pictures
// their stores and its data pictures stand-ins, as the game's start-up would. 0, or 1 when the
// display can't be opened.
int OpenBoardScreen();

// The game state's values for a race on the loaded circuit, with the players' colours packed for
// the screen, as the game starts one.
void StartBoardRace(GameState& state);

// Stand-ins for the menu bar (240 x 40: buttons up, then switched on), the Go button (20 x 40:
// normal, then pressed) and the digit strip (100 x 14, black digits on the transparent key).
void MakeStandInPictures(Picture& menuBar, Picture& goButton, Picture& digits);

// A loop circuit of the given size in the track: an oval of asphalt between walls, grass around
// it, a start/finish line across the bottom straight; cars race anticlockwise on the screen.
// 0 on success.
int MakeLoopCircuit(TrackGrid& track, uint16_t width, uint16_t height);

// A point on the loop's centre line, at the given fraction of a lap from the start line, pushed
// sideways by lane pixels (positive: outwards).
GridPoint LoopPoint(const TrackGrid& track, double lapFraction, double lane);

// A trail of moves along the loop: starts with the three start points the game puts there, then
// moves of about the given length. Returns the points, oldest first.
std::vector<GridPoint> LoopTrail(const TrackGrid& track, int moves, double moveLength, double lane,
                                 double startFraction);

// Places the trail in a player's record: trail points, lastIndex, and nothing else.
void SetTrail(PlayerRecord& player, const std::vector<GridPoint>& trail);

// Sets the record lap of the track in memory (no file).
void SetRecord(TrackGrid& track, const std::vector<GridPoint>& points);

// Writes the picture as an RGB PNG, each pixel enlarged to scale x scale. 0 on success.
int WritePicturePng(const Picture& picture, const std::string& hostPath, int scale = 1);

// A 5 x 7 text for stand-in pictures: digits, capital letters and spaces, 6 pixels a character.
void DrawLabel(Picture& picture, int x, int y, const std::string& text, uint16_t colour);
