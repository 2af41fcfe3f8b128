// The window system over either backend: classes, windows, the queue, timers, focus, start-up.
#include "platform/window.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/core.h"
#include "platform/text.h"

namespace {

struct RegisteredClass {
  std::u16string name;
  WindowProc proc;
  uint32_t style;
  const WindowIcon* icon;
};

struct Timer {
  PlatformWindow* window;
  uintptr_t id;
  uint32_t period;
  uint64_t due;
};

struct PlatformState {
  std::vector<RegisteredClass> classes;
  // Every window made in the run, also destroyed ones: a handle stays a valid address until the
  // platform stops, so a late call with it is recognised and ignored instead of reading freed
  // memory, and no new window can ever reuse an old handle.
  std::vector<std::unique_ptr<PlatformWindow>> windows;
  std::vector<std::unique_ptr<PlatformWindow>> remoteWindows;
  std::deque<Message> queue;
  std::vector<Timer> timers;
  PlatformWindow* focus = nullptr;
  bool quitPosted = false;
  int quitCode = 0;
  bool scriptFailed = false;
};

PlatformState& State() {
  static PlatformState state;
  return state;
}

const Backend* Active() { return ActiveBackend(); }

// Messages posted by other threads. Apart from the platform's state, so that posting never touches
// what the program's thread reads unlocked; the flag lets a waiting backend look without the lock.
struct ThreadInbox {
  std::mutex lock;
  std::vector<Message> messages;
  std::atomic<bool> waiting{false};
  uint64_t networkTaken = 0;  // the program's thread only
};

ThreadInbox& Inbox() {
  static ThreadInbox inbox;
  return inbox;
}

PlatformWindow* Live(WindowHandle window) {
  if (window == nullptr) return nullptr;
  for (const auto& w : State().windows) {
    if (w.get() == window) return w->alive ? w.get() : nullptr;
  }
  return nullptr;
}

// The lowest bit of a handle may be set to ask for owned pop-ups as well.
WindowHandle WithoutLowBit(WindowHandle window) {
  // NOLINTNEXTLINE(performance-no-int-to-ptr): a handle is an address, its flag cleared as an integer
  return reinterpret_cast<WindowHandle>(reinterpret_cast<uintptr_t>(window) & ~uintptr_t{1});
}

uint64_t Now() { return Active() != nullptr ? Active()->now() : 0; }

uint64_t NextTimerDue() {
  uint64_t due = UINT64_MAX;
  for (const Timer& t : State().timers) {
    if (t.due < due) due = t.due;
  }
  return due;
}

// Shows the window; the first window to appear takes the focus at once, before the caller goes
// on, the way the hand-held activates a window as it appears.
void Show(PlatformWindow* w) {
  if (w->visible) return;
  w->visible = true;
  Active()->showWindow(w, true);
  PlatformState& s = State();
  if (s.focus == nullptr) {
    s.focus = w;
    SendMessage(w, WM_SETFOCUS, 0, 0);
  }
}

}  // namespace

// ---- The platform's start and stop (platform.cpp) -------------------------------------------

void ResetWindowSystem() {
  State() = PlatformState();
  ThreadInbox& inbox = Inbox();
  std::lock_guard<std::mutex> hold(inbox.lock);
  inbox.messages.clear();
  inbox.waiting.store(false);
  inbox.networkTaken = 0;
}

bool CloseWindowSystem() {
  PlatformState& s = State();
  const bool failed = s.scriptFailed;
  for (const auto& w : s.windows) {
    if (!w->alive) continue;
    w->alive = false;
    CloseEndpoint(w->endpoint);
    if (Active() != nullptr) Active()->destroyWindow(w.get());
  }
  for (const auto& remote : s.remoteWindows) {
    if (remote->remoteConnection >= 0) SendNothing(remote->remoteConnection);
  }
  CloseAllConnections();
  s = PlatformState();
  return failed;
}

void MarkScriptFailed() { State().scriptFailed = true; }

// ---- Classes and windows -------------------------------------------------------------------------

uint16_t RegisterClass(const WindowClass* windowClass) {
  if (windowClass == nullptr || windowClass->windowProc == nullptr || windowClass->className == nullptr ||
      windowClass->className[0] == 0) {
    return 0;
  }
  PlatformState& s = State();
  for (const RegisteredClass& c : s.classes) {
    if (c.name == windowClass->className) return 0;
  }
  s.classes.push_back({windowClass->className, windowClass->windowProc, windowClass->style, windowClass->icon});
  // Atoms count from 0xC000 on the hand-held; any non-zero number does here.
  return static_cast<uint16_t>(0xC000 + s.classes.size() - 1);
}

WindowHandle CreateWindow(const char16_t* className, const char16_t* title, uint32_t style, int x, int y, int width,
                          int height) {
  PlatformState& s = State();
  if (Active() == nullptr || className == nullptr) return nullptr;
  const RegisteredClass* found = nullptr;
  for (const RegisteredClass& c : s.classes) {
    if (c.name == className) found = &c;
  }
  if (found == nullptr) return nullptr;

  s.windows.push_back(std::make_unique<PlatformWindow>());
  PlatformWindow* w = s.windows.back().get();
  w->proc = found->proc;
  w->className = className;
  w->title = title != nullptr ? title : u"";
  w->icon = found->icon;
  w->fullScreen = RememberedWindowState().fullScreen;
  w->x = x == CW_USEDEFAULT ? 0 : x;
  w->y = y == CW_USEDEFAULT ? 0 : y;
  const GXDisplayProperties screen = GXGetDisplayProperties();
  w->width = width == CW_USEDEFAULT ? static_cast<int>(screen.cxWidth) : width;
  w->height = height == CW_USEDEFAULT ? static_cast<int>(screen.cyHeight) : height;
  if (Active()->createWindow(w) != 0) return nullptr;
  w->alive = true;
  w->endpoint = OpenEndpoint(EndpointName(w->className, w->title));

  if (SendMessage(w, WM_CREATE, 0, 0) == -1) {
    DestroyWindow(w);
    return nullptr;
  }
  if ((style & WS_VISIBLE) != 0 && Live(w) != nullptr) Show(w);
  return Live(w);
}

int DestroyWindow(WindowHandle window) {
  PlatformWindow* w = Live(window);
  if (w == nullptr) return 0;
  SendMessage(w, WM_DESTROY, 0, 0);
  if (!w->alive) return 1;  // destroyed again from inside its own WM_DESTROY
  w->alive = false;
  PlatformState& s = State();
  std::vector<Timer> kept;
  for (const Timer& t : s.timers) {
    if (t.window != w) kept.push_back(t);
  }
  s.timers.swap(kept);
  std::deque<Message> queue;
  for (const Message& m : s.queue) {
    if (m.window != w) queue.push_back(m);
  }
  s.queue.swap(queue);
  if (s.focus == w) s.focus = nullptr;
  CloseEndpoint(w->endpoint);
  w->endpoint = -1;
  Active()->destroyWindow(w);
  return 1;
}

int IsWindow(WindowHandle window) { return Live(window) != nullptr ? 1 : 0; }

int ShowWindow(WindowHandle window, int command) {
  PlatformWindow* w = Live(window);
  if (w == nullptr) return 0;
  const int wasVisible = w->visible ? 1 : 0;
  if (command == SW_HIDE) {
    if (w->visible) {
      w->visible = false;
      Active()->showWindow(w, false);
      if (State().focus == w) {
        State().focus = nullptr;
        SendMessage(w, WM_KILLFOCUS, 0, 0);
      }
    }
  } else {
    Show(w);
  }
  return wasVisible;
}

int UpdateWindow(WindowHandle window) { return Live(window) != nullptr ? 1 : 0; }

int SetWindowText(WindowHandle window, const std::u16string& text) {
  PlatformWindow* w = Live(window);
  if (w == nullptr) return 0;
  Active()->setCaption(w, ToUtf8(text));
  return 1;
}

int MoveWindow(WindowHandle window, int x, int y, int width, int height, int) {
  PlatformWindow* w = Live(window);
  if (w == nullptr) return 0;
  w->x = x;
  w->y = y;
  w->width = width;
  w->height = height;
  const bool nothing = width <= 0 || height <= 0;
  if (nothing && w->shellShown && !w->minimised) {
    w->minimised = true;
    Active()->setMinimised(w, true);
  } else if (!nothing && w->minimised) {
    w->minimised = false;
    Active()->setMinimised(w, false);
  }
  return 1;
}

int IsIconic(WindowHandle window) {
  PlatformWindow* w = Live(window);
  return w != nullptr && w->minimised ? 1 : 0;
}

WindowHandle GetFocus() { return Live(State().focus); }

int SHFullScreen(WindowHandle window, uint32_t flags) {
  PlatformWindow* w = Live(window);
  if (w == nullptr) return 0;
  if ((flags & SHFS_SHOWTASKBAR) != 0) w->shellShown = true;
  if ((flags & SHFS_HIDETASKBAR) != 0) w->shellShown = false;
  return 1;
}

int ToggleFullScreen(WindowHandle window) {
  PlatformWindow* w = Live(window);
  if (w == nullptr) return 0;
  w->fullScreen = !w->fullScreen;
  // Kept first, so that whoever sees the window change finds it remembered.
  RememberFullScreen(w->fullScreen);
  Active()->setFullScreen(w);
  return w->fullScreen ? 1 : 0;
}

int IsFullScreen(WindowHandle window) {
  PlatformWindow* w = Live(window);
  return w != nullptr && w->fullScreen ? 1 : 0;
}

// ---- The queue -----------------------------------------------------------------------------------

int PeekMessage(Message* message) {
  PlatformState& s = State();
  if (Active() == nullptr) return 0;
  TakeThreadMessages();
  if (s.queue.empty()) {
    Active()->poll();
    AnswerInstanceRequests();
  }
  if (!s.queue.empty()) {
    *message = s.queue.front();
    s.queue.pop_front();
    return 1;
  }
  const uint64_t now = Now();
  for (Timer& t : s.timers) {
    if (t.due <= now) {
      // One tick however many periods passed; the next one is a whole period from now.
      t.due = now + t.period;
      *message = Message{t.window, WM_TIMER, t.id, 0, static_cast<uint32_t>(now)};
      return 1;
    }
  }
  return 0;
}

int GetMessage(Message* message) {
  PlatformState& s = State();
  for (;;) {
    if (Active() == nullptr) {
      *message = Message{nullptr, WM_QUIT, 0, 0, 0};
      return 0;
    }
    TakeThreadMessages();
    if (!s.queue.empty()) {
      *message = s.queue.front();
      s.queue.pop_front();
      return 1;
    }
    if (s.quitPosted) {
      s.quitPosted = false;
      const int code = s.scriptFailed ? 2 : s.quitCode;
      *message = Message{nullptr, WM_QUIT, static_cast<uintptr_t>(code), 0, static_cast<uint32_t>(Now())};
      return 0;
    }
    if (PeekMessage(message)) return 1;
    if (Active()->wait(NextTimerDue()) != 0) {
      const int code = s.scriptFailed ? 2 : 0;
      *message = Message{nullptr, WM_QUIT, static_cast<uintptr_t>(code), 0, static_cast<uint32_t>(Now())};
      return 0;
    }
  }
}

int TranslateMessage(const Message*) { return 0; }

intptr_t DispatchMessage(const Message* message) {
  if (message == nullptr) return 0;
  return SendMessage(message->window, message->message, message->wParam, message->lParam);
}

intptr_t SendMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  PlatformWindow* w = Live(window);
  if (w == nullptr) return 0;
  // The window may be destroyed while its procedure runs; nothing here touches it afterwards.
  return w->proc(w, message, wParam, lParam);
}

int PostMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  PlatformWindow* w = Live(window);
  if (w == nullptr) return 0;
  QueueMessage(w, message, wParam, lParam);
  return 1;
}

int PostMessageFromAnyThread(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (window == nullptr) return 0;
  ThreadInbox& inbox = Inbox();
  std::lock_guard<std::mutex> hold(inbox.lock);
  inbox.messages.push_back(Message{static_cast<PlatformWindow*>(window), message, wParam, lParam, 0});
  inbox.waiting.store(true);
  return 1;
}

int TakeThreadMessages() {
  ThreadInbox& inbox = Inbox();
  if (!inbox.waiting.load()) return 0;
  std::vector<Message> taken;
  {
    std::lock_guard<std::mutex> hold(inbox.lock);
    taken.swap(inbox.messages);
    inbox.waiting.store(false);
  }
  int count = 0;
  for (const Message& m : taken) {
    // The handle is checked only here, on the program's thread: the window may be gone by now.
    PlatformWindow* w = Live(m.window);
    if (w == nullptr) continue;
    QueueMessage(w, m.message, m.wParam, m.lParam);
    if (m.message == WM_NETWORK) ++inbox.networkTaken;
    ++count;
  }
  return count;
}

bool ThreadMessagesWaiting() { return Inbox().waiting.load(); }

uint64_t NetworkMessagesTaken() { return Inbox().networkTaken; }

void PostQuitMessage(int exitCode) {
  State().quitPosted = true;
  State().quitCode = exitCode;
}

intptr_t DefWindowProc(WindowHandle window, uint32_t message, uintptr_t, intptr_t) {
  if (message == WM_CLOSE) DestroyWindow(window);
  return 0;
}

// ---- Timers and the clock -----------------------------------------------------------------------

uintptr_t SetTimer(WindowHandle window, uintptr_t id, uint32_t period) {
  PlatformWindow* w = Live(window);
  if (w == nullptr || id == 0) return 0;
  if (period < 10) period = 10;  // a zero period would tick without end in virtual time
  PlatformState& s = State();
  const uint64_t due = Now() + period;
  for (Timer& t : s.timers) {
    if (t.window == w && t.id == id) {
      t.period = period;
      t.due = due;
      return id;
    }
  }
  s.timers.push_back({w, id, period, due});
  return id;
}

int KillTimer(WindowHandle window, uintptr_t id) {
  PlatformState& s = State();
  for (size_t i = 0; i < s.timers.size(); ++i) {
    if (s.timers[i].window == window && s.timers[i].id == id) {
      s.timers.erase(s.timers.begin() + static_cast<long>(i));
      return 1;
    }
  }
  return 0;
}

uint32_t GetTickCount() { return static_cast<uint32_t>(Now()); }

// ---- Message boxes ------------------------------------------------------------------------------

int MessageBox(WindowHandle owner, const std::u16string& text, const char16_t* caption, uint32_t) {
  const std::string captionText = caption != nullptr ? ToUtf8(caption) : std::string("Error");
  if (Active() == nullptr) {
    ReportLine("MESSAGE " + OneLine(captionText) + " | " + OneLine(ToUtf8(text)));
    return IDOK;
  }
  Active()->messageBox(Live(owner), ToUtf8(text), captionText);
  return IDOK;
}

// ---- Finding a running copy ---------------------------------------------------------------------

WindowHandle FindWindow(const char16_t* className, const char16_t* title) {
  PlatformState& s = State();
  const std::u16string cls = className != nullptr ? className : u"";
  const std::u16string ttl = title != nullptr ? title : u"";
  for (const auto& w : s.windows) {
    if (w->alive && w->className == cls && w->title == ttl) return w.get();
  }
  if (Active() == nullptr) return nullptr;
  int connection = -1;
  std::string display;
  if (FindEndpoint(EndpointName(cls, ttl), &connection, &display) == 0) return nullptr;
  s.remoteWindows.push_back(std::make_unique<PlatformWindow>());
  PlatformWindow* remote = s.remoteWindows.back().get();
  remote->className = cls;
  remote->title = ttl;
  remote->remoteConnection = connection;
  remote->remoteDisplay = display;
  return remote;
}

int SetForegroundWindow(WindowHandle window) {
  window = WithoutLowBit(window);
  PlatformState& s = State();
  for (const auto& remote : s.remoteWindows) {
    if (remote.get() != window) continue;
    if (remote->remoteConnection < 0) return 0;
    const int sent = SendFrontRequest(remote->remoteConnection);
    remote->remoteConnection = -1;
    // The user at this display would see nothing happen and the program end without a word.
    if (sent == 0 && ElsewhereOnScreen(remote->remoteDisplay)) {
      std::fprintf(stderr, "%s is already running on display %s; it was brought to the front there\n",
                   ToUtf8(remote->title).c_str(), remote->remoteDisplay.c_str());
      std::fflush(stderr);
    }
    return sent == 0 ? 1 : 0;
  }
  PlatformWindow* w = Live(window);
  if (w == nullptr) return 0;
  Active()->raiseWindow(w);
  return 1;
}

// ---- Called by the backends ---------------------------------------------------------------------

void QueueMessage(PlatformWindow* window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (Live(window) == nullptr) return;
  State().queue.push_back(Message{window, message, wParam, lParam, static_cast<uint32_t>(Now())});
}

void HostFocusChanged(PlatformWindow* window, bool gained) {
  PlatformState& s = State();
  if (Live(window) == nullptr) return;
  if (gained) {
    if (s.focus == window) return;  // already told, as when the window first appeared
    if (s.focus != nullptr) QueueMessage(s.focus, WM_KILLFOCUS, 0, 0);
    s.focus = window;
    QueueMessage(window, WM_SETFOCUS, 0, 0);
  } else {
    if (s.focus != window) return;
    s.focus = nullptr;
    QueueMessage(window, WM_KILLFOCUS, 0, 0);
  }
}

void ScriptFocus(bool gained) {
  PlatformState& s = State();
  PlatformWindow* w = FirstWindow();
  if (w == nullptr) return;
  if (gained) {
    if (w->minimised) {
      w->minimised = false;
      Active()->setMinimised(w, false);
    }
    s.focus = w;
    QueueMessage(w, WM_SETFOCUS, 0, 0);
  } else {
    if (s.focus == w) s.focus = nullptr;
    QueueMessage(w, WM_KILLFOCUS, 0, 0);
  }
}

int QueueCloseToAll() {
  int count = 0;
  for (const auto& w : State().windows) {
    if (!w->alive) continue;
    QueueMessage(w.get(), WM_CLOSE, 0, 0);
    ++count;
  }
  return count;
}

PlatformWindow* FirstWindow() {
  for (const auto& w : State().windows) {
    if (w->alive) return w.get();
  }
  return nullptr;
}

void AnswerInstanceRequests() {
  PlatformState& s = State();
  for (size_t i = 0; i < s.windows.size(); ++i) {
    PlatformWindow* w = s.windows[i].get();
    if (!w->alive || w->endpoint < 0) continue;
    if (TakeFrontRequests(w->endpoint) > 0) Active()->raiseWindow(w);
  }
}

void ReportLine(const std::string& line) {
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
}

std::string OneLine(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}
