// The window system the game runs in: window classes, windows, messages, timers, focus,
// message boxes, the full-screen call and finding a running copy.
//
// The calls have the shape of the hand-held's own window system, so that the game's entry point
// and window procedure read as they would there:
//
//   WindowClass windowClass{};
//   windowClass.windowProc = MainWindowProc;
//   windowClass.className = u"APEXGRID";
//   RegisterClass(&windowClass);
//   WindowHandle window = CreateWindow(u"APEXGRID", u"Apexgrid", WS_VISIBLE,
//                                      CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT);
//   ShowWindow(window, SW_SHOWNORMAL);
//   UpdateWindow(window);
//   Message message;
//   while (GetMessage(&message)) {
//     TranslateMessage(&message);
//     DispatchMessage(&message);
//   }
//   return static_cast<int>(message.wParam);
//
// Everything runs on the program's one thread. Sent messages (creation, destruction, the first
// focus, SendMessage) reach the window procedure before the call returns; everything else (pen,
// keys, later focus changes, the close button, timer ticks) comes through the queue that
// GetMessage empties. The backend (SDL window or headless, see platform/platform.h) only decides
// where the events come from.
//
// Results follow the hand-held's meanings: handles are null on failure, "BOOL" results are
// non-zero on success.
#pragma once

#include <cstdint>
#include <string>

#include "platform/gx.h"

// The window procedure: every message of a window goes through it.
using WindowProc = intptr_t (*)(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// ---- Messages -----------------------------------------------------------------------------------

constexpr uint32_t WM_CREATE = 1;     // sent by CreateWindow; returning -1 refuses the window
constexpr uint32_t WM_DESTROY = 2;    // sent by DestroyWindow, the window still valid
constexpr uint32_t WM_SETFOCUS = 7;   // the window gained the keyboard focus
constexpr uint32_t WM_KILLFOCUS = 8;  // the window lost it
constexpr uint32_t WM_PAINT = 15;     // never generated: every screen goes through the display
constexpr uint32_t WM_CLOSE = 16;     // the user (or the program) asks the window to close
constexpr uint32_t WM_QUIT = 18;      // what GetMessage reports when the loop should end
constexpr uint32_t WM_KEYDOWN = 256;  // wParam: a key code of platform/gx.h (kKeyUp...)
// Text typed on the desktop's keyboard, which the hand-held never had: wParam is one UTF-16 unit.
// Only the dialogs' text fields read it; a key that types also arrives as WM_KEYDOWN when it has a
// key code.
constexpr uint32_t WM_CHAR = 258;
constexpr uint32_t WM_TIMER = 275;      // wParam: the timer id
constexpr uint32_t WM_MOUSEMOVE = 512;  // the pen moves while it touches the screen
constexpr uint32_t WM_LBUTTONDOWN = 513;
constexpr uint32_t WM_LBUTTONUP = 514;
// The desktop's mouse wheel, which the hand-held never had: the high 16 bits of wParam hold the
// turn as a signed multiple of 120 a notch, away from the user positive.
constexpr uint32_t WM_MOUSEWHEEL = 522;
// A headless script line that only the program can carry out (`select N`, `start`, `storno`,
// `ok`; platform/script.h), sent to the first window: lParam points to its ScriptEvent, valid
// while the message is handled. A window that can't carry it out reports it (ReportScriptError).
constexpr uint32_t WM_SCRIPTCOMMAND = 0x8001;
// A result of the network client (net/), whose I/O runs on its own thread: wParam and lParam are
// the client's own (net/client.h). Posted with PostMessageFromAnyThread, so that the procedure
// that handles it stays on the program's one thread and never waits on the network.
constexpr uint32_t WM_NETWORK = 0x8002;

// wParam of the pen messages while the pen touches the screen.
constexpr uintptr_t MK_LBUTTON = 0x0001;

// Pen positions travel in lParam: x in the low 16 bits, y in the high 16 bits, each a signed
// 16-bit screen coordinate.
inline intptr_t MakePenPosition(int x, int y) {
  return static_cast<intptr_t>(static_cast<uint32_t>(static_cast<uint16_t>(x)) |
                               (static_cast<uint32_t>(static_cast<uint16_t>(y)) << 16));
}
inline int16_t PenX(intptr_t lParam) { return static_cast<int16_t>(lParam & 0xFFFF); }
inline int16_t PenY(intptr_t lParam) { return static_cast<int16_t>((lParam >> 16) & 0xFFFF); }

struct Message {
  WindowHandle window = nullptr;
  uint32_t message = 0;
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
  uint32_t time = 0;  // GetTickCount when the message was queued
};

// ---- Window classes and windows -----------------------------------------------------------------

constexpr uint32_t CS_VREDRAW = 0x0001;
constexpr uint32_t CS_HREDRAW = 0x0002;

// A window's icon, as the desktop shows it in its title bar, task bar and switcher: 8-bit
// channels packed as 0xAARRGGBB, rows top to bottom, alpha not premultiplied.
struct WindowIcon {
  int width = 0;
  int height = 0;
  const uint32_t* pixels = nullptr;
};

struct WindowClass {
  uint32_t style = 0;  // accepted and kept; nothing here depends on it
  WindowProc windowProc = nullptr;
  const char16_t* className = nullptr;
  const WindowIcon* icon = nullptr;  // the class icon of every window of the class; may be null
};

// Registers a class by name. Returns a non-zero atom, or 0 when the name is taken, missing or the
// class has no procedure.
uint16_t RegisterClass(const WindowClass* windowClass);

constexpr uint32_t WS_VISIBLE = 0x10000000;
constexpr int CW_USEDEFAULT = static_cast<int>(0x80000000);

// Creates a top-level window of a registered class. WM_CREATE reaches the procedure before this
// returns; when the procedure answers -1 the window is destroyed again and the result is null.
// With WS_VISIBLE the window is then shown as by ShowWindow, which delivers the first WM_SETFOCUS
// before this returns too. Position and size are the desktop's business: the window always shows
// the device's screen at the backend's scale. Null also when the backend can't make a window.
//
// The window also becomes the endpoint that FindWindow(className, title) finds from other
// processes (see FindWindow).
WindowHandle CreateWindow(const char16_t* className, const char16_t* title, uint32_t style, int x, int y, int width,
                          int height);

// Sends WM_DESTROY, stops the window's timers, drops its queued messages and closes it. The
// handle stays harmless afterwards: every call given it does nothing.
int DestroyWindow(WindowHandle window);

// Non-zero while the window exists.
int IsWindow(WindowHandle window);

constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOW = 5;

// Shows (any command but SW_HIDE) or hides the window; returns non-zero when it was visible.
// The first time a window is shown while no window of the program has the focus, it gains the
// focus: WM_SETFOCUS reaches the procedure before ShowWindow returns, as on the hand-held, where
// the focus arrives while the window appears. The desktop's own notice of that first focus is
// swallowed; from then on focus changes come through the queue, and only real changes.
int ShowWindow(WindowHandle window, int command);

// Accepted for the hand-held's form; no screen depends on paint messages. Non-zero.
int UpdateWindow(WindowHandle window);

// Gives the window the caption the desktop shows. The title FindWindow knows the window by stays
// the one it was created with, so that a second copy still finds it. Non-zero.
int SetWindowText(WindowHandle window, const std::u16string& text);

// Gives the window a place and size in device pixels. On the desktop the window always shows the
// whole device screen at its scale, so a size other than nothing changes nothing but un-minimises
// it; a window sized to nothing while the shell is shown (SHFullScreen with SHFS_SHOWTASKBAR) is
// minimised, which is the desktop's way of handing the screen back to the shell.
int MoveWindow(WindowHandle window, int x, int y, int width, int height, int repaint);

// Non-zero while the window is minimised.
int IsIconic(WindowHandle window);

// The window of this program that has the keyboard focus, or null.
WindowHandle GetFocus();

// ---- The full-screen call -----------------------------------------------------------------------

constexpr uint32_t SHFS_SHOWTASKBAR = 0x0001;
constexpr uint32_t SHFS_HIDETASKBAR = 0x0002;
constexpr uint32_t SHFS_SHOWSIPBUTTON = 0x0004;
constexpr uint32_t SHFS_HIDESIPBUTTON = 0x0008;
constexpr uint32_t SHFS_SHOWSTARTICON = 0x0010;
constexpr uint32_t SHFS_HIDESTARTICON = 0x0020;

// The shell's full-screen call: hides (flags 42) or shows (flags 21) the shell's bars around the
// window. The desktop has no such bars; what counts is whether the shell is shown, which decides
// what sizing the window to nothing means (MoveWindow). Non-zero.
int SHFullScreen(WindowHandle window, uint32_t flags);

// ---- Full screen on the desktop -----------------------------------------------------------------
//
// The desktop's own full screen, which the hand-held never needed: F11 or Alt+Enter in the SDL
// window (the window takes these keys itself; the program never sees them), `key f11` in a
// headless script. The screen then shows at the largest whole scale that fits the desktop,
// centred on black, and the pen keeps mapping to device pixels. The state is remembered with the
// window's scale (SetWindowSettingsFile in platform/platform.h) and comes back at the next start.

// F11, the host key of full screen, as a script's `key f11` names it.
constexpr int16_t kHostKeyFullScreen = 0x7A;

// The host keys of what the game adds beyond the hand-held, delivered as WM_KEYDOWN like the
// device's keys (the key D, H and F in the SDL window; `key d`, `key h`, `key f` in a script):
// the driver of the car to move, a hint, and foresight.
constexpr int16_t kHostKeyDriver = 0x44;
constexpr int16_t kHostKeyHint = 0x48;
constexpr int16_t kHostKeyForesight = 0x46;
// The race file's keys, the same way (R, P and E; `key r`, `key p`, `key e`): resume the last race
// on the circuit, play the race back, export it as an animation. While it plays back: Space
// pauses and goes on, comma and full stop step one move back and forward, Escape leaves (`key
// space`, `key comma`, `key period`, `key escape`).
constexpr int16_t kHostKeyResume = 0x52;
constexpr int16_t kHostKeyPlayback = 0x50;
constexpr int16_t kHostKeyExport = 0x45;
constexpr int16_t kHostKeyPause = 0x20;
constexpr int16_t kHostKeyStepBack = 0xBC;
constexpr int16_t kHostKeyStepOn = 0xBE;
constexpr int16_t kHostKeyLeave = 0x1B;
// The online lobby's key (O; `key o`): the game starts Apexlobby beside itself.
constexpr int16_t kHostKeyOnline = 0x4F;
// Backspace, for the dialogs' text fields (`key backspace`).
constexpr int16_t kHostKeyBackspace = 0x08;

// Switches the window between full screen and a window of its own. Non-zero when it is full
// screen afterwards.
int ToggleFullScreen(WindowHandle window);

// Non-zero while the window is full screen.
int IsFullScreen(WindowHandle window);

// ---- The message queue --------------------------------------------------------------------------

// Waits for the next message and fills *message. Returns 0 when it is WM_QUIT (message->wParam
// then holds the exit code given to PostQuitMessage), 1 otherwise. Order: queued messages first,
// then the quit request, then new events of the backend, then ticks of timers that fell due (one
// WM_TIMER per timer, however many periods passed).
//
// Headless, when nothing is queued the next script line is played (platform/script.h); when the
// script is over every window gets WM_CLOSE; when even that leaves the program waiting, the loop
// ends as if PostQuitMessage had been called. After an unreadable script line the exit code is 2.
int GetMessage(Message* message);

// Non-zero when a message was taken; 0 when nothing is queued and no timer is due. Never plays a
// script line or waits.
int PeekMessage(Message* message);

// Accepted for the hand-held's form: keys arrive as WM_KEYDOWN only. Returns 0.
int TranslateMessage(const Message* message);

// Hands a message to its window's procedure and returns the procedure's result; 0 for a window
// that no longer exists.
intptr_t DispatchMessage(const Message* message);

// Calls the window procedure at once and returns its result; 0 for a window that doesn't exist.
intptr_t SendMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// Queues a message for the window. Non-zero on success, 0 for a window that doesn't exist.
int PostMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// PostMessage for another thread of the program: the message waits in an inbox of its own until
// the program's thread next looks at its queue (GetMessage, PeekMessage), and reaches the window
// then if it still exists. A waiting SDL window wakes within a few milliseconds. Non-zero; a null
// window is refused with 0. Nothing else of this header may be called from another thread.
int PostMessageFromAnyThread(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// Asks the message loop to end: GetMessage returns 0 once the queued messages are handled.
void PostQuitMessage(int exitCode);

// What a window procedure hands on for the messages it doesn't handle: WM_CLOSE destroys the
// window (which sends WM_DESTROY); everything else is answered 0.
intptr_t DefWindowProc(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// ---- Timers and the clock ---------------------------------------------------------------------

// Starts (or restarts) the window's timer `id`: WM_TIMER with wParam id every `period`
// milliseconds (at least 10), through the queue. Returns id, or 0 for a window that doesn't
// exist or an id of 0.
uintptr_t SetTimer(WindowHandle window, uintptr_t id, uint32_t period);

// Stops the timer; no tick of it is delivered afterwards. Non-zero when it was running.
int KillTimer(WindowHandle window, uintptr_t id);

// Milliseconds since the platform started. Headless, the virtual clock: it moves only with the
// script's `wait` lines.
uint32_t GetTickCount();

// ---- Message boxes ------------------------------------------------------------------------------

constexpr uint32_t MB_OK = 0x00000000;
constexpr int IDOK = 1;

// Shows a modal message box with an OK button and returns IDOK once it is closed. A null caption
// shows the hand-held's default caption "Error"; the owner may be null. Headless, the box is
// written to standard error as `MESSAGE <caption> | <text>` (newlines in the text as \n) and
// answered at once. When the desktop can't show the box, the same line is written instead.
int MessageBox(WindowHandle owner, const std::u16string& text, const char16_t* caption, uint32_t type);

// ---- Finding a running copy ---------------------------------------------------------------------

// Finds a window by class name and title: one of this program's own, or the window of another
// running program on this machine (for the same user) that created a window with that class name
// and title. Null when there is none. The window of another program can only be brought to the
// front (SetForegroundWindow); every other call treats it as not existing.
//
// Finding none, this program takes the class and title for itself at once, for the window it
// creates next with them: of copies started together, exactly one finds none, and every other
// finds that one (even while it is still starting up). A copy that holds the name but doesn't
// answer in time is still found; bringing it to the front then fails.
//
// The names are the user's own: they live in a folder that only the user can enter (in the user's
// runtime folder, /run/user/UID; without one, in /tmp/apexgrid-UID, or in the cache folder of the
// account's home when that isn't the user's own), so another user can neither take them first nor
// reach a window through them. The folder comes from the account, not the environment, so that
// copies started from a desktop and from an ssh login find each other. A copy that finds another
// running on another display says so on standard error, since nothing shows where it was started.
// The SDL backend's names are per user; the headless backend keeps a registry of its own, per
// program folder, whose folder XDG_RUNTIME_DIR, TMPDIR and HOME may place, so that tests running
// copies side by side from different folders never find each other.
// APEXGRID_INSTANCE=KEY narrows either further: only programs started with the same key find each
// other.
WindowHandle FindWindow(const char16_t* className, const char16_t* title);

// Brings the window to the front and gives it the focus; a minimised window is restored, and
// the focus arrives as WM_SETFOCUS if it didn't have it. Works across programs for a window
// found by FindWindow. The handle may carry its lowest bit set (the hand-held's way of asking for
// owned pop-ups too); that bit is ignored. Non-zero when the request was made.
int SetForegroundWindow(WindowHandle window);
