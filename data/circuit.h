// The circuit: its file format, the loaded TrackGrid, its outline and its record lap.
//
// File layout, little-endian, no padding:
//   0  width, height            (u16 each)
//   4  startPoint, finishLineA, finishLineB, aheadPoint   (x, y as s16 each)
//  20  width*height pixels      (u16, rows from the top)
//      width*height cells       (u8: 1 blocked, 0 free)
//      recordCount              (u16, optional)
//      recordCount points       (x, y as s16)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "data/grid_point.h"
#include "gfx/picture.h"

constexpr int kRecordCapacity = 5000;
// The fewest points of a real record lap: the start twice (every trail begins so) and at least one
// move. A stored record of fewer, which no lap could have left, is read as none.
constexpr int kMinRecordPoints = 3;
constexpr long long kCircuitHeaderBytes = 20;

struct TrackGrid {
  uint16_t width = 0;
  uint16_t height = 0;
  GridPoint startPoint;
  GridPoint finishLineA;
  GridPoint finishLineB;
  GridPoint aheadPoint;  // on the side of the line that a car reaches racing the right way
  Picture picture;
  uint8_t* collisionGrid = nullptr;  // width*height cells, 1 = blocked
  uint8_t* outlineGrid = nullptr;    // width*height cells, 1 = blocked cell against free track
  std::u16string path;               // where the circuit came from, for SaveRecord
  GridPoint recordTrail[kRecordCapacity];
  uint16_t recordCount = 0;   // 0 = no record
  uint16_t recordRounds = 0;  // recordCount - 2, in 16 bits
  uint16_t recordsLost = 0;   // laps SaveRecord had to store and couldn't, so that the player can be told
  // The outline cells row by row, built with outlineGrid, so that drawing the outline visits only
  // them: row y's cells lie at x = outlineCells[outlineRows[y]] up to (not including)
  // outlineCells[outlineRows[y + 1]], in ascending order. Both null when there is no outline.
  uint32_t* outlineRows = nullptr;  // height + 1 entries
  uint16_t* outlineCells = nullptr;

  TrackGrid() = default;
  ~TrackGrid();
  TrackGrid(const TrackGrid&) = delete;
  TrackGrid& operator=(const TrackGrid&) = delete;
};

// Byte offset of the record section in a circuit file of the given size.
inline long long RecordOffset(uint16_t width, uint16_t height) { return kCircuitHeaderBytes + 3LL * width * height; }

// Loads a circuit file into the grid. 0 when loaded; 1, with the grid unchanged, when the file
// can't be opened or can't be trusted: width or height 0, or shorter than its picture and grid.
// A record section that can't be trusted (count above 5000, fewer point bytes than the count
// says, or 1 or 2 points, too few for a lap) loads as no record; the circuit stays playable.
int16_t LoadCircuit(TrackGrid& track, const std::u16string& path);

// Marks every blocked cell that touches a free cell left, right, above or below. The outermost
// rows and columns never do. Also lists the marked cells row by row. 1 when the outline can't be
// allocated (the grid then has none).
int BuildOutline(TrackGrid& track);

// Stores count points as the circuit's record, in the file and in memory, and ends the file with
// it, when they beat the record the file holds at that moment: fewer points, under a lock on the
// file that every writer takes, so that a better record stored since the circuit was loaded (by
// another copy, or the circuit tool) is never overwritten. Otherwise the file stays as it is and
// memory takes its record. A list too short to be a lap only fills a file without a record. The
// file the user has is updated, never swapped for another: through a link to its target,
// keeping its other links, owner, access lists and attributes. A plain file of ours with one link,
// in a folder we may write, is replaced whole through a rename; any other takes the record in
// place, in steps that leave the old record, none, or the new one at every moment. When the file
// can't be opened for update or no longer matches the loaded circuit, neither the file nor the
// grid changes; a failure on the way leaves the grid holding what the file holds. Each lap that
// should have been stored and wasn't counts in recordsLost.
void SaveRecord(TrackGrid& track, const GridPoint* points, uint16_t count);

// Releases the grids, the path and the picture's pixels.
void ReleaseCircuit(TrackGrid& track);

// ---- Writing circuit files ------------------------------------------------------------------------

// A circuit file's content field by field, for what makes circuit files: the circuit tools, the
// tests and the fuzzers' seeds.
struct CircuitFile {
  uint16_t width = 0;
  uint16_t height = 0;
  GridPoint start;
  GridPoint lineA;
  GridPoint lineB;
  GridPoint ahead;
  std::vector<uint16_t> pixels;  // width*height, 5-6-5
  std::vector<uint8_t> cells;    // width*height, 1 = blocked
  bool hasRecordSection = false;
  std::vector<GridPoint> record;
};

// The file's bytes; the record section only when it has one.
std::vector<unsigned char> EncodeCircuit(const CircuitFile& circuit);
