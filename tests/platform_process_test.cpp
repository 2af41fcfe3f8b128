// The platform in real processes: a small windowed program run headless with scripts, chains of
// programs, a second copy, no display, and a real SDL window under a virtual X server.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/text.h"
#include "tests/support.h"

namespace {

const std::string kFake = APEXGRID_FAKE_PROGRAM;

// The fake program run headless with a script.
ProgramRun RunHeadless(const TempFolder& folder, const std::string& script, const std::string& environment = "") {
  WriteText(folder.HostFile("script"), script);
  return RunProgram("APEXGRID_VIDEO=headless APEXGRID_INSTANCE=" + Quote(folder.host()) + " APEXGRID_SCRIPT=" +
                        Quote(folder.HostFile("script")) + " " + LeakSuppressions() + environment + " " + Quote(kFake),
                    folder);
}

}  // namespace

TEST(Processes, AHeadlessProgramPlaysItsScriptAndWritesItsReports) {
  TempFolder folder;
  const ProgramRun run = RunHeadless(folder, "tap 5 6\nwait 400\nkey a\nwait 1000\n", "FAKE_ONE_TICK=1");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.lines, (std::vector<std::string>{
                           "COMMAND [] 0",
                           "GOT WM_CREATE 0 0",
                           "GOT WM_SETFOCUS 0 0",
                           "STARTED UP",
                           "GOT WM_LBUTTONDOWN 1 393221",
                           "GOT WM_LBUTTONUP 0 393221",
                           "GOT WM_TIMER 100 400",
                           "GOT WM_KEYDOWN 193 1",
                           "MESSAGE Note | first line\\nsecond line",
                           "GOT WM_CLOSE 0 0",
                           "GOT WM_DESTROY 0 0",
                           "LOOP ENDED 0",
                       }));
}

TEST(Processes, AnUnreadableScriptLineEndsTheProgramWithStatusTwo) {
  TempFolder folder;
  const ProgramRun run = RunHeadless(folder, "key up\nkey enter\nkey down\n");
  EXPECT_EQ(run.status, 2);
  const std::vector<std::string> tail(run.lines.end() - 5, run.lines.end());
  EXPECT_EQ(tail, (std::vector<std::string>{
                      "GOT WM_KEYDOWN 38 1",
                      "ERROR line 2: `key` needs one of up, down, left, right, a, b, c, start, f11",
                      "GOT WM_CLOSE 0 0", "GOT WM_DESTROY 0 0", "LOOP ENDED 2"}));
}

TEST(Processes, AnUnreadableScriptFileStopsTheProgramBeforeItStarts) {
  TempFolder folder;
  const int status = RunShell("APEXGRID_VIDEO=headless APEXGRID_SCRIPT=" +
                             Quote(folder.HostFile("none")) + " " + Quote(kFake) + " 2>" +
                             Quote(folder.HostFile("err")),
                         folder);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(ReadText(folder.HostFile("err")),
            "FakeProgram: can't read the script " + folder.HostFile("none") + "\n");
}

// The game hands over to the selector and the selector back to the game this way: each program
// of the chain reads its own script and sees exactly the command line it was given.
TEST(Processes, AChainOfProgramsRunsWithAScriptForEach) {
  TempFolder folder;
  const std::string child = folder.HostFile("Child");
  std::filesystem::copy_file(kFake, child);
  WriteBytes(folder.HostFile("child script"), Bytes{'k', 'e', 'y', ' ', 'u', 'p', '\n'});
  const std::string line = "\\x\\Circuits\\My 'Ring'.cct";
  const ProgramRun run = RunHeadless(
      folder, "key b\n",
      "APEXGRID_START=run APEXGRID_SCRIPT_Child=" + Quote(folder.HostFile("child script")) +
          " FAKE_CHILD=" + Quote(ToUtf8(DevicePath(child)) + ".exe") +
          " FAKE_CHILD_LINE=" + Quote(line));
  EXPECT_EQ(run.status, 0);
  // The started copy writes to the same standard error; wait for it to finish too.
  ASSERT_TRUE(WaitForText(folder.HostFile("err"), "LOOP ENDED", 20000, 2));
  const std::vector<std::string> lines = LinesOf(ReadText(folder.HostFile("err")));
  auto has = [&](const std::string& text) {
    return std::find(lines.begin(), lines.end(), text) != lines.end();
  };
  EXPECT_TRUE(has("START " + ToUtf8(DevicePath(child)) + ".exe | " + line));
  EXPECT_TRUE(has("STARTED 1"));
  EXPECT_TRUE(has("COMMAND [" + line + "] 1"));
  EXPECT_TRUE(has("GOT WM_KEYDOWN 38 1")) << "the started copy played its own script";
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "GOT WM_KEYDOWN 194 1"), 1)
      << "the started copy did not play the first one's script";
}

TEST(Processes, ASecondCopyBringsTheFirstToTheFrontAndEnds) {
  TempFolder folder;
  const std::string key = "APEXGRID_INSTANCE=" + Quote(folder.host()) + " ";
  WriteBytes(folder.HostFile("first"), Bytes{});
  const std::string first = "blur\nsleep 4000\n";
  WriteText(folder.HostFile("first script"), first);
  std::system(("APEXGRID_VIDEO=headless " + key + LeakSuppressions() +
               "APEXGRID_SCRIPT=" + Quote(folder.HostFile("first script")) + " " + Quote(kFake) +
               " 2>" + Quote(folder.HostFile("first")) + " &")
                  .c_str());
  ASSERT_TRUE(WaitForText(folder.HostFile("first"), "GOT WM_KILLFOCUS"));

  // A copy with another key doesn't see it and runs on its own.
  const int other = RunShell("APEXGRID_VIDEO=headless APEXGRID_INSTANCE=other " + LeakSuppressions() +
                            "FAKE_SECOND=1 " + Quote(kFake) + " 2>" + Quote(folder.HostFile("other")),
                        folder);
  EXPECT_EQ(other, 0);
  EXPECT_NE(ReadText(folder.HostFile("other")).find("STARTED UP"), std::string::npos);

  const int second = RunShell("APEXGRID_VIDEO=headless " + key + LeakSuppressions() +
                             "FAKE_SECOND=1 " + Quote(kFake) + " 2>" + Quote(folder.HostFile("second")),
                         folder);
  EXPECT_EQ(second, 0);
  const std::string secondSaid = ReadText(folder.HostFile("second"));
  EXPECT_NE(secondSaid.find("SECOND COPY"), std::string::npos);
  EXPECT_EQ(secondSaid.find("GOT"), std::string::npos) << "the second copy made no window";

  ASSERT_TRUE(WaitForText(folder.HostFile("first"), "LOOP ENDED"));
  const std::vector<std::string> lines = LinesOf(ReadText(folder.HostFile("first")));
  const auto blurred = std::find(lines.begin(), lines.end(), "GOT WM_KILLFOCUS 0 0");
  ASSERT_NE(blurred, lines.end());
  EXPECT_EQ(std::count(blurred, lines.end(), "GOT WM_SETFOCUS 0 0"), 1)
      << "the first copy got the focus back once";
}

TEST(Processes, WithoutADisplayTheProgramSaysSoInOneLine) {
  TempFolder folder;
  const int status = RunShell("env -u DISPLAY -u WAYLAND_DISPLAY -u APEXGRID_VIDEO -u SDL_VIDEODRIVER " +
                             LeakSuppressions() + Quote(kFake) + " 2>" + Quote(folder.HostFile("err")),
                         folder);
  EXPECT_EQ(status, 1);
  const std::vector<std::string> lines = LinesOf(ReadText(folder.HostFile("err")));
  ASSERT_EQ(lines.size(), 1u) << ReadText(folder.HostFile("err"));
  EXPECT_EQ(lines[0].rfind("FakeProgram: can't open a display (", 0), 0u) << lines[0];
  EXPECT_NE(lines[0].find("APEXGRID_VIDEO=headless"), std::string::npos);
}

TEST(Processes, ABadScaleIsRefusedBeforeAnythingOpens) {
  TempFolder folder;
  const int status = RunShell("env -u APEXGRID_VIDEO APEXGRID_SCALE=0 " + Quote(kFake) + " 2>" +
                             Quote(folder.HostFile("err")),
                         folder);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(ReadText(folder.HostFile("err")),
            "FakeProgram: APEXGRID_SCALE must be a whole number from 1 to 16\n");
}
