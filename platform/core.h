// Inside the platform: the window record, the backend interface and what the backends call back.
// Nothing outside platform/ includes this.
#pragma once

#include <cstdint>
#include <string>

#include "platform/window.h"

struct PlatformWindow {
  WindowProc proc = nullptr;
  std::u16string className;
  std::u16string title;
  bool alive = false;
  bool visible = false;
  bool minimised = false;
  bool shellShown = false;  // the last SHFullScreen call showed the shell's bars
  int x = 0, y = 0, width = 0, height = 0;
  int endpoint = -1;        // listening socket that other copies find it by; -1 for none
  int remoteConnection = -1;  // for a window of another program (FindWindow): our connection
  void* host = nullptr;     // the backend's own record of the window
};

// One backend: where events come from and where windows appear.
struct Backend {
  // 0 on success, 1 with a one-line reason.
  int (*start)(std::string* error);
  void (*stop)();
  // Milliseconds since start.
  uint64_t (*now)();
  // 0 when the host window was made.
  int (*createWindow)(PlatformWindow* window);
  void (*destroyWindow)(PlatformWindow* window);
  void (*showWindow)(PlatformWindow* window, bool show);
  void (*setMinimised)(PlatformWindow* window, bool minimised);
  // Another copy asked for the window to come to the front.
  void (*raiseWindow)(PlatformWindow* window);
  // Moves whatever host events have arrived into the queue, without waiting.
  void (*poll)();
  // Called when nothing is queued and no timer is due. Waits for something to happen (new
  // events, or the clock reaching `timerDue`, the next timer's due time, or UINT64_MAX for none)
  // and returns 0; or returns 1 when the loop must end with WM_QUIT.
  int (*wait)(uint64_t timerDue);
  void (*messageBox)(PlatformWindow* owner, const std::string& text, const std::string& caption);
};

extern const Backend kHeadlessBackend;
extern const Backend kSdlBackend;

// ---- Called by the backends --------------------------------------------------------------------

void QueueMessage(PlatformWindow* window, uint32_t message, uintptr_t wParam, intptr_t lParam);
// Focus as the desktop reports it: only changes reach the windows, through the queue.
void HostFocusChanged(PlatformWindow* window, bool gained);
// Focus as a script line says it: always delivered.
void ScriptFocus(bool gained);
// WM_CLOSE to every window; returns the number of windows.
int QueueCloseToAll();
// The first live window, or null.
PlatformWindow* FirstWindow();
bool IsLiveWindow(const PlatformWindow* window);
// Answers other copies' requests (FindWindow, SetForegroundWindow) without waiting.
void AnswerInstanceRequests();
// Writes one line to standard error at once (MESSAGE, START, ERROR).
void ReportLine(const std::string& line);
// Newlines as the two characters \n, so that each report stays one line.
std::string OneLine(const std::string& text);

// ---- The single-instance endpoints (instance.cpp) ----------------------------------------------

// The endpoint name for a class and title; headless names live in a registry of their own.
std::string EndpointName(const std::u16string& className, const std::u16string& title,
                         bool headless);
// A listening endpoint, or -1 when the name is taken or sockets fail.
int OpenEndpoint(const std::string& name);
// A connection to a running endpoint, or -1 when nobody listens there.
int ConnectEndpoint(const std::string& name);
// Sends the request to come to the front over a connection and closes it. 0 on success.
int SendFrontRequest(int connection);
// Closes a connection without asking anything.
void SendNothing(int connection);
// Takes the requests that have arrived at an endpoint; returns how many asked for the front.
int TakeFrontRequests(int endpoint);
void CloseEndpoint(int endpoint);
void CloseAllConnections();

// An unreadable script line was met: the run ends with status 2.
void MarkScriptFailed();

// The SDL backend's whole scale for a screen of width x height device pixels: APEXGRID_SCALE,
// else the largest that fits the desktop. Only while the SDL backend runs.
int SdlScreenScale(int width, int height);

// ---- The headless backend's script (headless/headless.cpp) -------------------------------------

// Reads the script for the program (APEXGRID_SCRIPT_<Program>, else APEXGRID_SCRIPT). 0 on
// success, also without a script; 1 with the reason when the file can't be read.
int HeadlessLoadScript(const std::string& programName, std::string* error);
