// apexcircuit's subcommands on real files in a temporary folder: a circuit made from PNGs,
// previewed, inspected, checked and cleared; picture files converted both ways; and every kind
// of bad input refused with one line and no file touched.
#include "tools/circuit_tool.h"

#include <gtest/gtest.h>
#include <png.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "brain/lap_table.h"
#include "brain/track_model.h"
#include "data/circuit.h"
#include "gfx/colour.h"
#include "platform/files.h"
#include "platform/png.h"
#include "race/race_circuit.h"
#include "rules/state.h"
#include "tests/support.h"
#include "tools/canvas.h"
#include "tools/circuit_data.h"

namespace {

constexpr Rgb kGreen = Rgb8(60, 140, 60);
constexpr Rgb kGrey = Rgb8(100, 100, 104);

struct ToolRun {
  int status;
  std::string out;
  std::string err;
};

ToolRun Tool(const std::vector<std::string>& args, bool progress = false) {
  std::ostringstream out, err;
  const int status = RunCircuitTool(args, out, err, progress);
  return ToolRun{status, out.str(), err.str()};
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// An 80 x 60 ring: grass around the border and on a central island, asphalt between. Cars race
// clockwise; the start/finish line crosses the top straight at x = 40 from border to island.
struct Ring {
  static constexpr int kWidth = 80;
  static constexpr int kHeight = 60;
  static bool Track(int x, int y) {
    const bool outer = x >= 4 && x < 76 && y >= 4 && y < 56;
    const bool island = x >= 20 && x < 60 && y >= 20 && y < 40;
    return outer && !island;
  }
};

// A grey PNG of 8 or 16 bits a sample, with or without a gAMA chunk, from 8-bit levels (a 16-bit
// sample is the level times 257, the same grey).
void WriteGreyPng(const std::string& path, int width, int height, int bits, bool gamma,
                  const std::function<uint8_t(int, int)>& level) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, file);
  png_set_IHDR(png, info, width, height, bits, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (gamma) png_set_gAMA_fixed(png, info, 45455);  // 1/2.2, as sRGB
  png_write_info(png, info);
  std::vector<uint8_t> row(static_cast<size_t>(width) * bits / 8);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const uint8_t v = level(x, y);
      if (bits == 8) {
        row[x] = v;
      } else {
        row[2 * x] = row[2 * x + 1] = v;  // big-endian v * 257
      }
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  std::fclose(file);
}

void WriteImage(const std::string& path, int width, int height, const std::function<Rgb(int, int)>& colour) {
  RgbImage image;
  image.width = width;
  image.height = height;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const Rgb c = colour(x, y);
      image.rgb.push_back(static_cast<uint8_t>(c.r * 255 + 0.5f));
      image.rgb.push_back(static_cast<uint8_t>(c.g * 255 + 0.5f));
      image.rgb.push_back(static_cast<uint8_t>(c.b * 255 + 0.5f));
    }
  }
  ASSERT_EQ(WritePng(path, image), 0);
}

class CircuitTool : public ::testing::Test {
 protected:
  TempFolder folder;
  std::string picture, mask, circuit;

  void SetUp() override {
    picture = folder.HostFile("ring.png");
    mask = folder.HostFile("ring-mask.png");
    circuit = folder.HostFile("Ring.cct");
    WriteImage(picture, Ring::kWidth, Ring::kHeight, [](int x, int y) { return Ring::Track(x, y) ? kGrey : kGreen; });
    WriteImage(mask, Ring::kWidth, Ring::kHeight, [](int x, int y) {
      return Ring::Track(x, y) ? Rgb{1, 1, 1} : Rgb{0, 0, 0};
    });
  }

  std::vector<std::string> MakeArgs(const std::string& out, const std::string& start = "44,12") {
    return {"make", picture, out, "--mask", mask, "--start", start, "--line", "40,2,40,21", "--ahead", "50,12"};
  }
  void MakeRing() {
    const ToolRun made = Tool(MakeArgs(circuit));
    ASSERT_EQ(made.status, 0) << made.err;
  }
  // Writes a variant of the ring circuit directly.
  std::string WriteVariant(const std::string& name, const std::function<void(CircuitData&)>& change) {
    CircuitData c = ReadCircuitFile(circuit);
    change(c);
    const std::string path = folder.HostFile(name);
    const ByteVector bytes = EncodeCircuit(c);
    WriteBytes(path, Bytes(bytes.begin(), bytes.end()));
    return path;
  }
};

}  // namespace

TEST_F(CircuitTool, MakeWritesTheCircuitOfThePictureAndItsMask) {
  MakeRing();
  const Bytes bytes = ReadBytes(circuit);
  ASSERT_EQ(bytes.size(), static_cast<size_t>(RecordOffset(Ring::kWidth, Ring::kHeight)));
  EXPECT_EQ(GetU16(bytes, 0), Ring::kWidth);
  EXPECT_EQ(GetU16(bytes, 2), Ring::kHeight);
  const CircuitData c = ReadCircuitFile(circuit);
  EXPECT_EQ(c.start, (GridPoint{44, 12}));
  EXPECT_EQ(c.lineA, (GridPoint{40, 2}));
  EXPECT_EQ(c.lineB, (GridPoint{40, 21}));
  EXPECT_EQ(c.ahead, (GridPoint{50, 12}));
  for (int y = 0; y < Ring::kHeight; ++y) {
    for (int x = 0; x < Ring::kWidth; ++x) {
      ASSERT_EQ(c.Blocked(x, y), !Ring::Track(x, y)) << x << "," << y;
      ASSERT_EQ(c.pixels[y * Ring::kWidth + x], PixelOf(Ring::Track(x, y) ? kGrey : kGreen));
    }
  }
  // The same grid from a colour rule instead of a mask.
  const std::string byColour = folder.HostFile("ByColour.cct");
  const ToolRun made = Tool({"make", picture, byColour, "--track-colour", "100,100,104,4", "--start", "44,12", "--line",
                             "40,2,40,21", "--ahead", "50,12"});
  ASSERT_EQ(made.status, 0) << made.err;
  EXPECT_EQ(ReadCircuitFile(byColour).cells, c.cells);
}

// Dark walls stay walls in a 16-bit mask, whether or not it says its gamma: its levels are taken
// as stored, as in its 8-bit twin, not as linear light (which would make a 25% grey 55%).
TEST_F(CircuitTool, ASixteenBitMaskGivesTheCircuitOfItsEightBitTwin) {
  const auto level = [](int x, int y) { return static_cast<uint8_t>(Ring::Track(x, y) ? 0xFF : 0x40); };
  CircuitData twins[3];
  const struct {
    int bits;
    bool gamma;
  } masks[] = {{8, false}, {16, false}, {16, true}};
  for (int i = 0; i < 3; ++i) {
    const std::string maskFile = folder.HostFile("mask" + std::to_string(i) + ".png");
    WriteGreyPng(maskFile, Ring::kWidth, Ring::kHeight, masks[i].bits, masks[i].gamma, level);
    const std::string out = folder.HostFile("m" + std::to_string(i) + ".cct");
    const ToolRun made = Tool(
        {"make", picture, out, "--mask", maskFile, "--start", "44,12", "--line", "40,2,40,21", "--ahead", "50,12"});
    ASSERT_EQ(made.status, 0) << made.err;
    twins[i] = ReadCircuitFile(out);
  }
  EXPECT_EQ(twins[0].cells[0], 1) << "a 25% grey is wall";
  EXPECT_EQ(twins[1].cells, twins[0].cells) << "16-bit, no gAMA";
  EXPECT_EQ(twins[2].cells, twins[0].cells) << "16-bit with gAMA";
}

// However large the circuit, make needs little more memory than the file it writes, 3 bytes a
// pixel: the pictures are read a row at a time, never whole.
TEST_F(CircuitTool, MakeNeedsLittleMoreMemoryThanTheCircuitItWrites) {
#ifdef APEXGRID_SANITIZED
  GTEST_SKIP() << "the sanitizers' own bookkeeping would be measured with it";
#endif
  constexpr int kScale = 25;  // the ring, 2000 x 1500
  const int width = Ring::kWidth * kScale, height = Ring::kHeight * kScale;
  const std::string bigPicture = folder.HostFile("big.png"), bigMask = folder.HostFile("big-mask.png");
  auto track = [](int x, int y) { return Ring::Track(x / kScale, y / kScale); };
  WriteImage(bigPicture, width, height, [&](int x, int y) { return track(x, y) ? kGrey : kGreen; });
  WriteImage(bigMask, width, height, [&](int x, int y) { return track(x, y) ? Rgb{1, 1, 1} : Rgb{0, 0, 0}; });
  const std::string tool = APEXGRID_BUILD_FOLDER "/apexcircuit";
  const std::string out = folder.HostFile("Big.cct");
  const pid_t child = fork();
  if (child == 0) {
    execl(tool.c_str(), "apexcircuit", "make", bigPicture.c_str(), out.c_str(), "--mask", bigMask.c_str(), "--start",
          "1100,300", "--line", "1000,50,1000,525", "--ahead", "1250,300", static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  ASSERT_EQ(wait4(child, &status, 0, &usage), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(ReadBytes(out).size(), static_cast<size_t>(RecordOffset(width, height)));
  const double bytesPerPixel = usage.ru_maxrss * 1024.0 / (static_cast<double>(width) * height);
  // About 4 (the file's bytes, and the grid while it is checked) and the program itself; reading
  // each picture whole took 16.
  EXPECT_LT(bytesPerPixel, 8.0) << usage.ru_maxrss << " KB at most";
}

TEST_F(CircuitTool, InfoCheckRenderAndClearRecordWorkOnTheCircuit) {
  MakeRing();
  ToolRun info = Tool({"info", circuit});
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_TRUE(Contains(info.out, "size:              80x60")) << info.out;
  EXPECT_TRUE(Contains(info.out, "start/finish line: 40,2 to 40,21")) << info.out;
  EXPECT_TRUE(Contains(info.out, "record:            none")) << info.out;

  const ToolRun check = Tool({"check", circuit, "--moves", "--lap", folder.HostFile("lap.png"), "--scale", "2"});
  ASSERT_EQ(check.status, 0) << check.err;
  EXPECT_TRUE(Contains(check.out, "Ring.cct: a lap takes ")) << check.out;
  const int rounds = std::stoi(check.out.substr(check.out.find("takes ") + 6));
  EXPECT_EQ(std::count(check.out.begin(), check.out.end(), '\n'), rounds + 1) << "one line per move";
  EXPECT_EQ(check.err, "");
  EXPECT_TRUE(FileExists(folder.HostFile("lap.png")));
  EXPECT_EQ(ReadCircuitFile(circuit).record.size(), 0u) << "check must not store its lap as the record";

  // solve: no slower than check's lap, one line per move, and here (the line's ends lie deep
  // in the walls) a proof; its lap is stored only when asked and only while it beats the record.
  const std::string tiny = folder.HostFile("Tiny.cct");
  WriteBytes(tiny, WalledRing(30, 19, 4).Encode());
  const ToolRun checked = Tool({"check", tiny});
  ASSERT_EQ(checked.status, 0) << checked.err;
  const ToolRun solve = Tool({"solve", tiny, "--moves", "--lap", folder.HostFile("best.png")});
  ASSERT_EQ(solve.status, 0) << solve.err;
  const std::string first = solve.out.substr(0, solve.out.find('\n'));
  const size_t best = std::stoul(first.substr(first.find("lap ") + 4));
  EXPECT_EQ(first, "Tiny.cct: best lap " + std::to_string(best) + " rounds, proven optimal");
  EXPECT_LE(best, std::stoul(checked.out.substr(checked.out.find("takes ") + 6)));
  EXPECT_EQ(static_cast<size_t>(std::count(solve.out.begin(), solve.out.end(), '\n')), best + 1);
  EXPECT_EQ(solve.err, "");
  EXPECT_TRUE(FileExists(folder.HostFile("best.png")));
  EXPECT_EQ(ReadCircuitFile(tiny).record.size(), 0u);
  const ToolRun stored = Tool({"solve", tiny, "--write-record"});
  ASSERT_EQ(stored.status, 0) << stored.err;
  EXPECT_TRUE(Contains(stored.out, "stored as the record")) << stored.out;
  const CircuitData withRecord = ReadCircuitFile(tiny);
  ASSERT_EQ(withRecord.record.size(), best + 2) << "a race's record: the start twice, then every move";
  EXPECT_EQ(withRecord.record[0], withRecord.start);
  const ToolRun standing = Tool({"solve", tiny, "--write-record"});
  EXPECT_TRUE(Contains(standing.out, "the stored record of " + std::to_string(best) + " rounds stands"))
      << standing.out;
  // The lap table, as the game reads it: the fastest lap from the start is solve's.
  const ToolRun table = Tool({"table", tiny, "--out", folder.HostFile("tiny.apxlaps")});
  ASSERT_EQ(table.status, 0) << table.err;
  EXPECT_TRUE(Contains(table.out, "the fastest lap " + std::to_string(best) + " rounds")) << table.out;
  auto raced = std::make_unique<GameState>();
  ASSERT_EQ(LoadCircuit(raced->track, DevicePath(tiny)), 0);
  TrackModel model;
  ASSERT_TRUE(model.Build(raced->track));
  LapTable kept;
  ASSERT_TRUE(kept.Load(model, folder.HostFile("tiny.apxlaps")));
  EXPECT_EQ(kept.Rounds(CarState{raced->track.startPoint, {}, 0}), static_cast<int>(best));
  // Out of memory, the search reports the best lap it has and the bound it proved.
  const ToolRun bounded = Tool({"solve", circuit, "--memory", "0.001"});
  ASSERT_EQ(bounded.status, 0) << bounded.err;
  EXPECT_TRUE(Contains(bounded.out, " rounds, no lap can take fewer than ")) << bounded.out;

  const ToolRun render =
      Tool({"render", circuit, folder.HostFile("preview.png"), "--outline", "--line", "--scale", "3"});
  ASSERT_EQ(render.status, 0) << render.err;
  RgbImage preview;
  std::string error;
  ASSERT_EQ(ReadPng(folder.HostFile("preview.png"), &preview, nullptr, &error), 0) << error;
  EXPECT_EQ(preview.width, 240u);
  EXPECT_EQ(preview.height, 180u);

  // A record of 12 points, as a race would leave it.
  auto state = std::make_unique<GameState>();
  ASSERT_EQ(LoadCircuit(state->track, DevicePath(circuit)), 0);
  std::vector<GridPoint> points(12, GridPoint{44, 12});
  SaveRecord(state->track, points.data(), 12);
  info = Tool({"info", circuit});
  EXPECT_TRUE(Contains(info.out, "record:            12 points, 10 rounds")) << info.out;
  EXPECT_EQ(Tool({"render", circuit, folder.HostFile("record.png"), "--record"}).status, 0);

  const ToolRun cleared = Tool({"clear-record", circuit});
  ASSERT_EQ(cleared.status, 0) << cleared.err;
  EXPECT_TRUE(Contains(cleared.out, "10 rounds")) << cleared.out;
  EXPECT_EQ(ReadBytes(circuit).size(), static_cast<size_t>(RecordOffset(Ring::kWidth, Ring::kHeight)));
  const ToolRun again = Tool({"clear-record", circuit});
  EXPECT_EQ(again.status, 0);
  EXPECT_TRUE(Contains(again.out, "has no record")) << again.out;

  // Two points, the start twice, are no lap: the game reads them as no record.
  ASSERT_EQ(LoadCircuit(state->track, DevicePath(circuit)), 0);
  SaveRecord(state->track, points.data(), 2);
  info = Tool({"info", circuit});
  EXPECT_TRUE(Contains(info.out, "record:            none (2 points, too few for a lap)")) << info.out;
  EXPECT_TRUE(Contains(Tool({"clear-record", circuit}).out, "cleared the record section of Ring.cct"));
}

TEST_F(CircuitTool, CheckShowsItsProgressOnATerminal) {
  MakeRing();
  const ToolRun check = Tool({"check", circuit}, true);
  ASSERT_EQ(check.status, 0) << check.err;
  EXPECT_TRUE(Contains(check.err, "\rchecking Ring.cct: round 1, ")) << check.err;
  EXPECT_EQ(check.err.back(), '\r') << "the progress line is wiped at the end";
  const ToolRun solve = Tool({"solve", circuit, "--seconds", "5"}, true);
  ASSERT_EQ(solve.status, 0) << solve.err;
  EXPECT_TRUE(Contains(solve.err, "\rsolving Ring.cct: quick search")) << solve.err;
  EXPECT_TRUE(Contains(solve.err, "\rsolving Ring.cct: round 1, ")) << solve.err;
  EXPECT_EQ(solve.err.back(), '\r');
  const ToolRun table = Tool({"table", circuit, "--out", folder.HostFile("ring.apxlaps")}, true);
  ASSERT_EQ(table.status, 0) << table.err;
  EXPECT_TRUE(Contains(table.err, "\rbuilding the lap table of Ring.cct: the first lap, round 1, ")) << table.err;
  EXPECT_TRUE(Contains(table.err, "\rbuilding the lap table of Ring.cct: the stop map, ")) << table.err;
  EXPECT_EQ(table.err.back(), '\r');
}

TEST_F(CircuitTool, SolveStopsAtCtrlCWithTheBestLapSoFar) {
  // Grand Prix: a quick lap within a second or two, and no proof for many minutes. Stopped
  // before its quick lap, the tool says so, never that it ran out of time.
  const std::string grandPrix = std::string(APEXGRID_BUILD_FOLDER) + "/Circuits/5-Grand-Prix.cct";
  const std::string out = folder.HostFile("out");
  for (const char* after : {"1", "8"}) {
    SCOPED_TRACE(std::string("Ctrl-C after ") + after + " s");
    const ProgramRun run = RunProgram("timeout --preserve-status -s INT " + std::string(after) + " " +
                                          Quote(std::string(APEXGRID_BUILD_FOLDER) + "/apexcircuit") + " solve " +
                                          Quote(grandPrix) + " --seconds 600 --moves >" + Quote(out),
                                      folder);
    const std::vector<std::string> lines = LinesOf(ReadText(out));
    if (run.status != 0) {
      ASSERT_EQ(run.lines.size(), 1u);
      EXPECT_EQ(run.lines[0].rfind("apexcircuit: 5-Grand-Prix.cct: stopped before a lap was found", 0), 0u)
          << run.lines[0];
      EXPECT_TRUE(lines.empty());
      continue;
    }
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].rfind("5-Grand-Prix.cct: best lap ", 0), 0u) << lines[0];
    EXPECT_TRUE(Contains(lines[0], " rounds, no lap can take fewer than ")) << lines[0];
    EXPECT_EQ(lines.size(), std::stoul(lines[0].substr(27)) + 1);
  }
}

// Every output of solve is checked before the search, which may take long; a refused run
// searches nothing and writes nothing.
TEST_F(CircuitTool, SolveRefusesAnOutputItCouldNotWriteBeforeItSearches) {
  namespace fs = std::filesystem;
  MakeRing();
  const std::string locked = folder.HostFile("Locked.cct");
  fs::copy_file(circuit, locked);
  fs::permissions(locked, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  WriteText(folder.HostFile("file"), "not a folder");
  struct Case {
    std::vector<std::string> args;
    std::string says;
  };
  const Case cases[] = {
      {{"solve", circuit, "--lap", folder.HostFile("missing/lap.png")},
       "can't write " + folder.HostFile("missing/lap.png") + ": " + folder.HostFile("missing") + " is missing"},
      {{"solve", circuit, "--lap", folder.HostFile("file/lap.png")},
       "can't write " + folder.HostFile("file/lap.png") + ": " + folder.HostFile("file") + " is not a folder"},
      {{"solve", locked, "--write-record"}, locked + " is read-only: a record can't be stored in it"},
      {{"solve", circuit, "--seconds", "1e9"}, "--seconds 1e9: give a number of seconds above 0 and at most 1000000"},
      {{"solve", circuit, "--seconds", "0x10"}, "--seconds 0x10: give a number of seconds above 0 and at most 1000000"},
      {{"solve", circuit, "--seconds", "inf"}, "--seconds inf: give a number of seconds above 0 and at most 1000000"},
      {{"solve", circuit, "--seconds", "0"}, "--seconds 0: give a number of seconds above 0 and at most 1000000"},
      {{"solve", circuit, "--memory", "-1"}, "--memory -1: give a number of gigabytes above 0 and at most 65536"},
      {{"solve", circuit, "--threads", "0"}, "--threads 0: give a whole number from 1 to 256"},
  };
  const Bytes lockedBefore = ReadBytes(locked);
  for (const Case& c : cases) {
    const ToolRun run = Tool(c.args, true);
    EXPECT_EQ(run.status, 1) << c.says;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "apexcircuit: " + c.says + "\n") << "refused before any search";
  }
  EXPECT_EQ(ReadBytes(locked), lockedBefore);
  EXPECT_FALSE(FileExists(folder.HostFile("missing")));
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder.host())) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Locked.cct", "Ring.cct", "file", "ring-mask.png", "ring.png"}))
      << "no probe left behind";
}

TEST_F(CircuitTool, PicturesAndScreenshotsSurviveTheTripToPngAndBack) {
  // Every 5-6-5 channel value, at both ends of the other channels.
  std::vector<uint16_t> pixels;
  for (int v = 0; v < 64; ++v) {
    pixels.push_back(MakeColour(v % 32, v, 31 - v % 32));
    pixels.push_back(MakeColour(31 - v % 32, 63 - v, v % 32));
  }
  Bytes file;
  AppendU16(file, 16);
  AppendU16(file, 8);
  for (uint16_t p : pixels) AppendU16(file, p);
  WriteBytes(folder.HostFile("a.pic"), file);
  ASSERT_EQ(Tool({"topng", folder.HostFile("a.pic"), folder.HostFile("a.png")}).status, 0);
  ToolRun back = Tool({"frompng", folder.HostFile("a.png"), folder.HostFile("b.pic")});
  ASSERT_EQ(back.status, 0) << back.err;
  EXPECT_EQ(ReadBytes(folder.HostFile("b.pic")), file);

  Bytes shot;
  AppendU32(shot, 16);
  AppendU32(shot, 8);
  for (uint16_t p : pixels) AppendU16(shot, p);
  WriteBytes(folder.HostFile("shot.pic"), shot);
  const ToolRun toPng = Tool({"topng", folder.HostFile("shot.pic"), folder.HostFile("shot.png"), "--scale", "2"});
  ASSERT_EQ(toPng.status, 0) << toPng.err;
  EXPECT_TRUE(Contains(toPng.out, "16x8 screenshot")) << toPng.out;
  back = Tool({"frompng", folder.HostFile("shot.png"), folder.HostFile("ScrSave.pic")});
  ASSERT_EQ(back.status, 0) << back.err;
  const Bytes again = ReadBytes(folder.HostFile("ScrSave.pic"));
  ASSERT_EQ(again.size(), 8 + 32 * 16 * 2u);
  EXPECT_EQ(GetU32(again, 0), 32u);

  // The digit strip's key colour comes through exactly, or the digits would lose their
  // transparency.
  WriteImage(folder.HostFile("key.png"), 10, 1, [](int, int) { return Rgb{1, 0, 1}; });
  back = Tool({"frompng", folder.HostFile("key.png"), folder.HostFile("Numbers-CourierNew14.pic")});
  ASSERT_EQ(back.status, 0) << back.err;
  EXPECT_EQ(GetU16(ReadBytes(folder.HostFile("Numbers-CourierNew14.pic")), 4), 0xF81F);
}

TEST_F(CircuitTool, BadInputGetsOneLineNamingTheProblemAndWritesNothing) {
  MakeRing();
  const Bytes ring = ReadBytes(circuit);
  Bytes truncated(ring.begin(), ring.begin() + 1000);
  WriteBytes(folder.HostFile("Short.cct"), truncated);
  WriteBytes(folder.HostFile("junk.png"), Bytes{1, 2, 3, 4, 5});
  WriteBytes(folder.HostFile("three.pic"), Bytes{1, 2, 3});
  WriteImage(folder.HostFile("small.png"), 40, 30, [](int, int) { return Rgb{1, 1, 1}; });
  const std::string pipe = folder.HostFile("pipe.cct");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);  // read as it stands, it would hold the tool forever
  Bytes big;                                 // the header of a circuit of 8000 x 8000
  AppendU16(big, 8000);
  AppendU16(big, 8000);
  WriteBytes(folder.HostFile("Big.cct"), big);
  const std::string behind = WriteVariant("Behind.cct", [](CircuitData& c) { c.start = GridPoint{36, 12}; });
  const std::string walled = WriteVariant("Walled.cct", [](CircuitData& c) {
    for (int y = 40; y < 56; ++y) c.cells[y * c.width + 30] = 1;  // the bottom straight is closed
  });
  const std::string beside = WriteVariant("Beside.cct", [](CircuitData& c) { c.lineA = GridPoint{40, 6}; });
  const std::string out = folder.HostFile("Out.cct");
  auto make = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = MakeArgs(out);
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  };

  const struct Case {
    std::vector<std::string> args;
    std::string says;
  } cases[] = {
      {{"info", folder.HostFile("missing.cct")}, "can't open " + folder.HostFile("missing.cct")},
      {{"info", pipe}, "can't open " + pipe},
      {{"make", pipe, out, "--mask", mask, "--start", "44,12", "--line", "40,2,40,21", "--ahead", "50,12"},
       "is not a readable PNG"},
      {{"check", folder.HostFile("missing.cct")}, "can't open"},
      {{"render", folder.HostFile("Short.cct"), folder.HostFile("x.png")},
       "is truncated: 1000 bytes, a 80x60 circuit needs 14420"},
      {{"clear-record", folder.HostFile("Short.cct")}, "is truncated"},
      {{"check", folder.HostFile("Short.cct")}, "is truncated"},
      {{"make", folder.HostFile("missing.png"), out, "--mask", mask, "--start", "44,12", "--line", "40,2,40,21",
        "--ahead", "50,12"},
       "can't open " + folder.HostFile("missing.png")},
      {{"make", folder.HostFile("junk.png"), out, "--mask", mask, "--start", "44,12", "--line", "40,2,40,21", "--ahead",
        "50,12"},
       "is not a readable PNG"},
      {{"make", picture, out, "--mask", folder.HostFile("small.png"), "--start", "44,12", "--line", "40,2,40,21",
        "--ahead", "50,12"},
       "is 40x30, the picture is 80x60"},
      {MakeArgs(out, "90,12"), "the start point 90,12 lies outside the 80x60 picture"},
      {MakeArgs(out, "30,30"), "the start point 30,30 is on a blocked cell"},
      {{"make", picture, out, "--mask", mask, "--start", "44,12", "--line", "40,6,40,21", "--ahead", "50,12"},
       "cars can pass beside the line"},
      {{"make", picture, out, "--mask", mask, "--start", "44,12", "--line", "40,2,40,21", "--ahead", "40,9"},
       "names no racing side"},
      {make({"--track-colour", "300,0,0"}), ""},  // usage: mask and colour together
      {{"check", behind}, "behind the start/finish line"},
      {{"check", walled}, "no way along the track leads from the start point"},
      {{"check", beside}, "cars can pass beside the line"},
      {{"solve", folder.HostFile("missing.cct")}, "can't open"},
      {{"solve", behind}, "behind the start/finish line"},
      {{"solve", walled}, "no way along the track leads from the start point"},
      {{"solve", circuit, "--seconds", "soon"}, "--seconds soon: give a number of seconds above 0 and at most 1000000"},
      {{"topng", folder.HostFile("three.pic"), folder.HostFile("x.png")}, "neither a picture file nor a screenshot"},
      {{"frompng", picture, folder.HostFile("Menu.pic")}, "Menu.pic must be 140x600; the PNG is 80x60"},
      {{"frompng", picture, folder.HostFile("Numbers-CourierNew14.pic")}, "at most 11 high"},
      {{"frompng", folder.HostFile("junk.png"), folder.HostFile("x.pic")}, "is not a readable PNG"},
      {MakeArgs(out, "44,12,"), "--start 44,12,: a number is missing"},
      {MakeArgs(out, "44, 12"), "' 12' is not a whole number"},
      {MakeArgs(out, "+44,12"), "'+44' is not a whole number"},
      {make({"--line", "40,2,40,21,"}), "--line 40,2,40,21,: a number is missing"},
      {{"render", circuit, folder.HostFile("x.png"), "--scale", "2x"}, "'2x' is not a whole number"},
      // A preview has one limit, with --scale or without.
      {{"render", folder.HostFile("Big.cct"), folder.HostFile("x.png")},
       "the picture would be 8000x8000, more than the 40000000 pixels a preview may have"},
      {{"render", folder.HostFile("Big.cct"), folder.HostFile("x.png"), "--scale", "1"},
       "the picture would be 8000x8000, more than the 40000000 pixels a preview may have"},
      {{"render", folder.HostFile("Big.cct"), folder.HostFile("x.png"), "--scale", "2"}, "; use a smaller scale"},
  };
  for (const Case& c : cases) {
    const ToolRun run = Tool(c.args);
    const std::string what = c.args[0] + " " + c.args[1];
    EXPECT_NE(run.status, 0) << what;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << what << ": " << run.err;
    EXPECT_TRUE(Contains(run.err, c.says)) << what << ": " << run.err;
    EXPECT_EQ(run.out, "") << what;
  }
  EXPECT_FALSE(FileExists(out));
  EXPECT_FALSE(FileExists(folder.HostFile("x.png")));
  EXPECT_FALSE(FileExists(folder.HostFile("x.pic")));
  EXPECT_FALSE(FileExists(folder.HostFile("Menu.pic")));
  EXPECT_EQ(ReadBytes(folder.HostFile("Short.cct")), truncated);
}

TEST_F(CircuitTool, ARefusedCircuitLeavesTheOldFileWholeAndNoTemporaryBehind) {
  MakeRing();
  const Bytes before = ReadBytes(circuit);
  EXPECT_EQ(Tool(MakeArgs(circuit, "30,30")).status, 1);
  EXPECT_EQ(ReadBytes(circuit), before);
  // A successful make over an existing file replaces it whole.
  WriteImage(picture, Ring::kWidth, Ring::kHeight, [](int x, int y) {
    return Ring::Track(x, y) ? kGrey : Rgb{0, 0, 1};
  });
  EXPECT_EQ(Tool(MakeArgs(circuit)).status, 0);
  EXPECT_EQ(ReadBytes(circuit).size(), before.size());
  EXPECT_NE(ReadBytes(circuit), before);
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder.host())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Ring.cct", "ring-mask.png", "ring.png"}));
}

// An output that is one of the inputs, under its own name or another, is refused, and so is one
// made read-only unless --force is given; whatever is refused stays as it was.
TEST_F(CircuitTool, OutputsThatWouldLoseAFileAreRefused) {
  namespace fs = std::filesystem;
  MakeRing();
  WriteBytes(folder.HostFile("a.pic"), Bytes{1, 0, 1, 0, 0x1F, 0xF8});
  fs::create_hard_link(circuit, folder.HostFile("Alias.cct"));
  const std::string locked = folder.HostFile("Locked.cct");
  const std::string lockedPicture = folder.HostFile("locked.pic");
  WriteBytes(locked, ReadBytes(circuit));
  auto state = std::make_unique<GameState>();
  ASSERT_EQ(LoadCircuit(state->track, DevicePath(locked)), 0);
  const std::vector<GridPoint> record(5, GridPoint{44, 12});
  SaveRecord(state->track, record.data(), 5);
  WriteBytes(lockedPicture, Bytes{1, 0, 1, 0, 0, 0});
  const std::string lockedGif = folder.HostFile("locked.gif");
  WriteBytes(lockedGif, Bytes{1});
  for (const std::string& file : {locked, lockedPicture, lockedGif})
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  const std::vector<std::string> guarded{circuit, mask, picture, locked, lockedPicture, folder.HostFile("a.pic")};
  std::vector<Bytes> before;
  for (const std::string& file : guarded) before.push_back(ReadBytes(file));

  struct Case {
    std::vector<std::string> args;
    std::string says;
  };
  const Case cases[] = {
      {{"render", circuit, circuit}, "is also the input"},
      {{"render", circuit, folder.HostFile("Alias.cct"), "--outline"}, "is also the input"},
      {{"check", circuit, "--lap", circuit}, "is also the input"},
      {{"topng", folder.HostFile("a.pic"), folder.HostFile("a.pic")}, "is also the input"},
      {{"frompng", picture, picture}, "is also the input"},
      {{"make", picture, mask, "--mask", mask, "--start", "44,12", "--line", "40,2,40,21", "--ahead", "50,12"},
       "is also the input"},
      {MakeArgs(locked), locked + " is read-only"},
      {{"frompng", picture, lockedPicture}, lockedPicture + " is read-only"},
      {{"clear-record", locked}, locked + " is read-only"},
      {{"replay", circuit, "--record", folder.HostFile("Alias.cct")}, "is also the input"},
      {{"replay", locked, "--record", lockedPicture}, lockedPicture + " is read-only"},
  };
  for (const Case& c : cases) {
    const ToolRun run = Tool(c.args);
    EXPECT_EQ(run.status, 1) << c.args[0];
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_TRUE(Contains(run.err, c.says)) << run.err;
  }
  for (size_t i = 0; i < guarded.size(); ++i) EXPECT_EQ(ReadBytes(guarded[i]), before[i]) << guarded[i];

  // Forced, a read-only file is written, and stays read-only.
  for (const auto& args : {std::vector<std::string>{"replay", locked, "--record", lockedGif, "--force"},
                           std::vector<std::string>{"clear-record", locked, "--force"},
                           std::vector<std::string>{"frompng", picture, lockedPicture, "--force"}}) {
    const ToolRun run = Tool(args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(fs::status(args[args.size() - 2]).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  }
  EXPECT_EQ(ReadBytes(locked).size(), static_cast<size_t>(RecordOffset(Ring::kWidth, Ring::kHeight)));
  EXPECT_EQ(GetU16(ReadBytes(lockedPicture), 0), 80);
}

// Paths are the host's, taken as they are: a "\\" is part of a name, never a folder's end.
TEST_F(CircuitTool, ABackslashIsPartOfAName) {
  namespace fs = std::filesystem;
  MakeRing();
  fs::create_directory(folder.HostFile("sub"));
  const std::string odd = folder.HostFile("sub\\race.cct");
  const std::string unrelated = folder.HostFile("sub/race.cct");
  auto state = std::make_unique<GameState>();
  ASSERT_EQ(LoadCircuit(state->track, DevicePath(circuit)), 0);
  const std::vector<GridPoint> record(6, GridPoint{44, 12});
  SaveRecord(state->track, record.data(), 6);
  fs::copy_file(circuit, odd);
  fs::copy_file(circuit, unrelated);

  ToolRun run = Tool({"clear-record", odd});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadCircuitFile(odd).record.size(), 0u);
  EXPECT_EQ(ReadBytes(unrelated), ReadBytes(circuit));
  run = Tool({"render", odd, folder.HostFile("sub\\race.png"), "--outline"});
  EXPECT_EQ(run.status, 0) << run.err;
  run = Tool(MakeArgs(folder.HostFile("sub\\out.cct")));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Tool({"frompng", picture, folder.HostFile("sub\\out.pic")}).status, 0);
  for (const char* made : {"sub\\race.png", "sub\\out.cct", "sub\\out.pic"})
    EXPECT_TRUE(FileExists(folder.HostFile(made))) << made;
  EXPECT_EQ(std::distance(fs::directory_iterator(folder.HostFile("sub")), fs::directory_iterator()), 1)
      << "nothing written into sub/";
}

// A PNG that can't be written whole (a full disk) leaves the one there was and says so.
TEST_F(CircuitTool, AFailedPngWriteKeepsTheOldOne) {
  MakeRing();
  const std::string png = folder.HostFile("out.png");
  WriteBytes(folder.HostFile("a.pic"), Bytes{1, 0, 1, 0, 0x1F, 0xF8});
  for (const auto& args : {std::vector<std::string>{"render", circuit, png},
                           std::vector<std::string>{"topng", folder.HostFile("a.pic"), png},
                           std::vector<std::string>{"check", circuit, "--lap", png}}) {
    WriteBytes(png, Bytes{'o', 'l', 'd'});
    FailFileStep(kFileWrite, 1);
    const ToolRun run = Tool(args);
    FailFileStep(kFileWrite, 0);
    EXPECT_EQ(run.status, 1) << args[0];
    EXPECT_TRUE(Contains(run.err, "can't write " + png + ": No space left on device")) << run.err;
    EXPECT_EQ(ReadText(png), "old") << args[0];
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.host()), std::filesystem::directory_iterator()), 5)
      << "nothing left beside it";
}

TEST_F(CircuitTool, WrongUsageSaysSoInOneLine) {
  const std::vector<std::vector<std::string>> cases = {
      {"fly"},
      {"info"},
      {"make", "a.png", "b.cct"},
      {"render", "a.cct", "b.png", "--sideways"},
      {"topng", "a", "b", "--scale"},
      {"check", "a.cct", "--scale", "3"},  // no lap picture to scale
      {"replay", "a.apxrace", "b.gif", "--whole", "--follow", "0"},
      {"replay", "a.apxrace"},
      {"replay", "a.cct", "--record", "b.gif", "--moves-per-second", "0"},
  };
  for (const auto& args : cases) {
    const ToolRun run = Tool(args);
    EXPECT_EQ(run.status, 2) << args[0];
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  }
  EXPECT_EQ(Tool({}).status, 2);
  const ToolRun help = Tool({"help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(Contains(help.out, "clear-record CIRCUIT.cct"));
}

// apexgrid-render: every failure is one line and a non-zero status, and writes nothing.
TEST(BoardRender, EveryFailureIsOneLineAndWritesNothing) {
  TempFolder folder;
  const std::string out = folder.HostFile("out.png");
  const struct Case {
    std::string arguments;
    std::string says;
  } cases[] = {
      {"--pictures " + folder.HostFile("missing/out.png"), "can't write " + folder.HostFile("missing/out-menubar.png")},
      {"--data " + folder.HostFile("missing") + " " + out,
       "can't read the picture " + folder.HostFile("missing/MenuBar.pic")},
      {"--circuit " + folder.HostFile("missing.cct") + " " + out, "can't load circuit"},
      {"--size 10, 20 " + out, "--size needs a width and a height"},
      {"--size 0 20 " + out, "--size needs a width and a height"},
      {"--players +3 " + out, "--players needs 1 to 8"},
      {"--players 3 --current 3 " + out, "--current must name one of the 3 players"},
      {"--round 65536 " + out, "--round needs 0 to 65535"},
      {"--view 1 " + out, "--view needs two coordinates"},
      {"--sideways " + out, "unknown or incomplete option --sideways"},
      {"", "no output file"},
  };
  for (const Case& c : cases) {
    const ProgramRun run = RunProgram(APEXGRID_BUILD_FOLDER "/apexgrid-render " + c.arguments, folder);
    EXPECT_NE(run.status, 0) << c.arguments;
    ASSERT_EQ(run.lines.size(), 1u) << c.arguments;
    EXPECT_TRUE(Contains(run.lines[0], "apexgrid-render: " + c.says)) << c.arguments << ": " << run.lines[0];
    EXPECT_FALSE(FileExists(out)) << c.arguments;
  }
}

// replay: a circuit's record lap and a race file as GIFs that another decoder reads, a frame before
// the first move and one after each; a changed circuit and a bad race are refused in one line.
TEST_F(CircuitTool, ReplayAnimatesTheRecordAndARace) {
  if (std::system("/usr/bin/python3 -c 'import PIL' 2>/dev/null") != 0) GTEST_SKIP() << "no Pillow to decode with";
  MakeRing();
  ASSERT_EQ(Tool({"solve", circuit, "--seconds", "1", "--write-record"}).status, 0);
  const CircuitData ring = ReadCircuitFile(circuit);
  const size_t rounds = ring.record.size() - 2;
  const std::string sha = CircuitSha256(circuit, nullptr);
  std::string race = "apexgrid-race 1\ncircuit Ring.cct\ncircuit-path " + circuit + "\ncircuit-sha256 " + sha +
                     "\nplayers 2\ndriver 0 pro\ndriver 1 human\n";
  for (size_t i = 2; i < ring.record.size(); ++i) {
    race += "move 0 " + std::to_string(ring.record[i].x) + " " + std::to_string(ring.record[i].y) + "\nmove 1 44 12\n";
  }
  WriteText(folder.HostFile("race.apxrace"), race);
  WriteText(folder.HostFile("bad.apxrace"), race + "move 0 200 12\n");
  const std::string changed = WriteVariant("Changed.cct", [](CircuitData& c) { c.pixels[0] ^= 1; });
  WriteText(folder.HostFile("frames.py"),
            "import sys\nfrom PIL import Image, ImageSequence\n"
            "print(sum(1 for f in ImageSequence.Iterator(Image.open(sys.argv[1]))))\n");
  const auto frames = [&](const std::string& gif) {
    const std::string count = folder.HostFile("count");
    std::system(
        ("/usr/bin/python3 " + Quote(folder.HostFile("frames.py")) + " " + Quote(gif) + " > " + Quote(count)).c_str());
    return ReadText(count);
  };

  const struct {
    std::vector<std::string> args;
    int status;
    std::string frames;  // the decoder's count, or what the error line says
  } cases[] = {
      {{"replay", circuit, "--record", folder.HostFile("record.gif")}, 0, std::to_string(rounds + 1) + "\n"},
      {{"replay", folder.HostFile("race.apxrace"), folder.HostFile("race.gif"), "--follow", "1", "--scale", "2"},
       0,
       std::to_string(2 * rounds + 1) + "\n"},
      {{"replay", folder.HostFile("race.apxrace"), folder.HostFile("changed.gif"), "--circuit", changed},
       1,
       changed + " is not the one"},
      {{"replay", folder.HostFile("bad.apxrace"), folder.HostFile("bad.gif")},
       1,
       folder.HostFile("bad.apxrace") + ":" + std::to_string(8 + 2 * rounds) + ": 200,12 is outside car 0's reach"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[1]);
    const ToolRun run = Tool(c.args);
    ASSERT_EQ(run.status, c.status) << run.err;
    const std::string& gif = c.args[0] == "replay" && c.args[2] == "--record" ? c.args[3] : c.args[2];
    if (c.status == 0) {
      EXPECT_EQ(frames(gif), c.frames);
    } else {
      EXPECT_TRUE(Contains(run.err, c.frames)) << run.err;
      EXPECT_FALSE(FileExists(gif)) << "nothing written";
    }
  }
  EXPECT_EQ(ReadCircuitFile(circuit).record.size(), ring.record.size()) << "a replay never saves a record";
}
