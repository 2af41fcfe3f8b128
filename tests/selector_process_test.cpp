// Apexpick as a real process in a temporary program folder, driven by headless scripts: what it
// lists, what it starts, what the pen does on the dialog as drawn, and its shots.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/png.h"
#include "selector/dialog_layout.h"
#include "tests/support.h"

namespace {

const std::string kSelector = APEXGRID_SELECTOR_PROGRAM;
const std::string kFake = APEXGRID_FAKE_PROGRAM;

// A program folder with Apexpick and the given circuit files.
struct SelectorFolder : ProgramFolder {
  explicit SelectorFolder(const std::vector<std::string>& circuits, const std::string& name = "Game")
      : ProgramFolder(name) {
    AddProgram(kSelector, "Apexpick");
    for (const std::string& c : circuits) AddCircuit(c);
  }

  ProgramRun RunScript(const std::string& script, const std::string& environment = "") const {
    WriteText(scratch().HostFile("script"), script);
    return RunProgram("env -u APEXGRID_SCRIPT -u APEXGRID_START APEXGRID_VIDEO=headless " + LeakSuppressions() +
                          "APEXGRID_SCRIPT_Apexpick=" + Quote(scratch().HostFile("script")) + " " + environment + " " +
                          Quote(HostFile("Apexpick")),
                      scratch());
  }

  // The START line for the circuit file the file system lists in place `line` of Circuits.
  std::string StartLine(size_t line) const {
    return "START " + Device() + "\\Apexgrid.exe | " + Device() + "\\Circuits\\" + CircuitFiles().at(line);
  }
};

constexpr DialogGeometry kDialog = LayOutDialog(240, 320);

// A script line that taps the middle of a rectangle, or of one line of the list.
std::string Tap(const PixelRect& r) {
  return "tap " + std::to_string(r.x + r.width / 2) + " " + std::to_string(r.y + r.height / 2) + "\n";
}
PixelRect ListLine(int line) {
  return PixelRect{kDialog.list.x + 1, kDialog.list.y + 1 + line * kListLineHeight,
                   kDialog.list.width - 2 - kScrollBarWidth, kListLineHeight};
}

}  // namespace

TEST(Apexpick, StartsTheGameOnTheSelectedLinesFullPath) {
  for (const std::string folderName : {"Game", "My Games"}) {
    SelectorFolder folder({"Ring.cct", "oval.CCT"}, folderName);
    std::filesystem::create_directory(folder.HostFile("Circuits/x.cct"));
    const ProgramRun run = folder.RunScript("select 1\nstart\n");
    EXPECT_EQ(run.status, 0);
    std::vector<std::string> files = folder.CircuitFiles();
    ASSERT_EQ(files.size(), 2u) << "the folder x.cct is no circuit";
    EXPECT_EQ(run.lines, std::vector<std::string>{folder.StartLine(1)}) << folderName;
  }
}

TEST(Apexpick, LeavesWithoutStartingTheGame) {
  SelectorFolder folder({"Ring.cct", "oval.CCT"});
  const char* scripts[] = {
      "",                           // the script ends: as the caption OK
      "start\n",                    // nothing selected: Start does nothing
      "select 0\nstorno\nstart\n",  // the dialog has ended before the Start
      "select 0\nok\nstart\n",
      "select 0\nclose\nstart\n",                  // the desktop's close button
      "wait 500\nkey a\nblur\nfocus\nsleep 10\n",  // lines the dialog has no use for
  };
  for (const char* script : scripts) {
    const ProgramRun run = folder.RunScript(script);
    EXPECT_EQ(run.status, 0) << script;
    EXPECT_TRUE(run.lines.empty()) << script << ": " << ::testing::PrintToString(run.lines);
  }
}

TEST(Apexpick, RefusesToSelectALineThatIsNotListed) {
  struct Case {
    const char* what;
    int circuits;
    const char* script;
    const char* error;
  };
  const Case cases[] = {
      {"past the end", 2, "select 2\nstart\n", "ERROR line 1: `select 2`: the list has 2 lines"},
      {"no Circuits folder", -1, "\nselect 0\nstart\n", "ERROR line 2: `select 0`: the list has 0 lines"},
      {"past the table", 1001, "select 1000\nstart\n", "ERROR line 1: `select 1000`: the list has 1000 lines"},
  };
  for (const Case& c : cases) {
    SelectorFolder folder({});
    for (int i = 0; i < c.circuits; ++i) folder.AddCircuit("c" + std::to_string(i) + ".cct");
    if (c.circuits < 0) std::filesystem::remove(folder.HostFile("Circuits"));
    const ProgramRun run = folder.RunScript(c.script);
    EXPECT_EQ(run.status, 2) << c.what;
    EXPECT_EQ(run.lines, std::vector<std::string>{c.error}) << c.what;
  }
}

TEST(Apexpick, ThePenWorksTheDialogWhereItIsDrawn) {
  struct Case {
    const char* what;
    std::string script;
    int started;  // the line started, -1 for none
  };
  const Case cases[] = {
      {"a line, then Start", Tap(ListLine(1)) + Tap(kDialog.start), 1},
      {"a double tap only selects", Tap(ListLine(2)) + Tap(ListLine(2)), -1},
      {"a double tap, then Start", Tap(ListLine(2)) + Tap(ListLine(2)) + Tap(kDialog.start), 2},
      {"another line", Tap(ListLine(0)) + Tap(ListLine(2)) + Tap(kDialog.start), 2},
      {"the arrow keys", "key down\nkey down\nkey down\nkey up\n" + Tap(kDialog.start), 1},
      {"Start without a line", Tap(kDialog.start) + Tap(kDialog.start), -1},
      {"Storno", Tap(ListLine(1)) + Tap(kDialog.storno) + Tap(kDialog.start), -1},
      {"the caption's OK", Tap(ListLine(1)) + Tap(kDialog.okButton) + Tap(kDialog.start), -1},
      {"the label is no line", Tap(kDialog.label) + Tap(kDialog.start), -1},
      {"below the last line", Tap(ListLine(5)) + Tap(kDialog.start), -1},
      {"a press slid off Start",
       Tap(ListLine(1)) + "down " + std::to_string(kDialog.start.x + 5) + " " + std::to_string(kDialog.start.y + 5) +
           "\nmove 5 5\nup 5 5\n",
       -1},
  };
  SelectorFolder folder({"a.cct", "b.cct", "c.cct", "d.cct"});
  for (const Case& c : cases) {
    const ProgramRun run = folder.RunScript(c.script);
    EXPECT_EQ(run.status, 0) << c.what;
    if (c.started < 0) {
      EXPECT_TRUE(run.lines.empty()) << c.what;
    } else {
      EXPECT_EQ(run.lines, std::vector<std::string>{folder.StartLine(static_cast<size_t>(c.started))}) << c.what;
    }
  }
}

TEST(Apexpick, AShotShowsTheDialogAsDrawn) {
  SelectorFolder folder({"a.cct", "b.cct", "c.cct"});
  const std::string shot = folder.scratch().HostFile("shot one.png");
  const ProgramRun run = folder.RunScript("select 1\nshot " + shot + "\n");
  ASSERT_EQ(run.status, 0);
  RgbImage image;
  std::string error;
  ASSERT_EQ(ReadPng(shot, &image, nullptr, &error), 0) << error;
  ASSERT_EQ(image.width, 240u);
  ASSERT_EQ(image.height, 320u);
  auto at = [&](int x, int y) {
    const uint8_t* p = &image.rgb[(static_cast<size_t>(y) * image.width + x) * 3];
    return std::vector<int>{p[0] >> 3, p[1] >> 2, p[2] >> 3};  // back to 5-6-5 steps
  };
  const std::vector<int> navy{0, 0, 16}, white{31, 63, 31}, black{0, 0, 0};
  const PixelRect selected = ListLine(1);
  const PixelRect other = ListLine(0);
  // The far right of a line holds no text: there the line's own colour shows.
  EXPECT_EQ(at(selected.Right() - 2, selected.y + 1), navy) << "the selected line is highlighted";
  EXPECT_EQ(at(other.Right() - 2, other.y + 1), white);
  EXPECT_EQ(at(kDialog.caption.x + kDialog.caption.width / 2, kDialog.caption.y + 1), navy);
  EXPECT_EQ(at(kDialog.list.x, kDialog.list.y + 20), black) << "the list's border";
  EXPECT_EQ(at(kDialog.start.x, kDialog.start.y), black) << "Start's frame";
  EXPECT_EQ(at(kDialog.frame.x, kDialog.frame.y), black) << "the dialog's border";
  EXPECT_NE(at(kDialog.frame.x - 1, kDialog.frame.y), black) << "the screen around it";
  // Some text in the label and on Start: neither is a plain face.
  auto inks = [&](const PixelRect& r) {
    int dark = 0;
    for (int y = r.y + 2; y < r.Bottom() - 2; ++y) {
      for (int x = r.x + 2; x < r.Right() - 2; ++x) dark += at(x, y) == black ? 1 : 0;
    }
    return dark;
  };
  EXPECT_GT(inks(kDialog.label), 20);
  EXPECT_GT(inks(kDialog.start), 10);
}

// Names in other scripts are drawn in their own letters; a character the font lacks as the
// replacement character, never as "?"; a control character as "?", keeping the name on one line.
TEST(Apexpick, NamesInAnyScriptAreShownOnALineEach) {
  const std::vector<std::string> names = {"Жук", "Шар", "Δέλτα", "赛", "道", "?", "a\nb", "a?b"};
  std::vector<std::string> files;
  for (const std::string& name : names) files.push_back(name + ".cct");
  SelectorFolder folder(files);
  const std::string shot = folder.scratch().HostFile("names.png");
  ASSERT_EQ(folder.RunScript("shot " + shot + "\n").status, 0);
  RgbImage image;
  std::string error;
  ASSERT_EQ(ReadPng(shot, &image, nullptr, &error), 0) << error;
  // The ink of the line that lists the name: its dark pixels.
  const std::vector<std::string> order = folder.CircuitFiles();
  auto ink = [&](const std::string& name) {
    const size_t line = std::find(order.begin(), order.end(), name + ".cct") - order.begin();
    const PixelRect r = ListLine(static_cast<int>(line));
    std::vector<bool> dark;
    for (int y = r.y; y < r.Bottom(); ++y) {
      for (int x = r.x; x < r.Right(); ++x) {
        dark.push_back(image.rgb[(static_cast<size_t>(y) * image.width + x) * 3] < 128);
      }
    }
    return dark;
  };
  const std::vector<bool> blank(ink("?").size(), false);
  for (const std::string& name : names) EXPECT_TRUE(ink(name) != blank) << name;
  EXPECT_TRUE(ink("Жук") != ink("Шар")) << "each Cyrillic letter its own glyph";
  EXPECT_TRUE(ink("赛") == ink("道")) << "both drawn as the replacement character";
  EXPECT_TRUE(ink("赛") != ink("?"));
  EXPECT_TRUE(ink("a\nb") == ink("a?b")) << "the newline as a question mark";
}

TEST(Apexpick, AShotThatCantBeWrittenEndsTheScript) {
  SelectorFolder folder({"a.cct"});
  const ProgramRun run = folder.RunScript("shot " + folder.scratch().HostFile("none/x.png") + "\nselect 0\nstart\n");
  EXPECT_EQ(run.status, 2);
  ASSERT_EQ(run.lines.size(), 1u);
  EXPECT_EQ(run.lines[0], "ERROR line 1: can't write " + folder.scratch().HostFile("none/x.png"));
}

TEST(Apexpick, WithoutADisplaySaysSoInOneLine) {
  SelectorFolder folder({"a.cct"});
  const ProgramRun run = RunProgram("env -u DISPLAY -u WAYLAND_DISPLAY -u APEXGRID_VIDEO -u SDL_VIDEODRIVER " +
                                        LeakSuppressions() + Quote(folder.HostFile("Apexpick")),
                                    folder.scratch());
  EXPECT_NE(run.status, 0);
  const std::vector<std::string>& lines = run.lines;
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("Apexpick: can't open a display (", 0), 0u) << lines[0];
}

// With APEXGRID_START=run the start is carried out: the game program beside the selector (here a
// small stand-in that reports its command line) sees the circuit's path as its whole command line.
TEST(Apexpick, StartsTheGameProgramAsARealProcess) {
  SelectorFolder folder({"My Ring.cct"}, "My Games");
  folder.AddProgram(kFake, "Apexgrid");
  WriteText(folder.scratch().HostFile("script"), "select 0\nstart\n");
  // Every program of the chain writes into the pipe; cat ends when the last of them has ended.
  RunShell("{ env -u APEXGRID_SCRIPT APEXGRID_VIDEO=headless APEXGRID_START=run " + LeakSuppressions() +
               "APEXGRID_INSTANCE=" + Quote(folder.host()) + " APEXGRID_SCRIPT_Apexpick=" +
               Quote(folder.scratch().HostFile("script")) + " " + Quote(folder.HostFile("Apexpick")) +
               " 2>&1 >/dev/null; echo EXIT $?; } | cat >" + Quote(folder.scratch().HostFile("err")),
           folder.scratch());
  const std::vector<std::string> lines = LinesOf(ReadText(folder.scratch().HostFile("err")));
  const std::string path = folder.Device() + "\\Circuits\\My Ring.cct";
  auto has = [&](const std::string& line) { return std::find(lines.begin(), lines.end(), line) != lines.end(); };
  EXPECT_TRUE(has("EXIT 0")) << "the selector's status";
  EXPECT_TRUE(has("START " + folder.Device() + "\\Apexgrid.exe | " + path));
  EXPECT_TRUE(has("COMMAND [" + path + "] 1")) << "one argument, spaces and all";
  EXPECT_TRUE(has("LOOP ENDED 0")) << "the stand-in ran to its end";
}
