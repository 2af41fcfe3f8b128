// Circuit files: loading, the outline, and the record section.
#include "data/circuit.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>

#include "platform/files.h"
#include "tests/support.h"

namespace {

std::vector<GridPoint> Points(int count, int16_t base) {
  std::vector<GridPoint> points;
  for (int i = 0; i < count; ++i) {
    points.push_back(GridPoint{static_cast<int16_t>(base + i), static_cast<int16_t>(-i)});
  }
  return points;
}

// The outline cells, read from the grid; the row-by-row list built beside it must name the same.
std::vector<std::pair<int, int>> OutlineCells(const TrackGrid& track) {
  std::vector<std::pair<int, int>> cells;
  for (int y = 0; y < track.height; ++y) {
    for (int x = 0; x < track.width; ++x) {
      if (track.outlineGrid[y * track.width + x]) cells.emplace_back(x, y);
    }
  }
  std::vector<std::pair<int, int>> listed;
  for (int y = 0; y < track.height; ++y) {
    for (uint32_t i = track.outlineRows[y]; i < track.outlineRows[y + 1]; ++i) {
      listed.emplace_back(track.outlineCells[i], y);
    }
  }
  EXPECT_EQ(listed, cells);
  return cells;
}

class Circuits : public ::testing::Test {
 protected:
  TempFolder folder;
  std::unique_ptr<TrackGrid> track = std::make_unique<TrackGrid>();

  std::u16string Write(const std::string& name, const Bytes& bytes) {
    WriteBytes(folder.HostFile(name), bytes);
    return folder.File(name);
  }
};

}  // namespace

TEST_F(Circuits, LoadsEveryFieldOfASmallCircuit) {
  TestCircuit circuit(4, 3);
  circuit.start = {1, 2};
  circuit.lineA = {-1, 0};
  circuit.lineB = {3, -7};
  circuit.ahead = {2, 1};
  circuit.Block(3, 1);
  const Bytes bytes = circuit.Encode();
  ASSERT_EQ(bytes.size(), 56u);
  const std::u16string path = Write("small.cct", bytes);

  ASSERT_EQ(LoadCircuit(*track, path), 0);
  EXPECT_EQ(track->width, 4);
  EXPECT_EQ(track->height, 3);
  EXPECT_EQ(track->startPoint, (GridPoint{1, 2}));
  EXPECT_EQ(track->finishLineA, (GridPoint{-1, 0}));
  EXPECT_EQ(track->finishLineB, (GridPoint{3, -7}));
  EXPECT_EQ(track->aheadPoint, (GridPoint{2, 1}));
  EXPECT_EQ(track->picture.width, 4u);
  EXPECT_EQ(track->picture.height, 3u);
  EXPECT_EQ(track->picture.pixels[2 * 4 + 3], circuit.pixels[11]);
  EXPECT_EQ(track->collisionGrid[1 * 4 + 3], 1);
  EXPECT_EQ(track->collisionGrid[0], 0);
  EXPECT_EQ(track->recordCount, 0);
  EXPECT_EQ(track->recordRounds, 0);
  EXPECT_EQ(track->path, path);
}

TEST_F(Circuits, RecordIsWrittenBehindTheGridAndReadBack) {
  const std::u16string path = Write("small.cct", TestCircuit(4, 3).Encode());
  ASSERT_EQ(LoadCircuit(*track, path), 0);
  const auto record = Points(40, 100);
  SaveRecord(*track, record.data(), 40);
  EXPECT_EQ(track->recordCount, 40);
  EXPECT_EQ(track->recordRounds, 38);

  const Bytes file = ReadBytes(folder.HostFile("small.cct"));
  ASSERT_EQ(file.size(), 218u);
  EXPECT_EQ(GetU16(file, 56), 40);
  EXPECT_EQ(static_cast<int16_t>(GetU16(file, 58 + 4 * 39 + 2)), -39);

  auto fresh = std::make_unique<TrackGrid>();
  ASSERT_EQ(LoadCircuit(*fresh, path), 0);
  EXPECT_EQ(fresh->recordCount, 40);
  EXPECT_EQ(fresh->recordRounds, 38);
  EXPECT_EQ(fresh->recordTrail[39], (GridPoint{139, -39}));
}

TEST_F(Circuits, AShorterRecordEndsTheFile) {
  const std::u16string path = Write("small.cct", TestCircuit(4, 3).Encode());
  ASSERT_EQ(LoadCircuit(*track, path), 0);
  const auto longRecord = Points(40, 100);
  const auto shortRecord = Points(5, 500);
  SaveRecord(*track, longRecord.data(), 40);
  SaveRecord(*track, shortRecord.data(), 5);
  EXPECT_EQ(ReadBytes(folder.HostFile("small.cct")).size(), 56u + 2 + 4 * 5) << "no old tail behind it";

  auto fresh = std::make_unique<TrackGrid>();
  ASSERT_EQ(LoadCircuit(*fresh, path), 0);
  EXPECT_EQ(fresh->recordCount, 5);
  EXPECT_EQ(fresh->recordRounds, 3);
  EXPECT_EQ(fresh->recordTrail[4], (GridPoint{504, -4}));
}

TEST_F(Circuits, SavingARecordKeepsPictureAndGridByteForByte) {
  TestCircuit circuit(30, 20);
  circuit.BlockRect(0, 0, 30, 2);
  circuit.hasRecordSection = true;
  circuit.record = Points(4000, 7);
  const std::u16string path = Write("c.cct", circuit.Encode());
  const Bytes before = ReadBytes(folder.HostFile("c.cct"));
  ASSERT_EQ(LoadCircuit(*track, path), 0);
  const auto record = Points(3000, -50);
  SaveRecord(*track, record.data(), 3000);
  const Bytes after = ReadBytes(folder.HostFile("c.cct"));
  const size_t recordOffset = RecordOffset(30, 20);
  ASSERT_EQ(after.size(), recordOffset + 2 + 4 * 3000);
  EXPECT_TRUE(std::equal(before.begin(), before.begin() + recordOffset, after.begin()));
  // Nothing is left beside the circuit: the new content took the old file's place.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.host()), std::filesystem::directory_iterator()),
            1);
}

TEST_F(Circuits, RecordCountZeroLoadsAsNoneAndKeepsTheOldTrail) {
  TestCircuit circuit(4, 3);
  circuit.hasRecordSection = true;
  circuit.record = Points(6, 10);
  ASSERT_EQ(LoadCircuit(*track, Write("with.cct", circuit.Encode())), 0);
  circuit.record.clear();
  ASSERT_EQ(LoadCircuit(*track, Write("zero.cct", circuit.Encode())), 0);
  EXPECT_EQ(track->recordCount, 0);
  EXPECT_EQ(track->recordRounds, 65534);
  EXPECT_EQ(track->recordTrail[5], (GridPoint{15, -5}));
}

// A file that can't be trusted is refused whole, and the circuit loaded before stays as it was.
TEST_F(Circuits, UntrustworthyFilesAreRefusedAndChangeNothing) {
  TestCircuit good(6, 5);
  good.start = {2, 2};
  good.BlockRect(0, 0, 6, 1);
  good.hasRecordSection = true;
  good.record = Points(4, 1);
  const std::u16string goodPath = Write("good.cct", good.Encode());
  ASSERT_EQ(LoadCircuit(*track, goodPath), 0);
  const uint16_t* pixelsBefore = track->picture.pixels;

  const Bytes full = TestCircuit(6, 5).Encode();
  struct Case {
    const char* name;
    Bytes bytes;
  };
  Bytes widthZero = full;
  widthZero[0] = widthZero[1] = 0;
  Bytes heightZero = full;
  heightZero[2] = heightZero[3] = 0;
  Bytes huge = full;
  huge[0] = huge[1] = huge[2] = huge[3] = 0xFF;
  const Case cases[] = {
      {"empty", {}},
      {"header cut short", Bytes(full.begin(), full.begin() + 19)},
      {"header only", Bytes(full.begin(), full.begin() + 20)},
      {"grid one byte short", Bytes(full.begin(), full.end() - 1)},
      {"width 0", widthZero},
      {"height 0", heightZero},
      {"65535 x 65535 in a small file", huge},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LoadCircuit(*track, Write("bad.cct", c.bytes)), 1) << c.name;
    EXPECT_EQ(track->width, 6) << c.name;
    EXPECT_EQ(track->path, goodPath) << c.name;
    EXPECT_EQ(track->picture.pixels, pixelsBefore) << c.name;
    EXPECT_EQ(track->recordCount, 4) << c.name;
    EXPECT_EQ(track->startPoint, (GridPoint{2, 2})) << c.name;
  }
  EXPECT_EQ(LoadCircuit(*track, folder.File("missing.cct")), 1);
  EXPECT_EQ(LoadCircuit(*track, folder.File("")), 1);  // a folder
  ASSERT_EQ(mkfifo(folder.HostFile("pipe.cct").c_str(), 0600), 0);
  EXPECT_EQ(LoadCircuit(*track, folder.File("pipe.cct")), 1);  // at once, not waiting for a writer
  EXPECT_EQ(track->path, goodPath);
}

// A record section that can't be trusted costs the record, not the circuit.
TEST_F(Circuits, UntrustworthyRecordsLoadAsNoRecord) {
  TestCircuit circuit(4, 3);
  circuit.hasRecordSection = true;
  struct Case {
    const char* name;
    Bytes bytes;
  };
  circuit.record = Points(10, 0);
  Bytes missingPoint = circuit.Encode();
  missingPoint.resize(missingPoint.size() - 1);
  Bytes tooMany = TestCircuit(4, 3).Encode();
  AppendU16(tooMany, 5001);
  for (int i = 0; i < 5001; ++i) AppendU32(tooMany, 0x00010001);
  Bytes lonelyByte = TestCircuit(4, 3).Encode();
  lonelyByte.push_back(7);
  circuit.record = Points(1, 0);
  const Bytes onePoint = circuit.Encode();
  circuit.record = Points(2, 0);
  const Bytes twoPoints = circuit.Encode();
  const Case cases[] = {
      {"fewer point bytes than the count says", missingPoint},
      {"count above 5000", tooMany},
      {"one byte where the count would be", lonelyByte},
      {"one point: no lap at all", onePoint},
      {"two points, the start twice: a lap of 0 rounds, which nothing could beat", twoPoints},
  };
  for (const Case& c : cases) {
    auto fresh = std::make_unique<TrackGrid>();
    ASSERT_EQ(LoadCircuit(*fresh, Write("r.cct", c.bytes)), 0) << c.name;
    EXPECT_EQ(fresh->recordCount, 0) << c.name;
    EXPECT_EQ(fresh->recordRounds, 0) << c.name;
    EXPECT_EQ(fresh->collisionGrid[0], 0) << c.name;
  }
}

TEST_F(Circuits, RecordIsDroppedWhenTheFileCantTakeIt) {
  TestCircuit circuit(4, 3);
  const std::u16string path = Write("small.cct", circuit.Encode());
  ASSERT_EQ(LoadCircuit(*track, path), 0);
  const auto record = Points(8, 0);

  // Deleted since it was loaded: not created again.
  std::filesystem::remove(folder.HostFile("small.cct"));
  SaveRecord(*track, record.data(), 8);
  EXPECT_FALSE(FileExists(folder.HostFile("small.cct")));
  EXPECT_EQ(track->recordCount, 0);

  // Cut short since it was loaded: a record at the old offset would land in the grid's place.
  Bytes cut = circuit.Encode();
  cut.resize(30);
  WriteBytes(folder.HostFile("small.cct"), cut);
  SaveRecord(*track, record.data(), 8);
  EXPECT_EQ(ReadBytes(folder.HostFile("small.cct")), cut);
  EXPECT_EQ(track->recordCount, 0);

  // Replaced by a circuit of another size.
  const Bytes other = TestCircuit(5, 3).Encode();
  WriteBytes(folder.HostFile("small.cct"), other);
  SaveRecord(*track, record.data(), 8);
  EXPECT_EQ(ReadBytes(folder.HostFile("small.cct")), other);
  EXPECT_EQ(track->recordCount, 0);
}

// Even for root, whose writes the permissions don't stop.
TEST_F(Circuits, RecordIsDroppedForAReadOnlyFile) {
  const Bytes bytes = TestCircuit(4, 3).Encode();
  const std::u16string path = Write("small.cct", bytes);
  ASSERT_EQ(LoadCircuit(*track, path), 0);
  std::filesystem::permissions(folder.HostFile("small.cct"), std::filesystem::perms::owner_read);
  const auto record = Points(8, 0);
  SaveRecord(*track, record.data(), 8);
  EXPECT_EQ(ReadBytes(folder.HostFile("small.cct")), bytes);
  EXPECT_EQ(track->recordCount, 0);
}

// Another writer (a second copy of the game, the circuit tool) may store a record after this grid
// was loaded: a lap replaces the record the file holds only when it has fewer points, and memory
// then holds what the file holds.
TEST_F(Circuits, OnlyALapThatBeatsTheRecordOnFileReplacesIt) {
  struct Case {
    const char* what;
    int stored;     // points stored by another writer since loading; 0 for none
    int lap;        // points of the lap saved
    bool replaced;  // the file holds the lap afterwards, else what was stored
  };
  const Case cases[] = {
      {"none stored", 0, 8, true},
      {"a better record stored meanwhile stands", 5, 8, false},
      {"an equal one stands", 8, 8, false},
      {"a worse one is replaced", 12, 8, true},
      {"two points are no lap and never replace one", 5, 2, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestCircuit circuit(4, 3);
    const std::u16string path = Write("c.cct", circuit.Encode());
    ASSERT_EQ(LoadCircuit(*track, path), 0);
    const auto stored = Points(c.stored, 100), lap = Points(c.lap, 500);
    if (c.stored > 0) {
      auto other = std::make_unique<TrackGrid>();
      ASSERT_EQ(LoadCircuit(*other, path), 0);
      SaveRecord(*other, stored.data(), static_cast<uint16_t>(c.stored));
    }
    SaveRecord(*track, lap.data(), static_cast<uint16_t>(c.lap));
    const auto& expected = c.replaced ? lap : stored;
    auto fresh = std::make_unique<TrackGrid>();
    ASSERT_EQ(LoadCircuit(*fresh, path), 0);
    EXPECT_EQ(std::vector<GridPoint>(fresh->recordTrail, fresh->recordTrail + fresh->recordCount), expected);
    EXPECT_EQ(std::vector<GridPoint>(track->recordTrail, track->recordTrail + track->recordCount), expected);
    EXPECT_EQ(track->recordRounds, fresh->recordRounds);
    EXPECT_EQ(track->recordsLost, 0);
  }

  // A writer that never lets go of the file keeps the lap out; the game goes on, and knows.
  const int holder = open(folder.HostFile("c.cct").c_str(), O_RDONLY);
  ASSERT_EQ(flock(holder, LOCK_EX), 0);
  const Bytes before = ReadBytes(folder.HostFile("c.cct"));
  const auto fast = Points(4, 900);
  SaveRecord(*track, fast.data(), 4);
  close(holder);
  EXPECT_EQ(ReadBytes(folder.HostFile("c.cct")), before);
  EXPECT_EQ(track->recordsLost, 1);
}

// Whatever step fails, whichever way the record is written, a reload finds the old record, the new
// one or none, and memory holds what the file holds.
TEST_F(Circuits, AFailingStepLeavesTheOldRecordTheNewOneOrNone) {
  const auto oldRecord = Points(30, 100);
  const auto newRecord = Points(12, 500);  // shorter, so that the way in place has a tail to cut
  const char* stepNames[] = {"open", "write", "sync", "rename", "truncate"};
  // A second link keeps the file from being replaced, so the record goes in place.
  for (const bool inPlace : {false, true}) {
    for (int step = 0; step < kFileStepCount; ++step) {
      for (int nth = 1; nth <= 4; ++nth) {
        SCOPED_TRACE(std::string(inPlace ? "in place" : "by rename") + ", " + stepNames[step] + " " +
                     std::to_string(nth));
        std::filesystem::remove(folder.HostFile("other link.cct"));
        TestCircuit circuit(4, 3);
        circuit.hasRecordSection = true;
        circuit.record = oldRecord;
        const std::u16string path = Write("c.cct", circuit.Encode());
        if (inPlace) std::filesystem::create_hard_link(folder.HostFile("c.cct"), folder.HostFile("other link.cct"));
        auto loaded = std::make_unique<TrackGrid>();
        ASSERT_EQ(LoadCircuit(*loaded, path), 0);

        FailFileStep(static_cast<FileStep>(step), nth);
        SaveRecord(*loaded, newRecord.data(), static_cast<uint16_t>(newRecord.size()));
        const bool failed = !FileFaultPending();
        FailFileStep(static_cast<FileStep>(step), 0);

        auto reloaded = std::make_unique<TrackGrid>();
        ASSERT_EQ(LoadCircuit(*reloaded, path), 0);
        const std::vector<GridPoint> onFile(reloaded->recordTrail, reloaded->recordTrail + reloaded->recordCount);
        EXPECT_TRUE(onFile == oldRecord || onFile == newRecord || onFile.empty()) << onFile.size() << " points";
        if (!failed) {
          EXPECT_EQ(onFile, newRecord) << "no step failed";
        }
        EXPECT_EQ(loaded->recordCount, reloaded->recordCount);
        EXPECT_EQ(loaded->recordRounds, reloaded->recordRounds);
        EXPECT_TRUE(std::equal(onFile.begin(), onFile.end(), loaded->recordTrail));
        EXPECT_EQ(
            std::distance(std::filesystem::directory_iterator(folder.host()), std::filesystem::directory_iterator()),
            inPlace ? 2 : 1)
            << "nothing left beside the circuit";
      }
    }
  }
}

// The record goes into the file the user has, whatever it is to the file system, and the file
// stays what it was: a link, one of several names, with attributes, in a folder that takes no new
// names.
TEST_F(Circuits, ARecordGoesIntoTheFileTheUserHas) {
  const Bytes plain = TestCircuit(4, 3).Encode();
  const auto record = Points(9, 40);
  namespace fs = std::filesystem;
  struct Case {
    const char* what;
    std::string load;               // the name the game is given
    std::function<bool()> prepare;  // false when the file system can't do it here
    std::function<void()> keeps;    // what must stay as it was
  };
  const std::string sub = folder.HostFile("case");
  const Case cases[] = {
      {"a symbolic link: the target takes the record, the link stays", sub + "/link.cct",
       [&] {
         WriteBytes(sub + "/target.cct", plain);
         fs::create_symlink("target.cct", sub + "/link.cct");
         return true;
       },
       [&] {
         EXPECT_TRUE(fs::is_symlink(sub + "/link.cct"));
         EXPECT_EQ(ReadBytes(sub + "/target.cct").size(), plain.size() + 2 + 4 * 9);
       }},
      {"a hard link: both names keep one file", sub + "/a.cct",
       [&] {
         WriteBytes(sub + "/a.cct", plain);
         fs::create_hard_link(sub + "/a.cct", sub + "/b.cct");
         return true;
       },
       [&] {
         EXPECT_EQ(fs::hard_link_count(sub + "/a.cct"), 2u);
         EXPECT_EQ(ReadBytes(sub + "/b.cct"), ReadBytes(sub + "/a.cct"));
       }},
      {"a file with an extended attribute keeps it", sub + "/marked.cct",
       [&] {
         WriteBytes(sub + "/marked.cct", plain);
         return setxattr((sub + "/marked.cct").c_str(), "user.apexgrid", "kept", 4, 0) == 0;
       },
       [&] {
         char value[8] = {};
         EXPECT_EQ(getxattr((sub + "/marked.cct").c_str(), "user.apexgrid", value, sizeof value), 4);
         EXPECT_STREQ(value, "kept");
       }},
      {"a folder that takes no new names", sub + "/locked/c.cct",
       [&] {
         fs::create_directory(sub + "/locked");
         WriteBytes(sub + "/locked/c.cct", plain);
         return true;
       },
       [&] { EXPECT_EQ(std::distance(fs::directory_iterator(sub + "/locked"), fs::directory_iterator()), 1); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(sub);
    fs::create_directory(sub);
    if (!c.prepare()) continue;
    // Everything is the test user's; the locked folder is locked last.
    GiveToTestUser(folder.host());
    if (fs::exists(sub + "/locked")) fs::permissions(sub + "/locked", fs::perms::owner_read | fs::perms::owner_exec);
    const bool held = AsTestUser([&] {
      auto grid = std::make_unique<TrackGrid>();
      ASSERT_EQ(LoadCircuit(*grid, DevicePath(c.load)), 0);
      SaveRecord(*grid, record.data(), 9);
      EXPECT_EQ(grid->recordCount, 9);
      auto again = std::make_unique<TrackGrid>();
      ASSERT_EQ(LoadCircuit(*again, DevicePath(c.load)), 0);
      EXPECT_EQ(again->recordCount, 9);
      EXPECT_EQ(again->recordTrail[8], record[8]);
      c.keeps();
    });
    EXPECT_TRUE(held);
    if (fs::exists(sub + "/locked")) fs::permissions(sub + "/locked", fs::perms::owner_all);
  }
}

TEST_F(Circuits, OutlineMarksBlockedCellsBesideFreeOnes) {
  // All blocked but the centre of a 5 x 5 grid: its four direct neighbours are outline, its
  // diagonal ones are not.
  TestCircuit circuit(5, 5);
  circuit.BlockRect(0, 0, 5, 5);
  circuit.cells[2 * 5 + 2] = 0;
  ASSERT_EQ(LoadCircuit(*track, Write("a.cct", circuit.Encode())), 0);
  using Cells = std::vector<std::pair<int, int>>;
  EXPECT_EQ(OutlineCells(*track), (Cells{{2, 1}, {1, 2}, {3, 2}, {2, 3}}));

  // The outermost rows and columns never are, even beside free cells; cell values other than 0
  // and 1 are neither free nor blocked for the outline.
  TestCircuit edge(5, 4);
  edge.BlockRect(0, 0, 5, 4);
  edge.cells[1 * 5 + 1] = 0;  // free cell beside the left and top edges
  edge.cells[2 * 5 + 3] = 2;  // beside blocked (3, 1) and (2, 2), and makes neither outline
  ASSERT_EQ(LoadCircuit(*track, Write("b.cct", edge.Encode())), 0);
  EXPECT_EQ(OutlineCells(*track), (Cells{{2, 1}, {1, 2}}));

  for (auto [w, h] : {std::pair{2, 9}, std::pair{9, 2}, std::pair{1, 1}}) {
    TestCircuit thin(static_cast<uint16_t>(w), static_cast<uint16_t>(h));
    thin.BlockRect(0, 0, w, h);
    thin.cells[0] = 0;
    ASSERT_EQ(LoadCircuit(*track, Write("t.cct", thin.Encode())), 0);
    EXPECT_TRUE(OutlineCells(*track).empty()) << w << "x" << h;
  }
}
