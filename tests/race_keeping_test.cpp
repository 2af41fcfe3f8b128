// The game keeps every race in a file: killed between two moves it comes back with R exactly as it
// stood, a race file given on the command line opens on its circuit, playback leaves the race as
// it was, and a bad race file is told, never written over, and a new race begins.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "gfx/colour.h"
#include "tests/game_folder.h"
#include "tests/taps.h"

namespace {

// The small ring on a circuit the board's size: a screen point is the track point under it.
TestCircuit Ring() {
  TestCircuit ring = SmallRing(240, 300);
  for (size_t i = 0; i < ring.cells.size(); ++i) {
    ring.pixels[i] = ring.cells[i] == 1 ? MakeColour(0, 20, 4) : MakeColour(12, 24, 12);
  }
  return ring;
}

constexpr ScreenPoint kGo{70, 10};  // inside the Go button of a car on the start

std::vector<std::string> RaceFiles(const GameFolder& game) {
  std::vector<std::string> files;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(game.Host("Races"), error)) {
    files.push_back(entry.path().string());
  }
  return files;
}

class RaceKeeping : public ::testing::Test {
 protected:
  GameFolder game;
  TempFolder scratch;

  void SetUp() override { game.AddCircuit("Ring.cct", Ring()); }

  Shot ShotOf(const std::string& path) const {
    Shot shot;
    EXPECT_TRUE(shot.Load(path)) << path << " was not written";
    return shot;
  }
};

}  // namespace

TEST_F(RaceKeeping, KilledBetweenTwoMovesTheRaceComesBackWithR) {
  // Red crashes and sits out while the club drives blue, then red moves on: the board, with blue's
  // badge, is shot, and the game is killed before the next move.
  WriteText(game.Host("Data/drivers.txt"), "driver-2 = club\n");
  const std::string before = scratch.HostFile("before.png");
  const std::string script = TapTitle() + TapInputButton() + Tap(31, 1) + "wait 3000\n" + TapInputButton() + Tap(kGo) +
                             "wait 1000\nshot " + before + "\nsleep 60000\n";
  WriteText(scratch.HostFile("script"), script);
  StartShell(game.Isolation() + " APEXGRID_VIDEO=headless APEXGRID_SCRIPT=" + Quote(scratch.HostFile("script")) + " " +
                 Quote(game.Host("Apexgrid")) + " " + Quote(game.Device("Circuits/Ring.cct")) +
                 " 2>/dev/null & echo $! >" + Quote(scratch.HostFile("pid")) + "; wait",
             scratch.HostFile("status"));
  ASSERT_TRUE(WaitForFile(before));
  ASSERT_TRUE(WaitForText(scratch.HostFile("pid"), "\n"));
  // The file is written off the turn's path: the kill comes once the last move has reached it.
  for (int waited = 0;
       waited < 20000 && (RaceFiles(game).size() != 1 || Count(ReadText(RaceFiles(game)[0]), "move ") < 6);
       waited += 20) {
    Pause(20);
  }
  std::system(("kill -9 " + ReadText(scratch.HostFile("pid"))).c_str());
  ASSERT_TRUE(WaitForFile(scratch.HostFile("status")));
  ASSERT_EQ(RaceFiles(game).size(), 1u);
  EXPECT_EQ(Count(ReadText(RaceFiles(game)[0]), "move "), 6) << "red's crash and its move, blue's four";

  // Without the drivers' settings, blue's driver comes from the race file.
  std::filesystem::remove(game.Host("Data/drivers.txt"));
  const std::string after = scratch.HostFile("after.png");
  const ProgramRun run = game.Play("key r\nshot " + after + "\n", "");
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.LinesStarting("MESSAGE").empty());
  EXPECT_TRUE(ShotOf(before).SameAs(ShotOf(after)));
  EXPECT_EQ(ReadBytes(game.Host("Circuits/Ring.cct")), Ring().Encode()) << "resuming never writes the circuit";
}

TEST_F(RaceKeeping, ARaceFileOnTheCommandLineOpensAndPlaysBackWithoutChangingIt) {
  const std::vector<GridPoint> lap = SmallRingLap();
  std::string text =
      "apexgrid-race 1\ncircuit Ring.cct\ncircuit-path " + game.Host("Circuits/Ring.cct") + "\ncircuit-sha256 ";
  // The hash is the library's own business (its test checks it): the file takes it from a race the
  // game wrote.
  ASSERT_EQ(game.Play(TapTitle() + Tap(kGo), game.Device("Circuits/Ring.cct")).status, 0);
  ASSERT_EQ(RaceFiles(game).size(), 1u);
  const std::string written = ReadText(RaceFiles(game)[0]);
  const size_t hashAt = written.find("circuit-sha256 ") + 15;
  text += written.substr(hashAt, 64) + "\nplayers 2\ndriver 0 human\ndriver 1 human\n";
  for (size_t i = 0; i < 6; ++i) {
    text += "move 0 " + std::to_string(lap[i].x) + " " + std::to_string(lap[i].y) + "\nmove 1 31 8\n";
  }
  const std::string race = scratch.HostFile("sent race.apxrace");
  WriteText(race, text);

  const std::string opened = scratch.HostFile("opened.png"), played = scratch.HostFile("played.png"),
                    back = scratch.HostFile("back.png");
  const ProgramRun run = game.Play(TapTitle() + "shot " + opened + "\nkey p\nwait 600\nshot " + played +
                                       "\nkey space\nkey comma\nkey period\nkey escape\nshot " + back + "\n",
                                   race);
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.LinesStarting("MESSAGE").empty());
  EXPECT_FALSE(ShotOf(opened).SameAs(ShotOf(played))) << "the playback shows an earlier move";
  EXPECT_TRUE(ShotOf(opened).SameAs(ShotOf(back))) << "leaving the playback gives the race back as it was";
  EXPECT_EQ(ReadText(race), text);
}

TEST_F(RaceKeeping, ABadRaceFileIsToldAndANewRaceBeginsInAFileOfItsOwn) {
  const std::string bad = scratch.HostFile("bad.apxrace");
  const std::string text =
      "apexgrid-race 1\ncircuit Ring.cct\ncircuit-sha256 " + std::string(64, '0') + "\nplayers 2\nmove 0 31 8\n";
  WriteText(bad, text);
  WriteText(game.Host("Data/lastmap.dat"), "");  // no last circuit either: the selector starts
  ProgramRun run = game.Play("", bad);
  ASSERT_EQ(run.LinesStarting("MESSAGE").size(), 1u);
  EXPECT_NE(run.LinesStarting("MESSAGE")[0].find(bad), std::string::npos) << run.LinesStarting("MESSAGE")[0];
  EXPECT_EQ(run.LinesStarting("START").size(), 1u) << "the selector";

  // With a circuit played before, a new race begins on it; its first move makes a file of its own.
  ASSERT_EQ(game.Play(TapTitle() + Tap(kGo), game.Device("Circuits/Ring.cct")).status, 0);
  run = game.Play(TapTitle() + Tap(kGo), bad);
  EXPECT_EQ(run.LinesStarting("MESSAGE").size(), 1u);
  EXPECT_EQ(ReadText(bad), text);
  EXPECT_EQ(RaceFiles(game).size(), 2u);
}

// E writes the race so far as a GIF that another decoder reads: a frame before the first move and
// one after each, the last the board (above the menu bar) as it stands.
TEST_F(RaceKeeping, ExportWritesAGifWhoseLastFrameIsTheBoard) {
  if (std::system("/usr/bin/python3 -c 'import PIL' 2>/dev/null") != 0) GTEST_SKIP() << "no Pillow to decode with";
  const std::vector<GridPoint> lap = SmallRingLap();
  // Red taps along the lap, blue aims and stays; red's third move crashes into the wall.
  std::string script = TapTitle() + TapInputButton();
  for (int i = 0; i < 3; ++i) script += Tap(lap[i]) + Tap(kGo);
  script += Tap(lap[3].x, 1) + Tap(kGo) + Tap(kGo);
  const std::string board = scratch.HostFile("board.png");
  script += "key e\nshot " + board + "\n";
  ASSERT_EQ(game.Play(script, game.Device("Circuits/Ring.cct")).status, 0);
  std::vector<std::string> gifs;
  for (const auto& entry : std::filesystem::directory_iterator(game.Host("Replays"))) gifs.push_back(entry.path());
  ASSERT_EQ(gifs.size(), 1u);
  const std::string check = scratch.HostFile("check.py");
  WriteText(check,
            "import sys\nfrom PIL import Image, ImageSequence\n"
            "frames = [f.convert('RGB') for f in ImageSequence.Iterator(Image.open(sys.argv[1]))]\n"
            "shot = Image.open(sys.argv[2]).convert('RGB').crop((0, 0, 240, 300))\n"
            "print(len(frames), int(list(frames[-1].getdata()) == list(shot.getdata())))\n");
  const ProgramRun run = RunProgram("/usr/bin/python3 " + Quote(check) + " " + Quote(gifs[0]) + " " + Quote(board) +
                                        " > " + Quote(scratch.HostFile("out")),
                                    scratch);
  ASSERT_EQ(run.status, 0);
  EXPECT_EQ(ReadText(scratch.HostFile("out")), "10 1\n") << "nine moves and the start, the last the board";
}
