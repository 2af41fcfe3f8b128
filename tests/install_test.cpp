// The installed game as a user meets it: `cmake --install` into a prefix made read-only, run by a
// user who can't write there, with a home of its own. Everything the programs write lands in the
// user's data folder, and the installed tree stays as it was installed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "brain/solver.h"
#include "brain/track_model.h"
#include "data/circuit.h"
#include "data/folder.h"
#include "platform/files.h"
#include "platform/text.h"
#include "rules/state.h"
#include "tests/support.h"
#include "tests/taps.h"

namespace {

namespace fs = std::filesystem;

const std::string kBuild = APEXGRID_BUILD_FOLDER;
constexpr char kShipped[] = "1-First-Race.cct";  // exactly the board's size: a tap is a track point

// A host path as the programs name it.
std::string Device(const std::string& host) { return ToUtf8(DevicePath(host)); }

// Every file and folder under the root with its size, time and permissions, to tell that nothing
// was added, removed or changed.
std::vector<std::string> Snapshot(const std::string& root) {
  std::vector<std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const auto status = entry.symlink_status();
    std::string line = entry.path().string() + " " + std::to_string(static_cast<int>(status.permissions()));
    if (fs::is_regular_file(status)) {
      line += " " + std::to_string(entry.file_size()) + " " +
              std::to_string(entry.last_write_time().time_since_epoch().count());
    }
    entries.push_back(line);
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

class Installed : public ::testing::Test {
 protected:
  void SetUp() override {
    prefix_ = folder_.HostFile("prefix");
    home_ = folder_.HostFile("home");
    data_ = home_ + "/data";
    ASSERT_EQ(RunShell("cmake --install " + Quote(kBuild) + " --prefix " + Quote(prefix_) + " >/dev/null", folder_), 0);
    fs::create_directory(home_);
    // The tree is the system's: nobody who plays may write it. Root may write anything, so the
    // programs then run as another user.
    RunShell("chmod -R a-w " + Quote(prefix_) + " && chmod 755 " + Quote(folder_.host()), folder_);
    if (geteuid() == 0) {
      RunShell("chown 65534:65534 " + Quote(home_), folder_);
      user_ = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    }
  }
  void TearDown() override { RunShell("chmod -R u+w " + Quote(prefix_), folder_); }

  // Runs an installed launcher as the user (or as whoever runs the test), headless, with a script.
  ProgramRun Run(const std::string& launcher, const std::string& script, const std::string& arguments = "",
                 bool asUser = true) {
    WriteText(folder_.HostFile("script"), script);
    return RunProgram((asUser ? user_ : std::string()) +
                          "env -u APEXGRID_START -u APEXGRID_SCRIPT_Apexgrid -u APEXGRID_SCRIPT_Apexpick " +
                          LeakSuppressions() + "APEXGRID_VIDEO=headless APEXGRID_INSTANCE=" + Quote(folder_.host()) +
                          " APEXGRID_SCRIPT=" + Quote(folder_.HostFile("script")) + " HOME=" + Quote(home_) +
                          " XDG_DATA_HOME=" + Quote(data_) + " " + Quote(prefix_ + "/bin/" + launcher) + " " +
                          arguments,
                      folder_);
  }

  TempFolder folder_;
  std::string prefix_, home_, data_, user_;
};

// The brain's quick lap from the circuit's start, and the script of one player tapping its
// destinations from the title on.
LapPlan QuickLapOf(const TrackGrid& track) {
  TrackModel model;
  if (!model.Build(track)) return LapPlan();
  return QuickLap(model, CarState{track.startPoint, {}, 0}, 32);
}

std::string OnePlayerTapping(const LapPlan& lap) {
  std::string script = TapTitle() + TapMenuButton() + TapPlayersEntry() + TapPlayerCount(1) + TapInputButton();
  for (GridPoint move : lap.moves) script += Tap(move);
  return script;
}

}  // namespace

TEST_F(Installed, ALapOnAShippedCircuitIsKeptInTheUsersCopyAndTheTreeStaysAsInstalled) {
  const std::string program = prefix_ + "/lib/apexgrid";
  for (const char* file :
       {"/bin/apexgrid", "/bin/apexpick", "/lib/apexgrid/Apexgrid", "/lib/apexgrid/Apexpick",
        "/lib/apexgrid/Data/GameData.dat", "/share/applications/apexgrid.desktop",
        "/share/icons/hicolor/16x16/apps/apexgrid.png", "/share/icons/hicolor/256x256/apps/apexgrid.png",
        "/share/metainfo/io.github.apexgrid.apexgrid.metainfo.xml"}) {
    EXPECT_TRUE(FileExists(prefix_ + file)) << file;
  }
  const std::vector<std::string> installed = Snapshot(prefix_);

  // The lap the search finds, raced by one player tapping each destination.
  TrackGrid track;
  ASSERT_EQ(LoadCircuit(track, DevicePath(program + "/Circuits/" + kShipped)), 0);
  const LapPlan lap = QuickLapOf(track);
  ASSERT_TRUE(lap.found);
  std::string script = OnePlayerTapping(lap);
  const std::string shipped = program + "/Circuits/" + kShipped;
  ProgramRun run = Run("apexgrid", script, Quote(shipped));
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.lines.empty()) << ReadText(folder_.HostFile("err"));

  const std::string copy = data_ + "/apexgrid/Circuits/" + kShipped;
  const Bytes record = ReadBytes(copy);
  const size_t offset = static_cast<size_t>(RecordOffset(track.width, track.height));
  ASSERT_EQ(record.size(), offset + 2 + 4 * (lap.rounds + 2)) << "the record, in the user's copy";
  EXPECT_EQ(GetU16(record, offset), lap.rounds + 2);
  EXPECT_EQ(ReadTextFile(DevicePath(data_ + "/apexgrid/Data/lastmap.dat")), DevicePath(shipped))
      << "the path typed in a shell, remembered as a full device path";
  EXPECT_EQ(Snapshot(prefix_), installed) << "nothing written into the installed tree";

  // apexcircuit solve --write-record on the shipped circuit measures its lap against the record
  // of the file it would write, the user's copy; here one no lap can beat, which stays.
  {
    TrackGrid inCopy;
    ASSERT_EQ(LoadCircuit(inCopy, DevicePath(copy)), 0);
    const std::vector<GridPoint> unbeatable(5, track.startPoint);
    SaveRecord(inCopy, unbeatable.data(), 5);
  }
  const Bytes unbeaten = ReadBytes(copy);
  ASSERT_EQ(GetU16(unbeaten, offset), 5);
  run = RunProgram(user_ + "env HOME=" + Quote(home_) + " XDG_DATA_HOME=" + Quote(data_) + " " +
                       Quote(prefix_ + "/bin/apexcircuit") + " solve " + Quote(shipped) +
                       " --write-record --memory 0.001 >" + Quote(folder_.HostFile("out")),
                   folder_);
  EXPECT_EQ(run.status, 0) << ReadText(folder_.HostFile("err"));
  EXPECT_TRUE(ReadText(folder_.HostFile("out")).find("the stored record of 3 rounds stands\n") != std::string::npos)
      << ReadText(folder_.HostFile("out"));
  EXPECT_EQ(ReadBytes(copy), unbeaten);
  EXPECT_EQ(Snapshot(prefix_), installed);

  // The selector lists the copy in the shipped circuit's place, and the user's own circuits after
  // the shipped ones; both start the game on the user's file.
  fs::copy_file(program + "/Circuits/2-Riverside.cct", data_ + "/apexgrid/Circuits/My Track.cct");
  std::vector<std::string> order;
  for (const auto& entry : fs::directory_iterator(program + "/Circuits")) order.push_back(entry.path().filename());
  const size_t line = std::find(order.begin(), order.end(), kShipped) - order.begin();
  ASSERT_LT(line, order.size());
  run = Run("apexpick", "select " + std::to_string(line) + "\nstart\n");
  EXPECT_EQ(run.LinesStarting("START "),
            std::vector<std::string>{"START " + Device(program + "/Apexgrid.exe") + " | " + Device(copy)});
  run = Run("apexpick", "select " + std::to_string(order.size()) + "\nstart\n");
  EXPECT_EQ(run.LinesStarting("START "), std::vector<std::string>{"START " + Device(program + "/Apexgrid.exe") + " | " +
                                                                  Device(data_ + "/apexgrid/Circuits/My Track.cct")});
  EXPECT_EQ(Snapshot(prefix_), installed);
}

// Root may write anywhere, the installed tree too; the tree is the package manager's all the same.
TEST_F(Installed, RunAsRootTheGameStillWritesOnlyIntoItsOwnFolder) {
  if (geteuid() != 0) GTEST_SKIP() << "the programs run as root";
  const std::string program = prefix_ + "/lib/apexgrid";
  RunShell("chown -R 0:0 " + Quote(home_), folder_);
  const std::vector<std::string> installed = Snapshot(prefix_);
  TrackGrid track;
  ASSERT_EQ(LoadCircuit(track, DevicePath(program + "/Circuits/" + kShipped)), 0);
  const LapPlan lap = QuickLapOf(track);
  ASSERT_TRUE(lap.found);
  std::string script = OnePlayerTapping(lap);
  script += "key f11\nkey d\nkey a\n";  // the window's settings, the drivers' choices, a screenshot
  const ProgramRun run = Run("apexgrid", script, Quote(program + "/Circuits/" + kShipped), false);
  EXPECT_EQ(run.status, 0) << ReadText(folder_.HostFile("err"));
  EXPECT_EQ(Snapshot(prefix_), installed) << "nothing written into the installed tree";
  for (const char* file : {"Data/lastmap.dat", "Data/window.txt", "Data/drivers.txt", "ScrSave.pic"}) {
    EXPECT_TRUE(FileExists(data_ + "/apexgrid/" + file)) << file;
  }
  const Bytes copy = ReadBytes(data_ + "/apexgrid/Circuits/" + kShipped);
  ASSERT_GT(copy.size(), static_cast<size_t>(RecordOffset(track.width, track.height)) + 2);
  EXPECT_EQ(GetU16(copy, static_cast<size_t>(RecordOffset(track.width, track.height))), lap.rounds + 2);
}

// Where nothing can be kept, a lap that should have become the record is not dropped without a word.
TEST_F(Installed, ARecordThatCantBeKeptIsSaidOnce) {
  const std::string program = prefix_ + "/lib/apexgrid";
  const std::string shipped = program + "/Circuits/" + kShipped;
  TrackGrid track;
  ASSERT_EQ(LoadCircuit(track, DevicePath(shipped)), 0);
  const LapPlan lap = QuickLapOf(track);
  ASSERT_TRUE(lap.found);
  std::string script = OnePlayerTapping(lap);
  const struct {
    const char* what;
    std::string prepare;
  } cases[] = {
      {"the data folder a file", "touch " + Quote(data_)},
      {"a read-only home", "chmod 555 " + Quote(home_)},
  };
  const std::vector<std::string> installed = Snapshot(prefix_);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RunShell("chmod 755 " + Quote(home_) + " && rm -rf " + Quote(data_) + " && " + c.prepare, folder_);
    const ProgramRun run = Run("apexgrid", script, Quote(shipped));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.lines, std::vector<std::string>{"Apexgrid: the record couldn't be saved for " + Device(shipped)})
        << ReadText(folder_.HostFile("err"));
    EXPECT_EQ(Snapshot(prefix_), installed);
  }
  RunShell("chmod 755 " + Quote(home_), folder_);
}

TEST_F(Installed, HelpAndVersionAnswerAndEveryOtherCommandLineIsACircuit) {
  ProgramRun run =
      RunProgram(Quote(prefix_ + "/bin/apexgrid") + " --version >" + Quote(folder_.HostFile("out")), folder_);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(ReadText(folder_.HostFile("out")), "Apexgrid " APEXGRID_VERSION "\n");
  run = RunProgram(Quote(prefix_ + "/bin/apexpick") + " --help >" + Quote(folder_.HostFile("out")), folder_);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(ReadText(folder_.HostFile("out")).rfind("usage: apexpick\n", 0), 0u);
  // With another word beside it, --help is a circuit's name like any other.
  run = Run("apexgrid", "", "--help me");
  EXPECT_TRUE(run.Said("MESSAGE Error | Couldn't load circuit:\\n--help me")) << ReadText(folder_.HostFile("err"));
}
