// The platform in real processes: a small windowed program run headless with scripts, chains of
// programs, a second copy, no display, and a real SDL window under a virtual X server.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
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

// Runs what in a child process as another user (nobody); its result is the child's exit status.
int AsAnotherUser(const std::function<int()>& what) {
  const pid_t child = fork();
  if (child == 0) {
    const gid_t nobody = 65534;
    if (setgroups(0, nullptr) != 0 || setresgid(nobody, nobody, nobody) != 0 ||
        setresuid(nobody, nobody, nobody) != 0) {
      _exit(255);
    }
    _exit(what());
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Connections made to a local socket and kept open, silent; how many were made.
int SilentConnections(const std::string& socketPath, int count, std::vector<int>* kept) {
  int made = 0;
  for (int i = 0; i < count; ++i) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      ++made;
      kept->push_back(fd);
    } else {
      close(fd);
    }
  }
  return made;
}

// How many files the running program at that path has open; -1 when it isn't running.
int OpenFilesOf(const std::string& program) {
  namespace fs = std::filesystem;
  std::error_code error;
  for (const fs::directory_entry& process : fs::directory_iterator("/proc", error)) {
    if (fs::read_symlink(process.path() / "exe", error) != program) continue;
    int count = 0;
    for (fs::directory_iterator f(process.path() / "fd", error); !error && f != fs::directory_iterator();
         f.increment(error)) {
      ++count;
    }
    return count;
  }
  return -1;
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
  EXPECT_EQ(tail, (std::vector<std::string>{"GOT WM_KEYDOWN 38 1",
                                            "ERROR line 2: `key` needs one of up, down, left, right, a, b, c, start, "
                                            "f11, d, h, f, r, p, e, space, comma, "
                                            "period, escape, backspace, o",
                                            "GOT WM_CLOSE 0 0", "GOT WM_DESTROY 0 0", "LOOP ENDED 2"}));
}

TEST(Processes, AnUnreadableScriptFileStopsTheProgramBeforeItStarts) {
  TempFolder folder;
  const int status = RunShell("APEXGRID_VIDEO=headless APEXGRID_SCRIPT=" + Quote(folder.HostFile("none")) + " " +
                                  Quote(kFake) + " 2>" + Quote(folder.HostFile("err")),
                              folder);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(ReadText(folder.HostFile("err")), "FakeProgram: can't read the script " + folder.HostFile("none") + "\n");
}

// The game hands over to the selector and the selector back to the game this way: each program
// of the chain reads its own script and sees exactly the command line it was given.
TEST(Processes, AChainOfProgramsRunsWithAScriptForEach) {
  TempFolder folder;
  const std::string child = folder.HostFile("Child");
  std::filesystem::copy_file(kFake, child);
  WriteBytes(folder.HostFile("child script"), Bytes{'k', 'e', 'y', ' ', 'u', 'p', '\n'});
  const std::string line = "\\x\\Circuits\\My 'Ring'.cct";
  const ProgramRun run =
      RunHeadless(folder, "key b\n",
                  "APEXGRID_START=run APEXGRID_SCRIPT_Child=" + Quote(folder.HostFile("child script")) +
                      " FAKE_CHILD=" + Quote(ToUtf8(DevicePath(child)) + ".exe") + " FAKE_CHILD_LINE=" + Quote(line));
  EXPECT_EQ(run.status, 0);
  // The started copy writes to the same standard error; wait for it to finish too.
  ASSERT_TRUE(WaitForText(folder.HostFile("err"), "LOOP ENDED", 20000, 2));
  const std::vector<std::string> lines = LinesOf(ReadText(folder.HostFile("err")));
  auto has = [&](const std::string& text) { return std::find(lines.begin(), lines.end(), text) != lines.end(); };
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
  std::system(("APEXGRID_VIDEO=headless DISPLAY=:7 " + key + LeakSuppressions() +
               "APEXGRID_SCRIPT=" + Quote(folder.HostFile("first script")) + " " + Quote(kFake) + " 2>" +
               Quote(folder.HostFile("first")) + " &")
                  .c_str());
  ASSERT_TRUE(WaitForText(folder.HostFile("first"), "GOT WM_KILLFOCUS"));

  // A copy with another key doesn't see it and runs on its own.
  const int other = RunShell("APEXGRID_VIDEO=headless APEXGRID_INSTANCE=other " + LeakSuppressions() +
                                 "FAKE_SECOND=1 " + Quote(kFake) + " 2>" + Quote(folder.HostFile("other")),
                             folder);
  EXPECT_EQ(other, 0);
  EXPECT_NE(ReadText(folder.HostFile("other")).find("STARTED UP"), std::string::npos);

  // On the same display (another screen of it) the first copy is seen coming to the front; on
  // another display the user would see nothing happen, and is told where it went.
  const struct {
    const char* display;
    std::string says;
  } seconds[] = {
      {":7.1", "COMMAND [] 0\nSECOND COPY\n"},
      {":8", "COMMAND [] 0\nFake is already running on display :7; it was brought to the front there\nSECOND COPY\n"},
  };
  for (const auto& c : seconds) {
    const int second =
        RunShell("APEXGRID_VIDEO=headless DISPLAY=" + std::string(c.display) + " " + key + LeakSuppressions() +
                     "FAKE_SECOND=1 " + Quote(kFake) + " 2>" + Quote(folder.HostFile("second")),
                 folder);
    EXPECT_EQ(second, 0);
    EXPECT_EQ(ReadText(folder.HostFile("second")), c.says) << "the second copy made no window";
  }

  ASSERT_TRUE(WaitForText(folder.HostFile("first"), "LOOP ENDED"));
  const std::vector<std::string> lines = LinesOf(ReadText(folder.HostFile("first")));
  const auto blurred = std::find(lines.begin(), lines.end(), "GOT WM_KILLFOCUS 0 0");
  ASSERT_NE(blurred, lines.end());
  EXPECT_EQ(std::count(blurred, lines.end(), "GOT WM_SETFOCUS 0 0"), 1) << "the first copy got the focus back once";
}

// A double click on a launcher starts two copies at once; eight started together leave one, even
// when each takes its time to make its window.
TEST(Processes, CopiesStartedTogetherLeaveExactlyOneRunning) {
  TempFolder folder;
  WriteText(folder.HostFile("script"), "sleep 1500\n");
  std::string copies;
  for (int i = 0; i < 8; ++i) {
    copies += "(APEXGRID_VIDEO=headless APEXGRID_INSTANCE=" + Quote(folder.host()) +
              " APEXGRID_SCRIPT=" + Quote(folder.HostFile("script")) + " FAKE_SECOND=1 FAKE_PAUSE=300 " +
              LeakSuppressions() + Quote(kFake) + " 2>" + Quote(folder.HostFile("err" + std::to_string(i))) +
              "; echo $? >>" + Quote(folder.HostFile("all")) + ") & ";
  }
  EXPECT_EQ(RunShell(copies + "wait", folder), 0);
  int running = 0, second = 0;
  for (int i = 0; i < 8; ++i) {
    const std::string said = ReadText(folder.HostFile("err" + std::to_string(i)));
    running += Count(said, "STARTED UP");
    second += Count(said, "SECOND COPY");
  }
  EXPECT_EQ(running, 1);
  EXPECT_EQ(second, 7);
  EXPECT_EQ(ReadText(folder.HostFile("all")), "0\n0\n0\n0\n0\n0\n0\n0\n");
}

// Another user can't take the program's name first, nor reach it; silent connections of its own
// user are closed in time, so that they never use up its files; and a second copy still finds
// the first. Where the runtime folder is missing (as here), the names live in a folder of the
// user's own in the temporary folder, or in the cache folder when another user took that first.
TEST(Processes, NoNeighbourCanStopTheProgramOrUseUpItsFiles) {
  TempFolder folder;
  const std::string temp = folder.HostFile("tmp");
  const std::string home = folder.HostFile("home");
  std::filesystem::create_directories(temp);
  std::filesystem::create_directories(home);
  std::filesystem::permissions(folder.host(), std::filesystem::perms(0755));
  std::filesystem::permissions(temp, std::filesystem::perms(01777));
  const std::string own = folder.HostFile("Holder");
  std::filesystem::copy_file(kFake, own);
  const std::string environment = "env -u XDG_RUNTIME_DIR -u XDG_CACHE_HOME TMPDIR=" + Quote(temp) +
                                  " HOME=" + Quote(home) + " APEXGRID_VIDEO=headless " + LeakSuppressions();
  const std::string tempName = temp + "/apexgrid-" + std::to_string(geteuid());
  const bool asRoot = geteuid() == 0;
  if (asRoot) {
    EXPECT_EQ(AsAnotherUser([&] { return mkdir(tempName.c_str(), 0777) == 0 ? 0 : 1; }), 0)
        << "the other user took the name in the temporary folder first";
  }

  WriteText(folder.HostFile("script"), "blur\nsleep 6000\n");
  StartShell(environment + "APEXGRID_SCRIPT=" + Quote(folder.HostFile("script")) + " " + Quote(own) + " 2>" +
                 Quote(folder.HostFile("first")),
             folder.HostFile("first status"));
  ASSERT_TRUE(WaitForText(folder.HostFile("first"), "GOT WM_KILLFOCUS")) << ReadText(folder.HostFile("first"));
  const std::string names = asRoot ? home + "/.cache/apexgrid" : tempName;
  std::string socketPath;
  for (const auto& entry : std::filesystem::directory_iterator(names)) {
    if (entry.path().extension() == ".sock") socketPath = entry.path().string();
  }
  ASSERT_FALSE(socketPath.empty()) << "the first copy's name is in " << names;
  EXPECT_EQ(std::filesystem::status(names).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_all);

  if (asRoot) {
    EXPECT_EQ(AsAnotherUser([&] {
                std::vector<int> kept;
                return SilentConnections(socketPath, 300, &kept);
              }),
              0)
        << "the other user reached the first copy";
  }
  // Silent connections of the program's own user: a few are served at once, each closed after a
  // moment.
  std::vector<int> kept;
  EXPECT_GT(SilentConnections(socketPath, 300, &kept), 0);
  Pause(200);
  const int openFiles = OpenFilesOf(own);
  EXPECT_GT(openFiles, 0);
  EXPECT_LT(openFiles, 40) << "connections piled up";
  for (int fd : kept) close(fd);

  const int second =
      RunShell(environment + "FAKE_SECOND=1 " + Quote(own) + " 2>" + Quote(folder.HostFile("second")), folder);
  EXPECT_EQ(second, 0);
  EXPECT_NE(ReadText(folder.HostFile("second")).find("SECOND COPY"), std::string::npos);
  ASSERT_TRUE(WaitForText(folder.HostFile("first"), "LOOP ENDED"));
  const std::string first = ReadText(folder.HostFile("first"));
  EXPECT_NE(first.find("GOT WM_SETFOCUS", first.find("GOT WM_KILLFOCUS")), std::string::npos)
      << "the second copy brought the first to the front";
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
  const int status = RunShell(
      "env -u APEXGRID_VIDEO APEXGRID_SCALE=0 " + Quote(kFake) + " 2>" + Quote(folder.HostFile("err")), folder);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(ReadText(folder.HostFile("err")), "FakeProgram: APEXGRID_SCALE must be a whole number from 1 to 16\n");
}
