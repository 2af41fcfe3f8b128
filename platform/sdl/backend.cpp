// The SDL2 backend: one desktop window showing the device screen at a whole scale, the mouse as
// the pen, the keyboard as the device's keys.
#include <SDL.h>
#include <stdlib.h>  // setenv

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/core.h"
#include "platform/gx.h"
#include "platform/text.h"

namespace {

constexpr int kLargestScale = 16;
// Room left for the window's title bar when the scale is chosen to fit the desktop.
constexpr int kDecorationAllowance = 32;
// The application id: the X window class and the Wayland app id of both programs' windows, so
// that desktops group them under one launcher (its StartupWMClass says the same).
constexpr char kApplicationId[] = "apexgrid";
// Longest wait for host events, so that other copies' requests are answered promptly.
constexpr uint64_t kLongestWait = 50;
// Longest nap while waiting: pen and keys reach the program within this many milliseconds.
constexpr uint64_t kNap = 5;

struct HostWindow {
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  SDL_Texture* texture = nullptr;
  uint32_t textureFormat = 0;
  int textureWidth = 0;
  int textureHeight = 0;
  bool penDown = false;
  int penX = 0;
  int penY = 0;
  int scale = 1;  // the whole scale the window's own size allows, while not full screen
};

struct SdlState {
  int scaleOption = 0;  // APEXGRID_SCALE, 0 for the largest that fits
  uint64_t startTicks = 0;
  std::vector<PlatformWindow*> windows;
};

SdlState& Sdl() {
  static SdlState state;
  return state;
}

HostWindow* Host(PlatformWindow* w) { return w != nullptr ? static_cast<HostWindow*>(w->host) : nullptr; }

PlatformWindow* FromId(uint32_t id) {
  for (PlatformWindow* w : Sdl().windows) {
    if (Host(w) != nullptr && SDL_GetWindowID(Host(w)->window) == id) return w;
  }
  return nullptr;
}

// The screen's place in the window's pixels: centred, enlarged by the largest whole factor that
// fits (the window normally has exactly that size; a resized window keeps whole pixels).
SDL_Rect ScreenPlace(HostWindow* h, int* scale) {
  int outW = 0, outH = 0;
  SDL_GetRendererOutputSize(h->renderer, &outW, &outH);
  const GXDisplayProperties p = GXGetDisplayProperties();
  const int w = p.cxWidth > 0 ? static_cast<int>(p.cxWidth) : 1;
  const int hgt = p.cyHeight > 0 ? static_cast<int>(p.cyHeight) : 1;
  int s = std::min(outW / w, outH / hgt);
  if (s < 1) s = 1;
  *scale = s;
  return SDL_Rect{(outW - w * s) / 2, (outH - hgt * s) / 2, w * s, hgt * s};
}

void Render(HostWindow* h) {
  if (h == nullptr || h->renderer == nullptr) return;
  SDL_SetRenderDrawColor(h->renderer, 0, 0, 0, 255);
  SDL_RenderClear(h->renderer);
  if (h->texture != nullptr) {
    int scale;
    const SDL_Rect place = ScreenPlace(h, &scale);
    SDL_RenderCopy(h->renderer, h->texture, nullptr, &place);
  }
  SDL_RenderPresent(h->renderer);
}

// Every presented frame goes straight into a streaming texture of the screen's own pixel format.
void Present(const uint16_t* screen, const GXDisplayProperties& p) {
  PlatformWindow* w = FirstWindow();
  HostWindow* h = Host(w);
  if (h == nullptr || screen == nullptr) return;
  const uint32_t format = (p.ffFormat & kfDirect565) != 0 ? SDL_PIXELFORMAT_RGB565 : SDL_PIXELFORMAT_RGB555;
  const int width = static_cast<int>(p.cxWidth);
  const int height = static_cast<int>(p.cyHeight);
  if (h->texture == nullptr || h->textureFormat != format || h->textureWidth != width || h->textureHeight != height) {
    if (h->texture != nullptr) SDL_DestroyTexture(h->texture);
    h->texture = SDL_CreateTexture(h->renderer, format, SDL_TEXTUREACCESS_STREAMING, width, height);
    if (h->texture == nullptr) return;
    SDL_SetTextureScaleMode(h->texture, SDL_ScaleModeNearest);
    h->textureFormat = format;
    h->textureWidth = width;
    h->textureHeight = height;
  }
  SDL_UpdateTexture(h->texture, nullptr, screen, width * 2);
  Render(h);
}

// A window position (in the desktop's units) as a device screen position; false when it lies on
// the black margin around the screen. The pen can't leave the screen, so a drag that wanders off
// it stays on its edge.
bool PenPosition(PlatformWindow* w, int x, int y, int* penX, int* penY) {
  HostWindow* h = Host(w);
  int winW = 1, winH = 1, outW = 1, outH = 1;
  SDL_GetWindowSize(h->window, &winW, &winH);
  SDL_GetRendererOutputSize(h->renderer, &outW, &outH);
  if (winW <= 0) winW = 1;
  if (winH <= 0) winH = 1;
  const long pixelX = static_cast<long>(x) * outW / winW;
  const long pixelY = static_cast<long>(y) * outH / winH;
  int scale;
  const SDL_Rect place = ScreenPlace(h, &scale);
  const GXDisplayProperties p = GXGetDisplayProperties();
  bool inside = true;
  auto cell = [scale, &inside](long pixel, long origin, long size) {
    long v = pixel - origin;
    v = v < 0 ? -((-v + scale - 1) / scale) : v / scale;  // floor, also left of the screen
    if (v < 0 || v > size - 1) inside = false;
    if (v < 0) v = 0;
    if (v > size - 1) v = size - 1;
    return static_cast<int>(v);
  };
  *penX = cell(pixelX, place.x, static_cast<long>(p.cxWidth));
  *penY = cell(pixelY, place.y, static_cast<long>(p.cyHeight));
  return inside;
}

// The whole scale the window's size allows when it is a window of its own, for remembering: a
// full-screen window's size is the desktop's, not the player's choice.
void NoteWindowSize(PlatformWindow* w) {
  HostWindow* h = Host(w);
  if (w->fullScreen || (SDL_GetWindowFlags(h->window) & SDL_WINDOW_FULLSCREEN) != 0) return;
  int winW = 0, winH = 0;
  SDL_GetWindowSize(h->window, &winW, &winH);
  const GXDisplayProperties p = GXGetDisplayProperties();
  if (p.cxWidth == 0 || p.cyHeight == 0) return;
  const int scale = std::max(1, std::min(winW / static_cast<int>(p.cxWidth), winH / static_cast<int>(p.cyHeight)));
  if (scale == h->scale) return;
  h->scale = scale;
  RememberWindowScale(scale);
}

// F11 and Alt+Enter belong to the window, whatever the program does with keys.
bool IsFullScreenKey(const SDL_KeyboardEvent& key) {
  return key.keysym.sym == SDLK_F11 ||
         ((key.keysym.sym == SDLK_RETURN || key.keysym.sym == SDLK_KP_ENTER) && (key.keysym.mod & KMOD_ALT) != 0);
}

bool KeyCode(SDL_Keycode key, int16_t* code) {
  switch (key) {
    case SDLK_UP:
      *code = kKeyUp;
      return true;
    case SDLK_DOWN:
      *code = kKeyDown;
      return true;
    case SDLK_LEFT:
      *code = kKeyLeft;
      return true;
    case SDLK_RIGHT:
      *code = kKeyRight;
      return true;
    case SDLK_a:
      *code = kKeyA;
      return true;
    case SDLK_b:
      *code = kKeyB;
      return true;
    case SDLK_c:
      *code = kKeyC;
      return true;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
      *code = kKeyStart;
      return true;
    case SDLK_d:
      *code = kHostKeyDriver;
      return true;
    case SDLK_h:
      *code = kHostKeyHint;
      return true;
    case SDLK_f:
      *code = kHostKeyForesight;
      return true;
    case SDLK_r:
      *code = kHostKeyResume;
      return true;
    case SDLK_p:
      *code = kHostKeyPlayback;
      return true;
    case SDLK_e:
      *code = kHostKeyExport;
      return true;
    case SDLK_SPACE:
      *code = kHostKeyPause;
      return true;
    case SDLK_COMMA:
      *code = kHostKeyStepBack;
      return true;
    case SDLK_PERIOD:
      *code = kHostKeyStepOn;
      return true;
    case SDLK_ESCAPE:
      *code = kHostKeyLeave;
      return true;
    case SDLK_BACKSPACE:
      *code = kHostKeyBackspace;
      return true;
    case SDLK_o:
      *code = kHostKeyOnline;
      return true;
    default:
      return false;
  }
}

// The pen's touches, moves and lifts, from the left mouse button.
void TranslatePen(const SDL_Event& e) {
  switch (e.type) {
    case SDL_MOUSEBUTTONDOWN: {
      PlatformWindow* w = FromId(e.button.windowID);
      if (w == nullptr || e.button.button != SDL_BUTTON_LEFT) return;
      HostWindow* h = Host(w);
      int x, y;
      // The black margin is no part of the screen: a click there touches nothing.
      if (!PenPosition(w, e.button.x, e.button.y, &x, &y)) return;
      h->penDown = true;
      h->penX = x;
      h->penY = y;
      QueueMessage(w, WM_LBUTTONDOWN, MK_LBUTTON, MakePenPosition(x, y));
      return;
    }
    case SDL_MOUSEMOTION: {
      PlatformWindow* w = FromId(e.motion.windowID);
      // A pen can't hover: motion counts only while the button holds it on the screen.
      if (w == nullptr || !Host(w)->penDown) return;
      HostWindow* h = Host(w);
      int x, y;
      PenPosition(w, e.motion.x, e.motion.y, &x, &y);
      if (x == h->penX && y == h->penY) return;  // moved within one device pixel
      h->penX = x;
      h->penY = y;
      QueueMessage(w, WM_MOUSEMOVE, MK_LBUTTON, MakePenPosition(x, y));
      return;
    }
    case SDL_MOUSEBUTTONUP: {
      PlatformWindow* w = FromId(e.button.windowID);
      if (w == nullptr || e.button.button != SDL_BUTTON_LEFT || !Host(w)->penDown) return;
      HostWindow* h = Host(w);
      h->penDown = false;
      PenPosition(w, e.button.x, e.button.y, &h->penX, &h->penY);
      QueueMessage(w, WM_LBUTTONUP, 0, MakePenPosition(h->penX, h->penY));
      return;
    }
    default:
      return;
  }
}

// The window's own changes: focus, minimising, size, exposure and its close button.
void TranslateWindowEvent(const SDL_WindowEvent& event) {
  PlatformWindow* w = FromId(event.windowID);
  if (w == nullptr) return;
  HostWindow* h = Host(w);
  switch (event.event) {
    case SDL_WINDOWEVENT_FOCUS_GAINED:
      HostFocusChanged(w, true);
      break;
    case SDL_WINDOWEVENT_FOCUS_LOST:
      if (h->penDown) {  // the button's release will go elsewhere: lift the pen now
        h->penDown = false;
        QueueMessage(w, WM_LBUTTONUP, 0, MakePenPosition(h->penX, h->penY));
      }
      HostFocusChanged(w, false);
      break;
    case SDL_WINDOWEVENT_MINIMIZED:
      w->minimised = true;
      break;
    case SDL_WINDOWEVENT_RESTORED:
      w->minimised = false;
      Render(h);
      break;
    case SDL_WINDOWEVENT_SIZE_CHANGED:
      NoteWindowSize(w);
      Render(h);
      break;
    case SDL_WINDOWEVENT_EXPOSED:
      Render(h);  // the last frame again, without asking the program
      break;
    case SDL_WINDOWEVENT_CLOSE:
      QueueMessage(w, WM_CLOSE, 0, 0);
      break;
    default:
      break;
  }
}

void Translate(const SDL_Event& e) {
  switch (e.type) {
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEMOTION:
    case SDL_MOUSEBUTTONUP:
      TranslatePen(e);
      return;
    case SDL_MOUSEWHEEL: {
      PlatformWindow* w = FromId(e.wheel.windowID);
      if (w == nullptr) return;
      const int turn = static_cast<int>(e.wheel.preciseY * 120);
      QueueMessage(w, WM_MOUSEWHEEL, static_cast<uintptr_t>(static_cast<uint16_t>(turn)) << 16,
                   MakePenPosition(Host(w)->penX, Host(w)->penY));
      return;
    }
    case SDL_KEYDOWN: {
      PlatformWindow* w = FromId(e.key.windowID);
      if (w != nullptr && IsFullScreenKey(e.key)) {
        if (e.key.repeat == 0) ToggleFullScreen(w);
        return;
      }
      int16_t code;
      if (w == nullptr || !KeyCode(e.key.keysym.sym, &code)) return;
      QueueMessage(w, WM_KEYDOWN, static_cast<uint16_t>(code), 1);
      return;
    }
    case SDL_TEXTINPUT: {
      PlatformWindow* w = FromId(e.text.windowID);
      if (w == nullptr) return;
      for (char16_t c : FromUtf8(e.text.text)) QueueMessage(w, WM_CHAR, c, 0);
      return;
    }
    case SDL_WINDOWEVENT:
      TranslateWindowEvent(e.window);
      return;
    case SDL_QUIT:  // interrupted from the terminal: close as the close button would
      QueueCloseToAll();
      return;
    default:
      return;
  }
}

// ---- The backend --------------------------------------------------------------------------------

int Start(const std::string&, std::string* error) {
  SdlState& s = Sdl();
  s = SdlState();
  const char* scale = std::getenv("APEXGRID_SCALE");
  if (scale != nullptr && scale[0] != 0) {
    char* end = nullptr;
    const long value = std::strtol(scale, &end, 10);
    if (*end != 0 || value < 1 || value > kLargestScale) {
      *error = "APEXGRID_SCALE must be a whole number from 1 to " + std::to_string(kLargestScale);
      return 1;
    }
    s.scaleOption = static_cast<int>(value);
  }
  // One application id for both programs; an id the user's environment sets is kept.
  setenv("SDL_VIDEO_X11_WMCLASS", kApplicationId, 0);
  setenv("SDL_VIDEO_WAYLAND_WMCLASS", kApplicationId, 0);
  SDL_SetHint(SDL_HINT_APP_NAME, "Apexgrid");
  SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
  SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
  SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
  // Left to itself SDL falls back to drawing into memory when there is no desktop, and its
  // Wayland probe writes to standard error on the way: a window nobody can see is no window.
  // A driver named in SDL_VIDEODRIVER is taken as asked for.
  const char* driver = std::getenv("SDL_VIDEODRIVER");
  const bool chosen = driver != nullptr && driver[0] != 0;
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  const bool hasX = display != nullptr && display[0] != 0;
  const bool hasWayland = wayland != nullptr && wayland[0] != 0;
  if (!chosen) {
    // Only the desktops that the environment names, so that nothing else is probed.
    std::string drivers = hasX ? "x11" : "";
    if (hasWayland) drivers += drivers.empty() ? "wayland" : ",wayland";
    SDL_SetHint(SDL_HINT_VIDEODRIVER, drivers.c_str());
  }
  const char* why = nullptr;
  if (!chosen && !hasX && !hasWayland) {
    why = "neither DISPLAY nor WAYLAND_DISPLAY is set";
  } else if (SDL_Init(SDL_INIT_VIDEO) != 0) {
    why = SDL_GetError();
  } else if (!chosen && (std::string(SDL_GetCurrentVideoDriver()) == "offscreen" ||
                         std::string(SDL_GetCurrentVideoDriver()) == "dummy")) {
    why = "no desktop answered";
  }
  if (why != nullptr) {
    *error = std::string("can't open a display (") + why + "); set APEXGRID_VIDEO=headless to run without one";
    SDL_Quit();
    return 1;
  }
  s.startTicks = SDL_GetTicks64();
  GXSetPresentHook(Present);
  return 0;
}

void DestroyHost(PlatformWindow* w) {
  HostWindow* h = Host(w);
  if (h == nullptr) return;
  if (h->texture != nullptr) SDL_DestroyTexture(h->texture);
  if (h->renderer != nullptr) SDL_DestroyRenderer(h->renderer);
  if (h->window != nullptr) SDL_DestroyWindow(h->window);
  delete h;
  w->host = nullptr;
  std::vector<PlatformWindow*>& list = Sdl().windows;
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i] == w) {
      list.erase(list.begin() + static_cast<long>(i));
      break;
    }
  }
}

void Stop() {
  GXSetPresentHook(nullptr);
  while (!Sdl().windows.empty()) DestroyHost(Sdl().windows.back());
  SDL_Quit();
  Sdl() = SdlState();
}

uint64_t Now() { return SDL_GetTicks64() - Sdl().startTicks; }

// APEXGRID_SCALE; else the scale the player left the window at, as long as it still fits the
// desktop; else the largest that fits.
int ChooseScale(int width, int height) {
  if (Sdl().scaleOption > 0) return Sdl().scaleOption;
  SDL_Rect usable;
  if (SDL_GetDisplayUsableBounds(0, &usable) != 0) return 1;
  const int fitW = usable.w / width;
  const int fitH = (usable.h - kDecorationAllowance) / height;
  const int fit = std::max(1, std::min(std::min(fitW, fitH), kLargestScale));
  const int remembered = RememberedWindowState().scale;
  return remembered > 0 ? std::min(remembered, fit) : fit;
}

void SetIcon(HostWindow* h, const WindowIcon* icon) {
  if (icon == nullptr || icon->pixels == nullptr || icon->width <= 0 || icon->height <= 0) return;
  SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormatFrom(
      const_cast<uint32_t*>(icon->pixels), icon->width, icon->height, 32, icon->width * 4, SDL_PIXELFORMAT_ARGB8888);
  if (surface == nullptr) return;
  SDL_SetWindowIcon(h->window, surface);
  SDL_FreeSurface(surface);
}

int CreateHostWindow(PlatformWindow* w) {
  const GXDisplayProperties p = GXGetDisplayProperties();
  const int width = p.cxWidth > 0 ? static_cast<int>(p.cxWidth) : 240;
  const int height = p.cyHeight > 0 ? static_cast<int>(p.cyHeight) : 320;
  const int scale = ChooseScale(width, height);
  const std::string title = ToUtf8(w->title);
  auto* h = new HostWindow;
  h->scale = scale;
  const uint32_t fullScreen = w->fullScreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0;
  h->window = SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, width * scale,
                               height * scale, SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE | fullScreen);
  if (h->window != nullptr) {
    h->renderer = SDL_CreateRenderer(h->window, -1, 0);
    if (h->renderer == nullptr) h->renderer = SDL_CreateRenderer(h->window, -1, SDL_RENDERER_SOFTWARE);
  }
  if (h->window == nullptr || h->renderer == nullptr) {
    if (h->window != nullptr) SDL_DestroyWindow(h->window);
    delete h;
    return 1;
  }
  SetIcon(h, w->icon);
  w->host = h;
  Sdl().windows.push_back(w);
  return 0;
}

// The desktop's own resolution, without changing the video mode; the screen is drawn at the
// largest whole scale that fits it (ScreenPlace). Back in a window, the desktop gives the window
// its earlier size again.
void SetFullScreen(PlatformWindow* w) {
  HostWindow* h = Host(w);
  if (h == nullptr) return;
  SDL_SetWindowFullscreen(h->window, w->fullScreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
  Render(h);
}

void ShowHostWindow(PlatformWindow* w, bool show) {
  HostWindow* h = Host(w);
  if (h == nullptr) return;
  if (show) {
    SDL_ShowWindow(h->window);
    Render(h);
  } else {
    SDL_HideWindow(h->window);
  }
}

void SetMinimised(PlatformWindow* w, bool minimised) {
  HostWindow* h = Host(w);
  if (h == nullptr) return;
  if (minimised) {
    SDL_MinimizeWindow(h->window);
  } else {
    SDL_RestoreWindow(h->window);
  }
}

void Raise(PlatformWindow* w) {
  HostWindow* h = Host(w);
  if (h == nullptr) return;
  w->minimised = false;
  SDL_RestoreWindow(h->window);
  SDL_RaiseWindow(h->window);
}

void Poll() {
  SDL_Event e;
  while (SDL_PollEvent(&e)) Translate(e);
}

// Waits in short naps rather than in SDL_WaitEventTimeout: SDL wakes that wait by sending an
// event to the window over a second X connection, and when the window is destroyed right after
// (the close key), the X server may take the two connections' requests in the other order and
// end the program with a BadWindow error as it exits.
int Wait(uint64_t timerDue) {
  const uint64_t start = Now();
  const uint64_t end = std::min(timerDue, start + kLongestWait);
  SDL_Event e;
  for (;;) {
    if (SDL_PollEvent(&e)) {
      Translate(e);
      return 0;
    }
    const uint64_t now = Now();
    if (now >= end || ThreadMessagesWaiting()) return 0;
    SDL_Delay(static_cast<uint32_t>(std::min<uint64_t>(end - now, kNap)));
  }
}

void ShowMessageBox(PlatformWindow* owner, const std::string& text, const std::string& caption) {
  HostWindow* h = Host(owner);
  if (SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_INFORMATION, caption.c_str(), text.c_str(),
                               h != nullptr ? h->window : nullptr) != 0) {
    ReportLine("MESSAGE " + OneLine(caption) + " | " + OneLine(text));
  }
}

// The desktop's endpoints are the user's own, whatever backend runs the programs beside them.
std::string InstanceScope() { return std::string(); }

void SetCaption(PlatformWindow* w, const std::string& caption) {
  HostWindow* h = Host(w);
  if (h == nullptr) return;
  // Xlib takes a caption beyond ASCII (a computer driver's "Apexgrid \u2013 ...") only from a
  // program whose characters are UTF-8, and otherwise keeps the old name; the program's own
  // character type stays as it was.
  const char* before = std::setlocale(LC_CTYPE, nullptr);
  const std::string kept = before != nullptr ? before : "C";
  if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) std::setlocale(LC_CTYPE, "");
  SDL_SetWindowTitle(h->window, caption.c_str());
  std::setlocale(LC_CTYPE, kept.c_str());
}

}  // namespace

const Backend kSdlBackend = {
    Start, Stop, Now,  CreateHostWindow, DestroyHost,  ShowHostWindow, SetMinimised, SetFullScreen, SetCaption,
    Raise, Poll, Wait, ShowMessageBox,   SpawnProgram, InstanceScope,  "apexgrid.",
};
