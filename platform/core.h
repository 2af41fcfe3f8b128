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
  bool shellShown = false;           // the last SHFullScreen call showed the shell's bars
  bool fullScreen = false;           // the desktop's full screen (ToggleFullScreen)
  const WindowIcon* icon = nullptr;  // its class's icon, or null
  int x = 0, y = 0, width = 0, height = 0;
  int endpoint = -1;          // listening socket that other copies find it by; -1 for none
  int remoteConnection = -1;  // for a window of another program (FindWindow): our connection
  std::string remoteDisplay;  // and the display it is on, when it said
  void* host = nullptr;       // the backend's own record of the window
};

// One backend: where events come from, where windows appear and how programs are started. Each
// lives in a folder of its own (sdl/, headless/); platform.cpp chooses one at start.
struct Backend {
  // 0 on success, 1 with a one-line reason. programName is the program's own file name, for
  // whatever the backend keeps per program (the headless script).
  int (*start)(const std::string& programName, std::string* error);
  void (*stop)();
  // Milliseconds since start.
  uint64_t (*now)();
  // 0 when the host window was made.
  int (*createWindow)(PlatformWindow* window);
  void (*destroyWindow)(PlatformWindow* window);
  void (*showWindow)(PlatformWindow* window, bool show);
  void (*setMinimised)(PlatformWindow* window, bool minimised);
  // Puts the window into the desktop's full screen or back (window->fullScreen already says which).
  void (*setFullScreen)(PlatformWindow* window);
  // The caption the desktop shows for the window.
  void (*setCaption)(PlatformWindow* window, const std::string& caption);
  // Another copy asked for the window to come to the front.
  void (*raiseWindow)(PlatformWindow* window);
  // Moves whatever host events have arrived into the queue, without waiting.
  void (*poll)();
  // Called when nothing is queued and no timer is due. Waits for something to happen (new
  // events, or the clock reaching `timerDue`, the next timer's due time, or UINT64_MAX for none)
  // and returns 0; or returns 1 when the loop must end with WM_QUIT.
  int (*wait)(uint64_t timerDue);
  void (*messageBox)(PlatformWindow* owner, const std::string& text, const std::string& caption);
  // CreateProcess: non-zero when the program was started (or recorded).
  int (*startProcess)(const std::u16string& programPath, const std::u16string& commandLine);
  // What sets this backend's single-instance endpoints apart from others' (see EndpointName),
  // and the start of their names.
  std::string (*instanceScope)();
  const char* instancePrefix;
};

// The running backend, or null before StartPlatform and after StopPlatform.
const Backend* ActiveBackend();

// ---- The window system's start and stop, for platform.cpp (window.cpp) --------------------------

// Forgets every class, window, queued message and timer.
void ResetWindowSystem();
// Closes every window left (without messages) and every connection to other copies. True when an
// unreadable script line was met.
bool CloseWindowSystem();

// ---- The window's remembered scale and full screen (window_settings.cpp) -------------------------

// What the settings file of SetWindowSettingsFile held at the last start or change: a scale of 0
// when none is remembered.
struct WindowState {
  int scale = 0;
  bool fullScreen = false;
};
WindowState RememberedWindowState();
// The user changed the window: it is written down when it differs from what is remembered.
void RememberWindowScale(int scale);
void RememberFullScreen(bool fullScreen);
void ForgetWindowSettingsFile();

// ---- Process start (process.cpp) ---------------------------------------------------------------

// Starts the host program that a device program path names, with the command line as its one
// argument (none when empty). Non-zero when it was started.
int SpawnProgram(const std::u16string& programPath, const std::u16string& commandLine);

extern const Backend kHeadlessBackend;
extern const Backend kSdlBackend;

// ---- Called by the backends --------------------------------------------------------------------

void QueueMessage(PlatformWindow* window, uint32_t message, uintptr_t wParam, intptr_t lParam);
// Moves what other threads posted (PostMessageFromAnyThread) into the queue; returns how many
// messages reached a live window.
int TakeThreadMessages();
// True while other threads' messages wait: safe on any thread, for a backend's wait to end early.
bool ThreadMessagesWaiting();
// How many WM_NETWORK messages reached the queue since the platform started (the script's
// `network` line waits on it).
uint64_t NetworkMessagesTaken();
// Focus as the desktop reports it: only changes reach the windows, through the queue.
void HostFocusChanged(PlatformWindow* window, bool gained);
// Focus as a script line says it: always delivered.
void ScriptFocus(bool gained);
// WM_CLOSE to every window; returns the number of windows.
int QueueCloseToAll();
// The first live window, or null.
PlatformWindow* FirstWindow();
// Answers other copies' requests (FindWindow, SetForegroundWindow) without waiting.
void AnswerInstanceRequests();
// Writes one line to standard error at once (MESSAGE, START, ERROR).
void ReportLine(const std::string& line);
// Newlines as the two characters \n, so that each report stays one line.
std::string OneLine(const std::string& text);

// ---- The single-instance endpoints (instance.cpp) ----------------------------------------------

// The places a user's endpoint folder may be in (see EndpointFolder): the runtime folder, the
// temporary folder and the home. An empty one is passed over.
struct EndpointPlaces {
  std::string runtime;
  std::string temp;
  std::string home;
};
// The places of the account that runs the program: /run/user/UID, /tmp and the home in the
// password database, whatever the environment says; except with the headless backend, where
// XDG_RUNTIME_DIR, TMPDIR and HOME name them, so that tests keep to folders of their own.
EndpointPlaces AccountEndpointPlaces();
// The first of the places' endpoint folders that is the user's own (made when missing), or empty
// when none is; names of nameLength characters must fit in it.
std::string EndpointFolderIn(const EndpointPlaces& places, size_t nameLength);

// The endpoint name for a class and title, for the running backend.
std::string EndpointName(const std::u16string& className, const std::u16string& title);
// Looks for the copy that holds the name, taking the name first: 0 when this program now holds it
// (kept for the window OpenEndpoint makes next) or it can't be had at all; 1 when another copy of
// this user holds it, with *connection to it, or -1 when it doesn't answer in time, and the display
// the holder shows its window on in *holderDisplay (empty when it didn't say).
int FindEndpoint(const std::string& name, int* connection, std::string* holderDisplay);
// True when a holder's display is known and isn't this program's: bringing it to the front then
// shows nothing here.
bool ElsewhereOnScreen(const std::string& holderDisplay);
// A listening endpoint for a window: the name FindEndpoint took, or the name taken now; -1 when
// another copy holds it or endpoints can't be made.
int OpenEndpoint(const std::string& name);
// Sends the request to come to the front over a connection and closes it. 0 on success.
int SendFrontRequest(int connection);
// Closes a connection without asking anything.
void SendNothing(int connection);
// Takes the requests that have arrived at an endpoint; returns how many asked for the front.
// A few connections are served at once, each closed once read or after a short time.
int TakeFrontRequests(int endpoint);
// Closes the endpoint and gives up its name.
void CloseEndpoint(int endpoint);
// Closes every endpoint and connection left, names taken for windows never made included.
void CloseAllConnections();

// An unreadable script line was met: the run ends with status 2.
void MarkScriptFailed();
