// Race files: a race as its circuit and its list of committed turns, in a small text format that
// the game keeps up to date, the tools read, and the online server sends.
//
//   apexgrid-race 1
//   circuit First-Race.cct
//   circuit-path /home/ana/Apexgrid/Circuits/First-Race.cct
//   circuit-sha256 <64 lowercase hex digits>
//   players 3
//   driver 0 human
//   driver 1 human
//   driver 2 pro
//   move 0 120 251
//   driver 1 club
//   move 1 118 251
//   scroll 0 20
//
// One fact a line, fields split by single spaces, LF line ends. The header names the circuit and
// the cars; then come the race's events in order: `move CAR X Y` (a committed turn: the point
// chosen, a crash being the point tried), `driver CAR human|club|pro` (a change of driver) and,
// in online races, `retire CAR`. An online race adds `server URL`, `race ID`, `laps L`,
// `pace live|correspondence SECONDS`, `assists on|off` and `seat CAR NAME` to the header.
// `scroll DX DY` is the player's shift of the view; the last one holds.
//
// Reading checks the text alone (keywords, numbers, ranges, order); whether the moves are legal
// on the circuit is for the replay (race/replay.h). A file is untrusted input.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "data/grid_point.h"
#include "rules/state.h"

inline constexpr char kRaceFormatLine[] = "apexgrid-race 1";
inline constexpr char kRaceFileExtension[] = ".apxrace";
// Far above any race a trail can hold (eight cars of 5000 moves and a driver change each turn),
// so that a bigger file is garbage, refused before it is read.
constexpr long long kMaxRaceFileBytes = 16LL << 20;
constexpr int kMaxRaceLaps = 20;
constexpr int32_t kMaxPaceSeconds = 30 * 24 * 3600;

// Who drives a car; the values are the game's own.
enum RaceDriver : uint8_t { kRaceHuman = 0, kRaceClub = 1, kRacePro = 2 };

enum class RaceEventKind : uint8_t { kMove, kDriver, kRetire };

struct RaceEvent {
  RaceEventKind kind = RaceEventKind::kMove;
  uint8_t car = 0;
  uint8_t driver = kRaceHuman;  // kDriver
  GridPoint point;              // kMove
  int line = 0;                 // where it stands in the file, for messages; 0 when made in memory
};

enum class RacePace : uint8_t { kNone, kLive, kCorrespondence };

// NOLINTNEXTLINE(bugprone-reserved-identifier): the compiler's own loop copying the seats array
struct RaceFile {
  std::string circuitName;            // the circuit file's name, no folder
  std::string circuitPath;            // its host path when the race was played; may be empty
  std::string circuitSha256;          // 64 lowercase hex digits
  int players = 0;                    // 1 to 8
  uint8_t drivers[kMaxPlayers] = {};  // each car's driver when the race began
  std::vector<RaceEvent> events;
  bool hasScroll = false;
  int16_t scrollX = 0;
  int16_t scrollY = 0;

  // Online races; the defaults when the lines are missing.
  std::string server;
  std::string raceId;
  int laps = 0;  // 0: the race has no end, as on the hand-held
  RacePace pace = RacePace::kNone;
  int32_t paceSeconds = 0;         // the time per move; 0 for a live race without one
  int8_t assists = -1;             // -1 not said, 0 off, 1 on
  std::string seats[kMaxPlayers];  // empty: no seat line
};

// Reads a race from its text. `name` names the file in messages. 0 when read; 1 with *error set to
// "NAME:LINE: what is wrong" (or "NAME: ..." for the file as a whole), and *race unspecified.
int ParseRace(const std::string& text, const std::string& name, RaceFile* race, std::string* error);

// Reads a race file from a host path: a missing, unreadable or over-long file, a folder or a FIFO
// is refused with a message naming it, without waiting.
int ReadRaceFile(const std::string& hostPath, RaceFile* race, std::string* error);

// The file's text. ParseRace gives back the same race.
std::string FormatRace(const RaceFile& race);
// One event's line, with its LF, for writers that add to a text already made.
std::string FormatRaceEvent(const RaceEvent& event);

// Writes the race file whole: it holds its old text or the new one at every moment, a crash or a
// power cut included. 0 on success; 1 with the reason in *error.
int WriteRaceFile(const std::string& hostPath, const std::string& text, std::string* error);

const char* RaceDriverName(uint8_t driver);
