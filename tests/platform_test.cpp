// The window system on the headless backend: scripts, the queue, timers, focus, reports, files.
#include "platform/platform.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/core.h"
#include "platform/files.h"
#include "platform/find.h"
#include "platform/gx.h"
#include "platform/png.h"
#include "platform/process.h"
#include "platform/script.h"
#include "platform/settings.h"
#include "platform/text.h"
#include "platform/window.h"
#include "tests/support.h"

namespace {

// ---- A window procedure that writes down what it receives ----------------------------------------

std::vector<std::string> received;
// What the procedure does besides writing down; tests set these.
bool closeOnStartKey = false;
bool ignoreClose = false;
bool killTimerAtTick = false;
bool postAtPenDown = false;

std::string Describe(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  switch (message) {
    case WM_CREATE:
      return "create";
    case WM_DESTROY:
      return "destroy";
    case WM_SETFOCUS:
      return "setfocus";
    case WM_KILLFOCUS:
      return "killfocus";
    case WM_CLOSE:
      return "close";
    case WM_NETWORK:
      return "network " + std::to_string(wParam);
    case WM_KEYDOWN:
      return "key " + std::to_string(wParam);
    case WM_TIMER:
      return "timer " + std::to_string(wParam) + " at " + std::to_string(GetTickCount());
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP: {
      const char* kind = message == WM_MOUSEMOVE ? "move" : message == WM_LBUTTONDOWN ? "down" : "up";
      return std::string(kind) + " " + std::to_string(PenX(lParam)) + "," + std::to_string(PenY(lParam)) +
             (wParam == MK_LBUTTON ? " held" : "");
    }
    default:
      return "message " + std::to_string(message);
  }
}

intptr_t RecordingProc(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  received.push_back(Describe(message, wParam, lParam));
  switch (message) {
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_TIMER:
      if (killTimerAtTick) KillTimer(window, wParam);
      return 0;
    case WM_KEYDOWN:
      if (closeOnStartKey && wParam == static_cast<uint16_t>(kKeyStart)) {
        SendMessage(window, WM_CLOSE, 0, 0);
        received.push_back("closed by key");
      }
      return 0;
    case WM_LBUTTONDOWN:
      if (postAtPenDown) PostMessage(window, 0x400, 0, 0);
      return 0;
    case WM_CLOSE:
      if (ignoreClose) return 0;
      break;
    default:
      break;
  }
  return DefWindowProc(window, message, wParam, lParam);
}

// A headless run of a script, from start to the end of the loop.
class Headless : public ::testing::Test {
 protected:
  void SetUp() override {
    received.clear();
    closeOnStartKey = ignoreClose = killTimerAtTick = postAtPenDown = false;
    setenv("APEXGRID_VIDEO", "headless", 1);
    setenv("APEXGRID_INSTANCE", folder_.host().c_str(), 1);
    unsetenv("APEXGRID_SCRIPT");
    unsetenv("APEXGRID_SCRIPT_Test");
    unsetenv("APEXGRID_START");
  }
  void TearDown() override {
    StopPlatform(0);
    ResetDisplay();
  }

  // Starts the platform with the script and makes the window (visible, as the game makes it).
  WindowHandle Start(const std::string& script) {
    WriteText(folder_.HostFile("script"), script);
    setenv("APEXGRID_SCRIPT", folder_.HostFile("script").c_str(), 1);
    char name[] = "Test";
    char* argv[] = {name};
    std::string error;
    EXPECT_EQ(StartPlatform(1, argv, "Test", &error), 0) << error;
    WindowClass windowClass;
    windowClass.windowProc = RecordingProc;
    windowClass.className = u"TEST";
    RegisterClass(&windowClass);
    WindowHandle window =
        CreateWindow(u"TEST", u"Test", WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT);
    received.push_back("created");
    return window;
  }

  // The message loop as the game runs it; returns the quit message's code.
  int RunLoop() {
    Message message;
    while (GetMessage(&message)) {
      TranslateMessage(&message);
      DispatchMessage(&message);
    }
    received.push_back("quit");
    return static_cast<int>(message.wParam);
  }

  TempFolder folder_;
};

using Lines = std::vector<std::string>;

}  // namespace

// ---- Script lines --------------------------------------------------------------------------------

TEST(Script, ReadsEveryKindOfLine) {
  struct Case {
    const char* text;
    ScriptAction action;
    int x, y;
    int16_t key;
    uint32_t ms;
    int index;
    const char* file;
  };
  const Case cases[] = {
      {"tap 10 20", ScriptAction::kTap, 10, 20, 0, 0, 0, ""},
      {"  down\t0 319  ", ScriptAction::kDown, 0, 319, 0, 0, 0, ""},
      {"move -5 400", ScriptAction::kMove, -5, 400, 0, 0, 0, ""},
      {"up 239 0\r", ScriptAction::kUp, 239, 0, 0, 0, 0, ""},
      {"key up", ScriptAction::kKey, 0, 0, kKeyUp, 0, 0, ""},
      {"key down", ScriptAction::kKey, 0, 0, kKeyDown, 0, 0, ""},
      {"key left", ScriptAction::kKey, 0, 0, kKeyLeft, 0, 0, ""},
      {"key right", ScriptAction::kKey, 0, 0, kKeyRight, 0, 0, ""},
      {"key a", ScriptAction::kKey, 0, 0, kKeyA, 0, 0, ""},
      {"key b", ScriptAction::kKey, 0, 0, kKeyB, 0, 0, ""},
      {"key c", ScriptAction::kKey, 0, 0, kKeyC, 0, 0, ""},
      {"key start", ScriptAction::kKey, 0, 0, kKeyStart, 0, 0, ""},
      {"key f11", ScriptAction::kKey, 0, 0, kHostKeyFullScreen, 0, 0, ""},
      {"key d", ScriptAction::kKey, 0, 0, kHostKeyDriver, 0, 0, ""},
      {"key comma", ScriptAction::kKey, 0, 0, kHostKeyStepBack, 0, 0, ""},
      {"wait 400", ScriptAction::kWait, 0, 0, 0, 400, 0, ""},
      {"wait 0", ScriptAction::kWait, 0, 0, 0, 0, 0, ""},
      {"sleep 25", ScriptAction::kSleep, 0, 0, 0, 25, 0, ""},
      {"network 12 5000", ScriptAction::kNetwork, 0, 0, 0, 5000, 12, ""},
      {"blur", ScriptAction::kBlur, 0, 0, 0, 0, 0, ""},
      {"focus # back again", ScriptAction::kFocus, 0, 0, 0, 0, 0, ""},
      {"shot out/title screen.png", ScriptAction::kShot, 0, 0, 0, 0, 0, "out/title screen.png"},
      {"shot a#1.png  # the first", ScriptAction::kShot, 0, 0, 0, 0, 0, "a#1.png"},
      {"close", ScriptAction::kClose, 0, 0, 0, 0, 0, ""},
      {"type http://127.0.0.1:8470 #1 ", ScriptAction::kType, 0, 0, 0, 0, 0, "http://127.0.0.1:8470 #1 "},
      {"key backspace", ScriptAction::kKey, 0, 0, kHostKeyBackspace, 0, 0, ""},
      {"select 3", ScriptAction::kSelect, 0, 0, 0, 0, 3, ""},
      {"start", ScriptAction::kStart, 0, 0, 0, 0, 0, ""},
      {"storno", ScriptAction::kStorno, 0, 0, 0, 0, 0, ""},
      {"ok", ScriptAction::kOk, 0, 0, 0, 0, 0, ""},
  };
  for (const Case& c : cases) {
    ScriptEvent event;
    std::string error;
    ASSERT_EQ(ParseScriptLine(c.text, 7, &event, &error), 1) << c.text << ": " << error;
    EXPECT_EQ(event.action, c.action) << c.text;
    EXPECT_EQ(event.line, 7);
    EXPECT_EQ(event.x, c.x) << c.text;
    EXPECT_EQ(event.y, c.y) << c.text;
    EXPECT_EQ(event.key, c.key) << c.text;
    EXPECT_EQ(event.milliseconds, c.ms) << c.text;
    EXPECT_EQ(event.index, c.index) << c.text;
    EXPECT_EQ(event.file, c.file) << c.text;
  }
}

TEST(Script, SkipsBlankAndCommentLinesAndRefusesTheRest) {
  for (const char* skipped : {"", "   ", "\t\r", "# a comment", "   # indented comment"}) {
    ScriptEvent event;
    std::string error;
    EXPECT_EQ(ParseScriptLine(skipped, 1, &event, &error), 0) << "[" << skipped << "]";
  }
  struct Case {
    const char* text;
    const char* says;
  };
  const Case refused[] = {
      {"jump", "unknown event `jump`"},
      {"Tap 1 2", "unknown event `Tap`"},
      {"tap 1", "`tap` needs two whole numbers"},
      {"tap 1 2 3", "`tap` needs two whole numbers"},
      {"tap 1.5 2", "`tap` needs two whole numbers"},
      {"tap x 2", "`tap` needs two whole numbers"},
      {"move 1 32768", "`move` needs two whole numbers"},
      {"down - 4", "`down` needs two whole numbers"},
      {"key", "`key` needs one of"},
      {"key enter", "`key` needs one of"},
      {"key UP", "`key` needs one of"},
      {"wait", "`wait` needs milliseconds"},
      {"wait -1", "`wait` needs milliseconds"},
      {"wait 86400001", "`wait` needs milliseconds"},
      {"wait 99999999999999999999", "`wait` needs milliseconds"},
      {"sleep 600001", "`sleep` needs milliseconds"},
      {"network 3", "`network` needs a count of results"},
      {"network -1 100", "`network` needs a count of results"},
      {"network 3 600001", "`network` needs a count of results"},
      {"type", "`type` needs the text to type"},
      {"type ", "`type` needs the text to type"},
      {"select", "`select` needs a list line"},
      {"select -1", "`select` needs a list line"},
      {"shot", "`shot` needs a file name"},
      {"shot # only a comment", "`shot` needs a file name"},
      {"close now", "`close` takes nothing after it"},
      {"ok ok", "`ok` takes nothing after it"},
  };
  for (const Case& c : refused) {
    ScriptEvent event;
    std::string error;
    EXPECT_EQ(ParseScriptLine(c.text, 1, &event, &error), -1) << c.text;
    EXPECT_NE(error.find(c.says), std::string::npos) << c.text << " said: " << error;
  }
}

// ---- Messages ---------------------------------------------------------------------------------------

TEST_F(Headless, CreationAndTheFirstFocusArriveBeforeCreateWindowReturns) {
  WindowHandle window = Start("tap 10 20\nkey up\n");
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(received, (Lines{"create", "setfocus", "created"}));
  EXPECT_EQ(GetFocus(), window);
  // Showing it again is no new focus.
  ShowWindow(window, SW_SHOWNORMAL);
  UpdateWindow(window);
  EXPECT_EQ(received.size(), 3u);
}

TEST_F(Headless, ScriptPlaysAfterStartUpAndClosesTheWindowAtItsEnd) {
  ASSERT_NE(Start("# a race\n\ntap 10 20\ndown 5 6\nmove 7 8\nup 9 10\nkey up\nkey a\nkey start\n"), nullptr);
  EXPECT_EQ(RunLoop(), 0);
  EXPECT_EQ(received, (Lines{"create", "setfocus", "created", "down 10,20 held", "up 10,20", "down 5,6 held",
                             "move 7,8 held", "up 9,10", "key 38", "key 193", "key 13", "close", "destroy", "quit"}));
}

TEST_F(Headless, PenUpOfATapComesAfterEverythingThePenDownCaused) {
  postAtPenDown = true;
  ASSERT_NE(Start("tap 1 2\n"), nullptr);
  RunLoop();
  EXPECT_EQ(Lines(received.begin() + 3, received.begin() + 6), (Lines{"down 1,2 held", "message 1024", "up 1,2"}));
}

TEST_F(Headless, TheWindowClosingItselfEndsTheLoopAndTheRestOfTheScriptIsNotPlayed) {
  closeOnStartKey = true;
  WindowHandle window = Start("key start\ntap 1 1\n");
  EXPECT_EQ(RunLoop(), 0);
  EXPECT_EQ(received, (Lines{"create", "setfocus", "created", "key 13", "close", "destroy", "closed by key", "quit"}));
  // The handle of a destroyed window is harmless.
  EXPECT_EQ(IsWindow(window), 0);
  EXPECT_EQ(SendMessage(window, WM_CLOSE, 0, 0), 0);
  EXPECT_EQ(PostMessage(window, WM_CLOSE, 0, 0), 0);
  EXPECT_EQ(SetTimer(window, 1, 100), 0u);
  EXPECT_EQ(DestroyWindow(window), 0);
  EXPECT_EQ(GetFocus(), nullptr);
}

TEST_F(Headless, ALoopThatIgnoresTheCloseStillEndsWhenTheScriptIsOver) {
  ignoreClose = true;
  ASSERT_NE(Start("key up\n"), nullptr);
  EXPECT_EQ(RunLoop(), 0);
  EXPECT_EQ(received, (Lines{"create", "setfocus", "created", "key 38", "close", "quit"}));
}

TEST_F(Headless, WithoutAScriptTheWindowIsClosedAtOnce) {
  ASSERT_NE(Start(""), nullptr);
  EXPECT_EQ(RunLoop(), 0);
  EXPECT_EQ(received, (Lines{"create", "setfocus", "created", "close", "destroy", "quit"}));
}

TEST_F(Headless, AWindowThatRefusesCreationIsNotMade) {
  ASSERT_NE(Start(""), nullptr);
  WindowClass refusing;
  refusing.windowProc = [](WindowHandle, uint32_t message, uintptr_t, intptr_t) -> intptr_t {
    return message == WM_CREATE ? -1 : 0;
  };
  refusing.className = u"NO";
  EXPECT_NE(RegisterClass(&refusing), 0);
  EXPECT_EQ(RegisterClass(&refusing), 0);  // the name is taken
  EXPECT_EQ(CreateWindow(u"NO", u"No", WS_VISIBLE, 0, 0, 10, 10), nullptr);
  EXPECT_EQ(CreateWindow(u"UNKNOWN", u"No", WS_VISIBLE, 0, 0, 10, 10), nullptr);
}

// ---- Virtual time and timers -------------------------------------------------------------------

TEST_F(Headless, WaitDeliversEveryTickThatFallsDueEachAtItsTime) {
  WindowHandle window = Start("wait 399\nwait 1\nwait 1000\n");
  SetTimer(window, 100, 400);
  SetTimer(window, 7, 300);
  EXPECT_EQ(RunLoop(), 0);
  EXPECT_EQ(Lines(received.begin() + 3, received.end() - 3),
            (Lines{"timer 7 at 300", "timer 100 at 400", "timer 7 at 600", "timer 100 at 800", "timer 7 at 900",
                   "timer 100 at 1200", "timer 7 at 1200"}));
  EXPECT_EQ(GetTickCount(), 1400u);
}

TEST_F(Headless, AKilledTimerTicksNoMore) {
  killTimerAtTick = true;
  WindowHandle window = Start("wait 5000\n");
  SetTimer(window, 100, 400);
  SetTimer(window, 5, 0);  // a period of nothing ticks every 10 ms, not without end
  RunLoop();
  EXPECT_EQ(Lines(received.begin() + 3, received.end() - 3), (Lines{"timer 5 at 10", "timer 100 at 400"}));
}

TEST_F(Headless, TimeStandsStillWithoutWaitLines) {
  WindowHandle window = Start("tap 1 1\nkey up\nsleep 20\n");
  SetTimer(window, 100, 10);
  RunLoop();
  for (const std::string& line : received) EXPECT_EQ(line.find("timer"), std::string::npos);
  EXPECT_EQ(GetTickCount(), 0u);
}

TEST_F(Headless, RestartingATimerStartsItsPeriodAgain) {
  WindowHandle window = Start("wait 300\nwait 100\n");
  SetTimer(window, 1, 200);
  SetTimer(window, 1, 400);  // the same id: replaces the running timer
  RunLoop();
  EXPECT_EQ(Lines(received.begin() + 3, received.end() - 3), (Lines{"timer 1 at 400"}));
}

// ---- Focus and the shell ------------------------------------------------------------------------

TEST_F(Headless, BlurAndFocusLinesAlwaysReachTheWindow) {
  WindowHandle window = Start("blur\nfocus\nfocus\n");
  RunLoop();
  EXPECT_EQ(Lines(received.begin() + 3, received.end() - 3), (Lines{"killfocus", "setfocus", "setfocus"}));
  EXPECT_EQ(IsWindow(window), 0);
}

TEST_F(Headless, ShowingTheShellWithAWindowOfNothingMinimisesItUntilItIsFocused) {
  WindowHandle window = Start("focus\n");
  MoveWindow(window, 0, 0, 0, 0, 0);
  EXPECT_EQ(IsIconic(window), 0) << "sized to nothing, but the shell is hidden";
  MoveWindow(window, 0, 0, 240, 320, 0);
  SHFullScreen(window, SHFS_SHOWTASKBAR | SHFS_SHOWSIPBUTTON | SHFS_SHOWSTARTICON);
  EXPECT_EQ(IsIconic(window), 0) << "the shell shown, but the window still covers the screen";
  MoveWindow(window, 0, 0, 0, 0, 0);
  EXPECT_EQ(IsIconic(window), 1);
  Message message;
  ASSERT_EQ(GetMessage(&message), 1);
  EXPECT_EQ(message.message, WM_SETFOCUS);
  EXPECT_EQ(IsIconic(window), 0);
  // The game's focus handler makes it full-screen again.
  SHFullScreen(window, SHFS_HIDETASKBAR | SHFS_HIDESIPBUTTON | SHFS_HIDESTARTICON);
  MoveWindow(window, 0, 0, 240, 320, 0);
  MoveWindow(window, 0, 0, 0, 0, 0);
  EXPECT_EQ(IsIconic(window), 0);
}

// ---- Reports on standard error ------------------------------------------------------------------

TEST_F(Headless, TheFullScreenKeyIsTheWindowsOwnAndIsRememberedForTheNextRun) {
  // A setting the window doesn't know survives its writes.
  const std::u16string file = folder_.File("window.txt");
  WriteText(folder_.HostFile("window.txt"), "scale = 3\nghost = on\n");
  SetWindowSettingsFile(file);
  WindowHandle window = Start("key f11\nkey up\n");
  EXPECT_EQ(IsFullScreen(window), 0);
  RunLoop();
  EXPECT_EQ(received, (Lines{"create", "setfocus", "created", "key 38", "close", "destroy", "quit"}));
  Settings kept = ReadSettings(file);
  EXPECT_EQ(SettingText(kept, "full-screen"), "1");
  EXPECT_EQ(SettingText(kept, "scale"), "3");
  EXPECT_EQ(SettingText(kept, "ghost"), "on");

  StopPlatform(0);
  SetWindowSettingsFile(file);
  window = Start("key f11\n");
  EXPECT_EQ(IsFullScreen(window), 1) << "the next run starts full screen";
  RunLoop();
  EXPECT_EQ(SettingText(ReadSettings(file), "full-screen"), "0");
}

TEST_F(Headless, MessageBoxesAndProcessStartsAreWrittenAsOneLineEach) {
  WindowHandle window = Start("");
  testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBox(window, u"Couldn't load circuit:\n\\x\\Ring.cct", u"Error", MB_OK), IDOK);
  EXPECT_EQ(MessageBox(nullptr, u"out of memory", nullptr, MB_OK), IDOK);
  EXPECT_EQ(MessageBox(nullptr, u"two\n\nlines \u00e9", u"Caption | with bar", MB_OK), IDOK);
  EXPECT_NE(CreateProcess(u"\\no\\such\\Apexpick.exe", u""), 0);
  EXPECT_NE(CreateProcess(u"\\x\\Apexgrid.exe", u"\\x\\Circuits\\My Ring.cct"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "MESSAGE Error | Couldn't load circuit:\\n\\x\\Ring.cct\n"
            "MESSAGE Error | out of memory\n"
            "MESSAGE Caption | with bar | two\\n\\nlines \xc3\xa9\n"
            "START \\no\\such\\Apexpick.exe | \n"
            "START \\x\\Apexgrid.exe | \\x\\Circuits\\My Ring.cct\n");
}

// Another thread's results wait in their own inbox and reach the window in the order posted, on the
// loop's thread; a `network` line holds the script until they have; a window gone by then gets
// nothing; and a count never reached fails the line instead of hanging the run.
TEST_F(Headless, ResultsFromAnotherThreadReachTheWindowAndTheNetworkLineWaitsForThem) {
  WindowHandle window = Start("network 3 20000\nkey start\nnetwork 4 50\n");
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(PostMessageFromAnyThread(nullptr, WM_NETWORK, 9, 0), 0);
  std::thread poster([window] {
    for (uintptr_t i = 1; i <= 3; ++i) {
      PostMessageFromAnyThread(window, WM_NETWORK, i, 0);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  testing::internal::CaptureStderr();
  const int code = RunLoop();
  poster.join();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR line 3: fewer than 4 network results arrived in time\n");
  EXPECT_EQ(code, 2);
  EXPECT_EQ(received, (Lines{"create", "setfocus", "created", "network 1", "network 2", "network 3",
                             "key " + std::to_string(static_cast<uint16_t>(kKeyStart)), "close", "destroy", "quit"}));
  // Posted to a window that is gone: dropped on the loop's thread, never delivered.
  received.clear();
  PostMessageFromAnyThread(window, WM_NETWORK, 4, 0);
  Message message;
  EXPECT_EQ(PeekMessage(&message), 0);
  EXPECT_TRUE(received.empty());
}

TEST_F(Headless, AnUnreadableLineEndsTheRunWithStatusTwo) {
  testing::internal::CaptureStderr();
  ASSERT_NE(Start("tap 1 2\n\n# fine so far\nfly away\ntap 3 4\n"), nullptr);
  EXPECT_EQ(RunLoop(), 2);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR line 4: unknown event `fly`\n");
  EXPECT_EQ(received, (Lines{"create", "setfocus", "created", "down 1,2 held", "up 1,2", "close", "destroy", "quit"}));
  EXPECT_EQ(StopPlatform(0), 2);
}

TEST_F(Headless, ShotWritesTheScreenAsLastPresented) {
  const std::string png = folder_.HostFile("screen one.png");
  WindowHandle window = Start("shot " + png + "\n");
  ASSERT_NE(window, nullptr);
  ASSERT_NE(GXOpenDisplay(window, GX_FULLSCREEN), 0);
  auto* frame = static_cast<uint16_t*>(GXBeginDraw());
  ASSERT_NE(frame, nullptr);
  for (int i = 0; i < 240 * 320; ++i) frame[i] = static_cast<uint16_t>(i * 7);
  GXEndDraw();
  // Drawn but not presented: the shot shows the presented frame, not this.
  frame = static_cast<uint16_t*>(GXBeginDraw());
  EXPECT_EQ(RunLoop(), 0);
  RgbImage image;
  std::string error;
  ASSERT_EQ(ReadPng(png, &image, nullptr, &error), 0) << error;
  ASSERT_EQ(image.width, 240u);
  ASSERT_EQ(image.height, 320u);
  for (int i : {0, 1, 239, 240, 1000, 240 * 320 - 1}) {
    uint8_t r, g, b;
    ExpandPixel(static_cast<uint16_t>(i * 7), true, &r, &g, &b);
    EXPECT_EQ(image.rgb[3 * i], r) << i;
    EXPECT_EQ(image.rgb[3 * i + 1], g) << i;
    EXPECT_EQ(image.rgb[3 * i + 2], b) << i;
  }
}

TEST_F(Headless, AShotOfNothingOrToNowhereIsAnError) {
  testing::internal::CaptureStderr();
  ASSERT_NE(Start("shot " + folder_.HostFile("a.png") + "\n"), nullptr);
  EXPECT_EQ(RunLoop(), 2);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR line 1: nothing has been presented on the screen to shoot\n");
  EXPECT_FALSE(FileExists(folder_.HostFile("a.png")));
}

// ---- Start-up ------------------------------------------------------------------------------------

TEST_F(Headless, TheProgramsOwnScriptComesBeforeTheCommonOne) {
  WriteBytes(folder_.HostFile("own"), Bytes{'k', 'e', 'y', ' ', 'b', '\n'});
  setenv("APEXGRID_SCRIPT_Test", folder_.HostFile("own").c_str(), 1);
  ASSERT_NE(Start("key a\n"), nullptr);
  RunLoop();
  EXPECT_EQ(received[3], "key 194");
}

TEST_F(Headless, StartingReportsAnUnreadableScriptAndJoinsTheArguments) {
  setenv("APEXGRID_SCRIPT", folder_.HostFile("missing").c_str(), 1);
  char a0[] = "Apexgrid", a1[] = "\"\\x\\My", a2[] = "Ring.cct\"", a3[] = "";
  char* argv[] = {a0, a1, a2, a3};
  std::string error;
  EXPECT_EQ(StartPlatform(4, argv, "Test", &error), 1);
  EXPECT_EQ(error, "can't read the script " + folder_.HostFile("missing"));
  unsetenv("APEXGRID_SCRIPT");
  ASSERT_EQ(StartPlatform(4, argv, "Test", &error), 0);
  EXPECT_EQ(GetCommandLine(), u"\"\\x\\My Ring.cct\" ");
  EXPECT_EQ(IsHeadless(), 1);
  ASSERT_EQ(StartPlatform(1, argv, "Test", &error), 0);
  EXPECT_EQ(GetCommandLine(), u"");
  char latin[] = "/c/Cr\xEAte.cct";
  char* withLatin[] = {a0, latin};
  ASSERT_EQ(StartPlatform(2, withLatin, "Test", &error), 0);
  EXPECT_EQ(GetCommandLine(), u"/c/Cr\xDCEAte.cct") << "a byte that isn't UTF-8 is kept";
}

TEST_F(Headless, FindWindowFindsTheProgramsOwnWindowByClassAndTitle) {
  WindowHandle window = Start("blur\n");
  EXPECT_EQ(FindWindow(u"TEST", u"Test"), window);
  EXPECT_EQ(FindWindow(u"TEST", u"Other"), nullptr);
  EXPECT_EQ(FindWindow(u"OTHER", u"Test"), nullptr);
  Message message;
  ASSERT_EQ(GetMessage(&message), 1);
  EXPECT_EQ(message.message, WM_KILLFOCUS);
  // Brought to the front (the low bit asks for pop-ups too), it gets the focus back once.
  EXPECT_EQ(SetForegroundWindow(reinterpret_cast<WindowHandle>(reinterpret_cast<uintptr_t>(window) | 1)), 1);
  EXPECT_EQ(SetForegroundWindow(window), 1);
  ASSERT_EQ(PeekMessage(&message), 1);
  EXPECT_EQ(message.message, WM_SETFOCUS);
  EXPECT_EQ(PeekMessage(&message), 0);
  EXPECT_EQ(GetFocus(), window);
}

// A name that can't be made here (its lock can't be opened) is no copy running: the program
// goes on without one at once, as it does where no folder will take names.
TEST_F(Headless, AnEndpointThatCantBeMadeIsNoCopyRunning) {
  const std::string runtime = folder_.HostFile("runtime");
  std::filesystem::create_directories(runtime + "/apexgrid");
  std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
  std::filesystem::permissions(runtime + "/apexgrid", std::filesystem::perms::owner_all);
  const char* before = std::getenv("XDG_RUNTIME_DIR");
  const std::string kept = before != nullptr ? before : "";
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  Start("");
  const std::string name = EndpointName(u"OTHER", u"Test");
  std::filesystem::create_directories(runtime + "/apexgrid/" + name + ".lock");
  const auto began = std::chrono::steady_clock::now();
  EXPECT_EQ(FindWindow(u"OTHER", u"Test"), nullptr);
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(1));
  if (before != nullptr) {
    setenv("XDG_RUNTIME_DIR", kept.c_str(), 1);
  } else {
    unsetenv("XDG_RUNTIME_DIR");
  }
}

// Every copy of a user must meet in one folder however it was started (a desktop session with a
// runtime folder in its environment, an ssh login without, no HOME at all): the places come from
// the account alone.
TEST(EndpointFolder, ComesFromTheAccountWhateverTheEnvironment) {
  const passwd* account = getpwuid(geteuid());
  ASSERT_NE(account, nullptr);
  const char* names[] = {"XDG_RUNTIME_DIR", "TMPDIR", "HOME", "XDG_CACHE_HOME"};
  std::vector<std::pair<bool, std::string>> saved;
  for (const char* name : names) {
    const char* value = std::getenv(name);
    saved.emplace_back(value != nullptr, value != nullptr ? value : "");
  }
  const char* settings[][4] = {
      {"/run/user/elsewhere", "/var/tmp", "/home/else", "/c"},
      {nullptr, nullptr, nullptr, nullptr},
      {"", "", "", ""},
      {nullptr, "/t", "relative", nullptr},
  };
  for (const auto& setting : settings) {
    for (int i = 0; i < 4; ++i) setting[i] != nullptr ? setenv(names[i], setting[i], 1) : unsetenv(names[i]);
    const EndpointPlaces places = AccountEndpointPlaces();
    EXPECT_EQ(places.runtime, "/run/user/" + std::to_string(geteuid()));
    EXPECT_EQ(places.temp, "/tmp");
    EXPECT_EQ(places.home, account->pw_dir);
  }
  for (int i = 0; i < 4; ++i) saved[i].first ? setenv(names[i], saved[i].second.c_str(), 1) : unsetenv(names[i]);
}

// A folder that isn't the user's own (another user's, left open, a link) is passed over for the
// next place.
TEST(EndpointFolder, IsTheFirstPlaceThatIsTheUsersOwn) {
  if (geteuid() != 0) GTEST_SKIP() << "making folders of another user takes root";
  const uid_t other = 65534;
  const std::string uid = std::to_string(geteuid());
  struct Case {
    const char* what;
    std::function<void(const std::string& root)> prepare;
    const char* chosen;  // under the root; empty for none
  };
  namespace fs = std::filesystem;
  const auto folder = [](const std::string& path, int mode, uid_t owner) {
    fs::create_directories(path);
    chown(path.c_str(), owner, owner);
    chmod(path.c_str(), static_cast<mode_t>(mode));
  };
  const std::string temp = "/tmp/apexgrid-" + uid;
  const Case cases[] = {
      {"the runtime folder", [&](const std::string& r) { folder(r + "/run", 0700, 0); }, "/run/apexgrid"},
      {"no runtime folder: the temporary one", [&](const std::string&) {}, temp.c_str()},
      {"another user's runtime folder", [&](const std::string& r) { folder(r + "/run", 0700, other); }, temp.c_str()},
      {"the temporary name taken by another user", [&](const std::string& r) { folder(r + temp, 0700, other); },
       "/home/.cache/apexgrid"},
      {"the temporary name ours but left open", [&](const std::string& r) { folder(r + temp, 0755, 0); },
       "/home/.cache/apexgrid"},
      {"the temporary name a link to a folder of ours",
       [&](const std::string& r) {
         folder(r + "/mine", 0700, 0);
         fs::create_symlink(r + "/mine", r + temp);
       },
       "/home/.cache/apexgrid"},
      {"nothing of ours anywhere",
       [&](const std::string& r) {
         folder(r + temp, 0700, other);
         folder(r + "/home", 0755, other);
       },
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder root;
    fs::permissions(root.host(), fs::perms(0755));
    fs::create_directories(root.host() + "/tmp");
    fs::permissions(root.host() + "/tmp", fs::perms(01777));
    c.prepare(root.host());
    fs::create_directories(root.host() + "/home");
    EndpointPlaces places{root.host() + "/run", root.host() + "/tmp", root.host() + "/home"};
    const std::string chosen = EndpointFolderIn(places, 25);
    EXPECT_EQ(chosen, c.chosen[0] != 0 ? root.host() + c.chosen : std::string());
  }
}

// ---- Process start -----------------------------------------------------------------------------

namespace {

// A program that writes how many arguments it got and the first one into a file beside it.
std::string WriteEchoProgram(const TempFolder& folder) {
  const std::string path = folder.HostFile("Echo");
  const std::string body = "#!/bin/sh\nprintf '%s\\n%s' \"$#\" \"$1\" > \"$0.out.tmp\"\nmv \"$0.out.tmp\" \"$0.out\"\n";
  WriteText(path, body);
  std::filesystem::permissions(path, std::filesystem::perms::owner_all);
  return path;
}

}  // namespace

TEST_F(Headless, StartedProgramsSeeExactlyTheCommandLineWhenStartsAreCarriedOut) {
  const std::string echo = WriteEchoProgram(folder_);
  Start("");
  setenv("APEXGRID_START", "run", 1);
  struct Case {
    std::u16string commandLine;
    const char* seen;
  };
  const Case cases[] = {
      {u"\\x\\Circuits\\My Ring.cct", "1\n\\x\\Circuits\\My Ring.cct"},
      {u"\"quoted\"  two  spaces ", "1\n\"quoted\"  two  spaces "},
      // Host names as the device spells them: a "\\" inside a name, a byte that isn't UTF-8.
      {u"\\x\\my\uF05Crace \xDCEA.cct", "1\n\\x\\my\xEF\x81\x9Crace \xEA.cct"},
      {u"", "0\n"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(echo + ".out");
    testing::internal::CaptureStderr();
    EXPECT_EQ(CreateProcess(DevicePath(echo) + u".EXE", c.commandLine), 1);
    testing::internal::GetCapturedStderr();
    WaitForFile(echo + ".out", 5000);
    EXPECT_EQ(ReadText(echo + ".out"), c.seen);
  }
  testing::internal::CaptureStderr();
  EXPECT_EQ(CreateProcess(DevicePath(folder_.HostFile("Missing.exe")), u"x"), 0);
  testing::internal::GetCapturedStderr();
}

TEST_F(Headless, StartsAreOnlyWrittenDownUnlessAskedToRun) {
  const std::string echo = WriteEchoProgram(folder_);
  Start("");
  testing::internal::CaptureStderr();
  EXPECT_EQ(CreateProcess(DevicePath(echo) + u".exe", u"x"), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "START " + ToUtf8(DevicePath(echo)) + ".exe | x\n");
  Pause(200);
  EXPECT_FALSE(FileExists(echo + ".out"));
}

// ---- File search ----------------------------------------------------------------------------------

TEST(FileSearch, PatternsMatchLettersInEitherCase) {
  struct Case {
    const char* name;
    const char* pattern;
    bool matches;
  };
  const Case cases[] = {
      {"Ring.cct", "*.cct", true},
      {"oval.CCT", "*.cct", true},
      {"a.cctx", "*.cct", false},
      {"notes.txt", "*.cct", false},
      {".cct", "*.cct", true},
      {"cct", "*.cct", false},
      {"a.b.cct", "*.cct", true},
      {"ring.cct", "r?ng.*", true},
      {"rng.cct", "r?ng.*", false},
      {"anything", "*", true},
      {"", "*", true},
      {"abc", "a*b*c", true},
      {"aXbYc", "a*b*c", true},
      {"acb", "a*b*c", false},
      {"x.cct.bak", "*.cct", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MatchesFilePattern(FromUtf8(c.name), FromUtf8(c.pattern)), c.matches) << c.name << " ~ " << c.pattern;
  }
}

TEST(FileSearch, ListsMatchesInFileSystemOrderAndMarksFolders) {
  TempFolder folder;
  for (const char* file :
       {"Ring.cct", "oval.CCT", "notes.txt", "a.cctx", "Zed Loop.cct", "my\\race.cct", "Cr\xEAte.cct"}) {
    WriteBytes(folder.HostFile(file), Bytes{1});
  }
  std::filesystem::create_directory(folder.HostFile("x.cct"));
  std::filesystem::create_symlink(folder.HostFile("x.cct"), folder.HostFile("link.cct"));
  // Neither a folder nor a file of ours: never listed.
  ASSERT_EQ(mkfifo(folder.HostFile("pipe.cct").c_str(), 0600), 0);
  std::filesystem::create_symlink(folder.HostFile("gone"), folder.HostFile("nowhere.cct"));

  std::vector<std::string> expected;
  for (const auto& entry : std::filesystem::directory_iterator(folder.host())) {
    const std::string name = entry.path().filename().string();
    if (name == "pipe.cct" || name == "nowhere.cct") continue;
    if (MatchesFilePattern(FromUtf8(name), u"*.cct")) expected.push_back(name);
  }
  std::vector<std::string> found;
  std::vector<std::string> folders;
  FindData data;
  FindHandle search = FindFirstFile(DevicePath(folder.host()) + u"\\*.cct", &data);
  ASSERT_NE(search, nullptr);
  do {
    // A name alone maps back to itself.
    found.push_back(HostPath(data.fileName));
    if (data.attributes & FILE_ATTRIBUTE_DIRECTORY) folders.push_back(HostPath(data.fileName));
  } while (FindNextFile(search, &data));
  EXPECT_EQ(FindNextFile(search, &data), 0);
  EXPECT_EQ(FindClose(search), 1);

  EXPECT_EQ(found, expected);
  EXPECT_EQ(found.size(), 7u);
  std::sort(folders.begin(), folders.end());
  EXPECT_EQ(folders, (std::vector<std::string>{"link.cct", "x.cct"}));
}

TEST(FileSearch, FindsNothingInAMissingOrEmptyFolder) {
  TempFolder folder;
  FindData data;
  EXPECT_EQ(FindFirstFile(folder.File("Circuits") + u"\\*.cct", &data), nullptr);
  EXPECT_EQ(FindFirstFile(DevicePath(folder.host()) + u"\\*.cct", &data), nullptr);
  EXPECT_EQ(FindNextFile(nullptr, &data), 0);
}

// ---- Settings files -----------------------------------------------------------------------------

TEST(SettingsFile, ReadsNameValueLinesAndSkipsEverythingElse) {
  const Settings s = ParseSettings(
      "# a comment = not a setting\r\n"
      "scale = 3\r\n"
      "\n"
      "  full-screen=1  \n"
      "no equals sign\n"
      "bad name = 1\n"
      "= nameless\n"
      "path = /a b=c\n"
      "scale = 4\n"
      "empty =\n"
      "last=x");
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"scale", "4"}, {"full-screen", "1"}, {"path", "/a b=c"}, {"empty", ""}, {"last", "x"}};
  EXPECT_EQ(s.entries, expected);

  struct Number {
    const char* text;
    int value;  // read with lowest 1, highest 16, fallback -1
  };
  const Number numbers[] = {{"1", 1}, {"16", 16},          {"0", -1},  {"17", -1}, {"3x", -1},
                            {"", -1}, {"99999999999", -1}, {"-2", -1}, {"x", -1}};
  for (const Number& n : numbers) {
    Settings one;
    ASSERT_EQ(SetSetting(&one, "n", n.text), 0);
    EXPECT_EQ(SettingNumber(one, "n", 1, 16, -1), n.value) << n.text;
  }
  EXPECT_EQ(SettingNumber(s, "missing", 1, 16, 7), 7);
}

TEST(SettingsFile, IsWrittenWholeAndReadBack) {
  TempFolder folder;
  const std::u16string file = folder.File("settings.txt");
  Settings s;
  EXPECT_EQ(SetSetting(&s, "scale", 2), 0);
  EXPECT_EQ(SetSetting(&s, "name", "two words"), 0);
  EXPECT_EQ(SetSetting(&s, "bad name", "x"), 1);
  EXPECT_EQ(SetSetting(&s, "line", "a\nb = c"), 1) << "a value can't smuggle in a setting";
  ASSERT_EQ(WriteSettings(file, s, "kept by a test"), 0);
  EXPECT_EQ(ReadText(folder.HostFile("settings.txt")), "# kept by a test\nscale = 2\nname = two words\n");
  EXPECT_EQ(ReadSettings(file).entries, s.entries);

  EXPECT_EQ(SetSetting(&s, "scale", 5), 0);
  ASSERT_EQ(WriteSettings(file, s), 0);
  EXPECT_EQ(SettingNumber(ReadSettings(file), "scale", 1, 16, 0), 5);
  EXPECT_EQ(WriteSettings(folder.File("missing/settings.txt"), s), 1);
  EXPECT_TRUE(ReadSettings(folder.File("missing/settings.txt")).entries.empty());
}

// A file edited by hand keeps what the program doesn't know; one it can't read stays as it is.
TEST(SettingsFile, WritingKeepsEveryOtherLineAndLeavesAloneAFileThatCantBeRead) {
  struct Case {
    const char* what;
    std::string text;      // the file before
    mode_t mode;           // its permissions, read as the test user
    std::string expected;  // the file after setting scale = 3 and full-screen = 1; empty: as before
  };
  const std::string tooLarge = "# " + std::string(70 * 1024, 'x') + "\nscale = 2\n";
  const Case cases[] = {
      {"comments and unknown lines stay in their places",
       "# my notes\nscale = 2\n\n# the colour I like\ncolour = teal\nnot a setting\n", 0644,
       "# my notes\nscale = 3\n\n# the colour I like\ncolour = teal\nnot a setting\nfull-screen = 1\n"},
      {"a line whose value is the same stays as written", "  scale=3  \r\nlast = x", 0644,
       "  scale=3  \r\nlast = x\nfull-screen = 1\n"},
      {"the line that counts is the last of its name", "scale = 1\nfull-screen = 0\nscale = 2\n", 0644,
       "scale = 1\nfull-screen = 1\nscale = 3\n"},
      {"larger than any settings file", tooLarge, 0644, ""},
      {"unreadable", "scale = 2\n# mine\n", 0200, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder folder;
    const std::string host = folder.HostFile("settings.txt");
    WriteText(host, c.text);
    GiveToTestUser(folder.host());
    std::filesystem::permissions(host, static_cast<std::filesystem::perms>(c.mode));
    EXPECT_TRUE(AsTestUser([&] {
      Settings settings = ReadSettings(folder.File("settings.txt"));
      SetSetting(&settings, "scale", 3);
      SetSetting(&settings, "full-screen", 1);
      EXPECT_EQ(WriteSettings(folder.File("settings.txt"), settings, "a heading for new files only"),
                c.expected.empty() ? 1 : 0);
    }));
    std::filesystem::permissions(host, std::filesystem::perms::owner_all);
    EXPECT_EQ(ReadText(host), c.expected.empty() ? c.text : c.expected);
  }
}
