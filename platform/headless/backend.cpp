// The headless backend: no window, virtual time, events played from a script, program starts
// written down, and a single-instance registry of its own.
#include <chrono>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/core.h"
#include "platform/files.h"
#include "platform/gx.h"
#include "platform/png.h"
#include "platform/script.h"
#include "platform/text.h"

namespace {

struct HeadlessState {
  bool running = false;
  std::vector<std::string> lines;
  size_t nextLine = 0;
  bool scriptOver = false;
  bool closeDelivered = false;
  uint64_t clock = 0;
  bool waiting = false;
  uint64_t waitUntil = 0;
  // A `network` line under way: the count it waits for, its real deadline and its line.
  bool awaitingNetwork = false;
  uint64_t networkCount = 0;
  std::chrono::steady_clock::time_point networkDeadline;
  int networkLine = 0;
  // The second half of a tap: the pen goes up only after everything the pen-down caused.
  bool penUpPending = false;
  int penUpX = 0;
  int penUpY = 0;
};

HeadlessState& Headless() {
  static HeadlessState state;
  return state;
}

void EndScript() {
  HeadlessState& h = Headless();
  h.scriptOver = true;
  h.nextLine = h.lines.size();
}

// ---- The script ---------------------------------------------------------------------------------

int LoadScript(const std::string& programName, std::string* error) {
  HeadlessState& h = Headless();
  h = HeadlessState();
  const std::string own = "APEXGRID_SCRIPT_" + programName;
  const char* path = programName.empty() ? nullptr : std::getenv(own.c_str());
  if (path == nullptr || path[0] == 0) path = std::getenv("APEXGRID_SCRIPT");
  if (path == nullptr || path[0] == 0) return 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = std::string("can't read the script ") + path;
    return 1;
  }
  std::string line;
  while (std::getline(in, line)) h.lines.push_back(line);
  if (in.bad()) {
    *error = std::string("can't read the script ") + path;
    h.lines.clear();
    return 1;
  }
  return 0;
}

int NextScriptEvent(ScriptEvent* event) {
  HeadlessState& h = Headless();
  if (!h.running) return 0;
  while (!h.scriptOver && h.nextLine < h.lines.size()) {
    const int number = static_cast<int>(h.nextLine) + 1;
    const std::string& text = h.lines[h.nextLine++];
    std::string error;
    const int got = ParseScriptLine(text, number, event, &error);
    if (got == 1) return 1;
    if (got < 0) {
      ReportScriptError(number, error);
      return 0;
    }
  }
  h.scriptOver = true;
  return 0;
}

// Real milliseconds pass while requests from other copies are answered.
void SleepAnswering(uint32_t milliseconds) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    AnswerInstanceRequests();
    const Clock::time_point now = Clock::now();
    if (now >= end) break;
    const auto step = std::chrono::milliseconds(10);
    std::this_thread::sleep_for(end - now < step ? end - now : Clock::duration(step));
  }
}

int WriteScreenShot(const std::string& hostPath, std::string* error) {
  const uint16_t* screen = GXPresentedScreen();
  if (screen == nullptr) {
    *error = "nothing has been presented on the screen to shoot";
    return 1;
  }
  const GXDisplayProperties p = GXGetDisplayProperties();
  const RgbImage image = ImageFromPixels(screen, p.cxWidth, p.cyHeight, (p.ffFormat & kfDirect565) != 0);
  if (WritePng(hostPath, image) != 0) {
    *error = "can't write " + hostPath;
    return 1;
  }
  return 0;
}

// ---- Playing it --------------------------------------------------------------------------------

void Play(const ScriptEvent& e) {
  HeadlessState& h = Headless();
  PlatformWindow* w = FirstWindow();
  switch (e.action) {
    case ScriptAction::kTap:
      QueueMessage(w, WM_LBUTTONDOWN, MK_LBUTTON, MakePenPosition(e.x, e.y));
      h.penUpPending = w != nullptr;
      h.penUpX = e.x;
      h.penUpY = e.y;
      break;
    case ScriptAction::kDown:
      QueueMessage(w, WM_LBUTTONDOWN, MK_LBUTTON, MakePenPosition(e.x, e.y));
      break;
    case ScriptAction::kMove:
      QueueMessage(w, WM_MOUSEMOVE, MK_LBUTTON, MakePenPosition(e.x, e.y));
      break;
    case ScriptAction::kUp:
      QueueMessage(w, WM_LBUTTONUP, 0, MakePenPosition(e.x, e.y));
      break;
    case ScriptAction::kKey:
      if (e.key == kHostKeyFullScreen) {
        ToggleFullScreen(w);  // the window's own key, as in the desktop's window
      } else {
        QueueMessage(w, WM_KEYDOWN, static_cast<uint16_t>(e.key), 1);
      }
      break;
    case ScriptAction::kWait:
      h.waiting = true;
      h.waitUntil = h.clock + e.milliseconds;
      break;
    case ScriptAction::kSleep:
      SleepAnswering(e.milliseconds);
      break;
    case ScriptAction::kNetwork:
      h.awaitingNetwork = true;
      h.networkCount = static_cast<uint64_t>(e.index);
      h.networkDeadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(e.milliseconds);
      h.networkLine = e.line;
      break;
    case ScriptAction::kBlur:
      ScriptFocus(false);
      break;
    case ScriptAction::kFocus:
      ScriptFocus(true);
      break;
    case ScriptAction::kShot: {
      std::string error;
      if (WriteScreenShot(e.file, &error) != 0) ReportScriptError(e.line, error);
      break;
    }
    case ScriptAction::kClose:
      QueueCloseToAll();
      break;
    case ScriptAction::kType:
      if (w != nullptr) {
        for (char16_t c : FromUtf8(e.file)) QueueMessage(w, WM_CHAR, c, 0);
      }
      break;
    case ScriptAction::kSelect:
    case ScriptAction::kStart:
    case ScriptAction::kStorno:
    case ScriptAction::kOk:
      SendMessage(w, WM_SCRIPTCOMMAND, 0, reinterpret_cast<intptr_t>(&e));
      break;
  }
}

// ---- The backend --------------------------------------------------------------------------------

int Start(const std::string& programName, std::string* error) {
  if (LoadScript(programName, error) != 0) return 1;
  Headless().running = true;
  return 0;
}

void Stop() { Headless() = HeadlessState(); }

uint64_t Now() { return Headless().clock; }

int CreateHostWindow(PlatformWindow*) { return 0; }
void DestroyHostWindow(PlatformWindow*) {}
void ShowHostWindow(PlatformWindow*, bool) {}
void SetMinimised(PlatformWindow*, bool) {}
void SetFullScreen(PlatformWindow*) {}

void Raise(PlatformWindow* w) {
  w->minimised = false;
  HostFocusChanged(w, true);
}

void Poll() {}

// A `network` line: whatever other threads posted is handed on as it arrives; the line is done when
// enough results have arrived, and fails when its time is up first. True while it goes on.
bool AwaitNetwork() {
  HeadlessState& h = Headless();
  if (!h.awaitingNetwork) return false;
  for (;;) {
    if (NetworkMessagesTaken() >= h.networkCount) {
      h.awaitingNetwork = false;
      return false;
    }
    if (TakeThreadMessages() > 0) return true;
    if (std::chrono::steady_clock::now() >= h.networkDeadline) {
      h.awaitingNetwork = false;
      ReportScriptError(h.networkLine,
                        "fewer than " + std::to_string(h.networkCount) + " network results arrived in time");
      return false;
    }
    AnswerInstanceRequests();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

int Wait(uint64_t timerDue) {
  HeadlessState& h = Headless();
  if (AwaitNetwork()) return 0;
  if (h.waiting) {
    if (timerDue <= h.waitUntil) {
      if (timerDue > h.clock) h.clock = timerDue;
      return 0;
    }
    h.clock = h.waitUntil;
    h.waiting = false;
  }
  if (h.penUpPending) {
    h.penUpPending = false;
    QueueMessage(FirstWindow(), WM_LBUTTONUP, 0, MakePenPosition(h.penUpX, h.penUpY));
    return 0;
  }
  ScriptEvent e;
  if (NextScriptEvent(&e)) {
    Play(e);
    return 0;
  }
  if (!h.closeDelivered) {
    h.closeDelivered = true;
    if (QueueCloseToAll() > 0) return 0;
  }
  return 1;
}

void ShowMessageBox(PlatformWindow*, const std::string& text, const std::string& caption) {
  ReportLine("MESSAGE " + OneLine(caption) + " | " + OneLine(text));
}

// Every start is written down; it is carried out only when a test drives a chain of programs.
int StartProcess(const std::u16string& programPath, const std::u16string& commandLine) {
  ReportLine("START " + OneLine(ToUtf8(programPath)) + " | " + OneLine(ToUtf8(commandLine)));
  const char* start = std::getenv("APEXGRID_START");
  if (start == nullptr || std::string(start) != "run") return 1;
  return SpawnProgram(programPath, commandLine);
}

// Headless copies are tests and scripted runs: a registry of their own, per program folder, so
// that they never find a game the user is playing, nor tests run from other folders.
std::string InstanceScope() {
  const std::string program = HostPath(ModuleFileName());
  return "\nheadless\n" + program.substr(0, program.rfind('/') + 1);
}

void SetCaption(PlatformWindow*, const std::string&) {}

}  // namespace

const Backend kHeadlessBackend = {
    Start,
    Stop,
    Now,
    CreateHostWindow,
    DestroyHostWindow,
    ShowHostWindow,
    SetMinimised,
    SetFullScreen,
    SetCaption,
    Raise,
    Poll,
    Wait,
    ShowMessageBox,
    StartProcess,
    InstanceScope,
    "apexgrid-headless.",
};

void ReportScriptError(int lineNumber, const std::string& what) {
  ReportLine("ERROR line " + std::to_string(lineNumber) + ": " + what);
  MarkScriptFailed();
  EndScript();
}
