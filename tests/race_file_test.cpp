// Race files: races played through the rules come back the same from their files, every kind of
// bad file is refused with its name and line, and the circuit is found by its hash.
#include "race/race_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "race/race_circuit.h"
#include "race/race_writer.h"
#include "race/replay.h"
#include "rules/commit.h"
#include "rules/move.h"
#include "rules/turn.h"
#include "tests/support.h"

namespace {

std::string RingHash() {
  const Bytes bytes = SmallRing().Encode();
  return CircuitSha256(bytes.data(), static_cast<size_t>(RecordOffset(60, 40)));
}

std::string Header(int players) {
  std::string text =
      "apexgrid-race 1\ncircuit Ring.cct\ncircuit-sha256 " + RingHash() + "\nplayers " + std::to_string(players) + "\n";
  for (int car = 0; car < players; ++car) text += "driver " + std::to_string(car) + " human\n";
  return text;
}

class RaceFiles : public ::testing::Test {
 protected:
  TempFolder folder;
  std::unique_ptr<GameState> live = std::make_unique<GameState>();
  std::unique_ptr<GameState> replayed = std::make_unique<GameState>();

  void SetUp() override {
    WriteBytes(folder.HostFile("Ring.cct"), SmallRing().Encode());
    for (GameState* s : {live.get(), replayed.get()}) {
      ASSERT_EQ(LoadCircuit(s->track, folder.File("Ring.cct")), 0);
      SetStartValues(*s);
    }
  }
};

void ExpectSameRace(const GameState& a, const GameState& b) {
  ASSERT_EQ(a.playerCount, b.playerCount);
  EXPECT_EQ(a.currentPlayer, b.currentPlayer);
  EXPECT_EQ(a.round, b.round);
  for (int car = 0; car < a.playerCount; ++car) {
    const PlayerRecord& p = a.players[car];
    const PlayerRecord& q = b.players[car];
    ASSERT_EQ(p.lastIndex, q.lastIndex) << "car " << car;
    for (int i = 0; i <= p.lastIndex; ++i) ASSERT_EQ(p.trail[i], q.trail[i]) << "car " << car << " point " << i;
    EXPECT_EQ(p.waitTurns, q.waitTurns) << "car " << car;
    EXPECT_EQ(p.reverseCrossings, q.reverseCrossings) << "car " << car;
    EXPECT_EQ(p.laps, q.laps) << "car " << car;
  }
}

}  // namespace

// Eight cars, one racing the ring lap after lap and seven choosing points at random within reach:
// crashes, sat-out turns, backward crossings and their undoing, laps, drivers changing on the way.
// Written, read back and replayed, the race is the same at every tenth move and at its end, and
// the file reads back to the same text.
TEST_F(RaceFiles, ARacePlayedThroughTheRulesComesBackTheSame) {
  GameState& s = *live;
  s.playerCount = kMaxPlayers;
  ResetRace(s);
  RaceFile race;
  race.circuitName = "Ring.cct";
  race.circuitPath = folder.HostFile("Ring.cct");
  race.circuitSha256 = RingHash();
  race.players = kMaxPlayers;
  race.drivers[5] = kRacePro;
  const std::vector<GridPoint> lap = SmallRingLap();
  size_t lapStep = 0;
  uint32_t seed = 12345;
  int seen[5] = {};
  std::vector<std::string> texts;
  for (int turn = 0; turn < 600; ++turn) {
    const int car = s.currentPlayer;
    const GridPoint p = PredictedPoint(s.players[car]);
    GridPoint to;
    if (car == 0) {
      to = lap[lapStep++ % lap.size()];
    } else {
      do {
        seed = seed * 1103515245u + 12345u;
        to = Pt(p.x + static_cast<int>(seed >> 16) % 39 - 19, p.y + static_cast<int>(seed >> 8) % 39 - 19);
      } while (!IsWithinReach(static_cast<int16_t>(to.x - p.x), static_cast<int16_t>(to.y - p.y), s.moveRadius));
    }
    ASSERT_TRUE(IsWithinReach(static_cast<int16_t>(to.x - p.x), static_cast<int16_t>(to.y - p.y), s.moveRadius));
    const MoveJudgement judgement = JudgeMove(s, to);
    ++seen[static_cast<int>(judgement.outcome)];
    ASSERT_EQ(ApplyMove(s, to, judgement), 0);
    NextTurn(s);
    RaceEvent move;
    move.car = static_cast<uint8_t>(car);
    move.point = to;
    race.events.push_back(move);
    if (turn % 97 == 3) {
      RaceEvent change;
      change.kind = RaceEventKind::kDriver;
      change.car = static_cast<uint8_t>(turn % kMaxPlayers);
      change.driver = static_cast<uint8_t>(turn % 3);
      race.events.push_back(change);
    }
    if (turn % 10 == 9) texts.push_back(FormatRace(race));
  }
  for (int outcome = 0; outcome < 5; ++outcome) EXPECT_GT(seen[outcome], 0) << "no move of outcome " << outcome;

  for (const std::string& text : texts) {
    RaceFile read;
    std::string error;
    ASSERT_EQ(ParseRace(text, "r.apxrace", &read, &error), 0) << error;
    ASSERT_EQ(FormatRace(read), text);
  }
  const std::string path = folder.HostFile("r.apxrace");
  ASSERT_EQ(WriteRaceFile(path, texts.back(), nullptr), 0);
  RaceFile read;
  RaceProgress progress;
  std::string error;
  ASSERT_EQ(ReadRaceFile(path, &read, &error), 0) << error;
  ASSERT_EQ(ReplayRace(read, path, *replayed, &progress, &error), 0) << error;
  ExpectSameRace(s, *replayed);
  EXPECT_EQ(progress.moves, 600u);
  // The file's drivers as they stand at the end: the last change of each car, or its start.
  uint8_t drivers[kMaxPlayers];
  for (int car = 0; car < kMaxPlayers; ++car) drivers[car] = race.drivers[car];
  for (const RaceEvent& e : race.events) {
    if (e.kind == RaceEventKind::kDriver) drivers[e.car] = e.driver;
  }
  for (int car = 0; car < kMaxPlayers; ++car) EXPECT_EQ(progress.drivers[car], drivers[car]) << "car " << car;
  // Replaying never saves: the ring's file has no record even though laps were driven.
  EXPECT_EQ(ReadBytes(folder.HostFile("Ring.cct")), SmallRing().Encode());
}

// Every kind of bad file, refused by the reader or the replay with the file's name and the line.
TEST_F(RaceFiles, BadFilesAreRefusedWithTheirNameAndLine) {
  const std::string two = Header(2);
  std::string full = Header(1);
  for (int i = 0; i < kTrailCapacity - 2; ++i) full += "move 0 31 8\n";  // one more than fits
  const struct {
    const char* name;
    std::string text;
    int line;  // 0: the file as a whole
    const char* says;
  } cases[] = {
      {"empty", "", 0, "empty"},
      {"not a race", "P6\n4 4\n", 1, "not a race file"},
      {"unknown version", "apexgrid-race 2\nplayers 1\n", 1, "version 2"},
      {"binary garbage", std::string("apexgrid-race 1\ncirc") + std::string("\0\x01\xff\xfe", 4) + "\n", 2, "not text"},
      {"broken UTF-8", "apexgrid-race 1\ncircuit a\xc3(.cct\n", 2, "not text"},
      {"cut in a line", two + "move 0 35 ", 0, "middle of a line"},
      {"cut in the header", "apexgrid-race 1\ncircuit Ring.cct\n", 0, "no \"circuit-sha256\""},
      {"unknown keyword", two + "jump 0 1 2\n", 7, "unknown line"},
      {"too many players", "apexgrid-race 1\nplayers 9\n", 2, "players must be 1 to 8"},
      {"no players", "apexgrid-race 1\nplayers 0\n", 2, "players must be 1 to 8"},
      {"car not in the race", two + "move 2 31 8\n", 7, "a car from 0 to 1"},
      {"driver before players", "apexgrid-race 1\ndriver 0 human\n", 2, "before the \"players\""},
      {"unknown driver", two + "driver 1 robot\n", 7, "human, club or pro"},
      {"number out of range", two + "move 0 40000 8\n", 7, "-32768 to 32767"},
      {"not a number", two + "move 0 3x 8\n", 7, "-32768 to 32767"},
      {"bad hash", "apexgrid-race 1\ncircuit-sha256 ABC\n", 2, "64 lowercase hex"},
      {"a path for a name", "apexgrid-race 1\ncircuit ../../etc/Ring.cct\n", 2, "plain file name"},
      {"header after a move", two + "move 0 35 8\nplayers 3\n", 8, "before the first move"},
      {"header twice", two + "laps 3\nlaps 4\n", 8, "given twice"},
      {"laps out of range", two + "laps 21\n", 7, "laps must be 1 to 20"},
      {"correspondence with no time", two + "pace correspondence 0\n", 7, "pace must be"},
      {"wrong car", two + "move 1 31 8\n", 7, "it is car 0's turn, not car 1's"},
      {"outside the reach disc", two + "move 0 51 8\n", 7, "outside car 0's reach"},
      {"sitting out", two + "move 0 35 8\nmove 1 31 0\nmove 0 39 8\nmove 1 31 8\n", 10, "car 1 is sitting out"},
      {"retired car moves", two + "laps 1\nretire 1\nmove 0 35 8\nmove 1 31 8\n", 10, "car 1 has retired"},
      {"more moves than a trail holds", full, kTrailCapacity + 3, "more moves than a trail holds"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = folder.HostFile("bad.apxrace");
    WriteText(path, c.text);
    RaceFile race;
    RaceProgress progress;
    std::string error;
    const bool refused =
        ReadRaceFile(path, &race, &error) != 0 || ReplayRace(race, path, *replayed, &progress, &error) != 0;
    ASSERT_TRUE(refused);
    const std::string where = c.line == 0 ? path + ": " : path + ":" + std::to_string(c.line) + ": ";
    EXPECT_EQ(error.rfind(where, 0), 0u) << error;
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
  }
  // What isn't a plain file is refused at once, without waiting on a FIFO.
  const std::string fifo = folder.HostFile("fifo.apxrace");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string big = folder.HostFile("big.apxrace");
  WriteText(big, Header(1));
  ASSERT_EQ(truncate(big.c_str(), kMaxRaceFileBytes + 1), 0);
  for (const std::string& path : {fifo, folder.host(), big}) {
    RaceFile race;
    std::string error;
    EXPECT_EQ(ReadRaceFile(path, &race, &error), 1) << path;
    EXPECT_EQ(error.rfind(path + ": ", 0), 0u) << error;
  }
}

// A race with laps ends when every car has finished or retired; a finished car takes no more
// turns, and places go by the round each car finished in.
TEST_F(RaceFiles, ARaceWithLapsEndsWhenEveryCarIsDone) {
  std::string text = Header(3) + "laps 1\n";
  for (GridPoint p : SmallRingLap()) {
    text += "move 0 " + std::to_string(p.x) + " " + std::to_string(p.y) + "\n";
    text += "move 1 " + std::to_string(p.x) + " " + std::to_string(p.y) + "\n";
    if (p == SmallRingLap().front()) text += "retire 2\n";
  }
  RaceFile race;
  RaceProgress progress;
  std::string error;
  ASSERT_EQ(ParseRace(text, "laps", &race, &error), 0) << error;
  ASSERT_EQ(ReplayRace(race, "laps", *replayed, &progress, &error), 0) << error;
  EXPECT_TRUE(progress.over);
  EXPECT_EQ(progress.finishRound[0], progress.finishRound[1]);
  int places[kMaxPlayers];
  RacePlaces(progress, 3, places);
  EXPECT_EQ(places[0], 1);
  EXPECT_EQ(places[1], 1);
  EXPECT_EQ(places[2], 0);
  race.events.push_back(race.events.front());
  EXPECT_EQ(ReplayRace(race, "laps", *replayed, &progress, &error), 1);
  EXPECT_NE(error.find("the race is over"), std::string::npos) << error;
}

// The hash covers the picture and grid but not the record; the circuit is found by its path, else
// by its name in the folders, else among the folders' circuits, and one that has changed is named
// in the refusal.
TEST_F(RaceFiles, TheCircuitIsFoundByItsHash) {
  RaceFile race;
  race.circuitName = "Ring.cct";
  race.circuitSha256 = RingHash();
  race.circuitPath = folder.HostFile("gone/Ring.cct");
  std::string error;
  EXPECT_EQ(FindRaceCircuit(race, "r", {folder.host() + "/nothing", folder.host()}, &error),
            folder.HostFile("Ring.cct"))
      << error;
  // Named by its hash, as the server names it, the circuit is found under the player's own name.
  RaceFile online = race;
  online.circuitPath.clear();
  online.circuitName = RingHash() + ".cct";
  EXPECT_EQ(FindRaceCircuit(online, "r", {folder.host() + "/nothing", folder.host()}, &error),
            folder.HostFile("Ring.cct"))
      << error;
  TestCircuit withRecord = SmallRing();
  withRecord.hasRecordSection = true;
  withRecord.record = {Pt(31, 8), Pt(31, 8), Pt(35, 8)};
  WriteBytes(folder.HostFile("Ring.cct"), withRecord.Encode());
  EXPECT_EQ(CheckRaceCircuit(race, "r", folder.HostFile("Ring.cct"), &error), 0) << error;

  TestCircuit changed = SmallRing();
  changed.Block(40, 5);
  WriteBytes(folder.HostFile("Ring.cct"), changed.Encode());
  EXPECT_EQ(FindRaceCircuit(race, "r.apxrace", {folder.host()}, &error), "");
  EXPECT_NE(error.find("r.apxrace"), std::string::npos) << error;
  EXPECT_NE(error.find(folder.HostFile("Ring.cct")), std::string::npos) << error;
  WriteBytes(folder.HostFile("Ring.cct"), Bytes(30, 1));
  EXPECT_EQ(CheckRaceCircuit(race, "r.apxrace", folder.HostFile("Ring.cct"), &error), 1);
  EXPECT_NE(error.find("not a circuit file"), std::string::npos) << error;
}

// The writing thread: the newest text of each file lands, a file handed over before another one is
// never dropped, and Flush waits for both.
TEST_F(RaceFiles, TheWriterLandsTheNewestTextOfEveryFile) {
  const std::string a = folder.HostFile("a.apxrace"), b = folder.HostFile("b.apxrace");
  {
    RaceFileWriter writer;
    for (int i = 0; i < 50; ++i) writer.Write(a, "a" + std::to_string(i) + "\n");
    writer.Write(b, "b\n");
    writer.Flush();
    EXPECT_EQ(ReadText(a), "a49\n");
    EXPECT_EQ(ReadText(b), "b\n");
    writer.Write(b, "b again\n");
  }  // the last text is written before the writer goes
  EXPECT_EQ(ReadText(b), "b again\n");
}
