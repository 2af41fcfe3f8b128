// The dialog in a desktop window: the device screen at the game window's whole scale, the mouse
// as the pen, the arrow keys for the list.
#include <SDL.h>

#include <algorithm>

#include "platform/core.h"
#include "platform/dialog_canvas.h"
#include "platform/text.h"

namespace {

// Longest nap between looks at the desktop's events while nothing happens.
constexpr uint32_t kNap = 5;
// Frames drawn after the last event, spaced like a display's refresh, so that what an action
// changes (a hover, a scroll) settles on the screen.
constexpr int kSettleFrames = 2;
constexpr uint64_t kFrameInterval = 16;

struct SdlDialog {
  const DialogProgram* program = nullptr;
  DialogCanvas* canvas = nullptr;
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  SDL_Texture* texture = nullptr;
  int width = 0;
  int height = 0;
  uint64_t lastFrame = 0;
  bool penDown = false;
};

// The screen's place in the window's pixels: centred, at the largest whole scale that fits (the
// window normally has exactly that size; a resized one keeps whole pixels).
SDL_Rect ScreenPlace(const SdlDialog& d, int* scale) {
  int outW = 0, outH = 0;
  SDL_GetRendererOutputSize(d.renderer, &outW, &outH);
  *scale = std::max(1, std::min(outW / d.width, outH / d.height));
  return SDL_Rect{(outW - d.width * *scale) / 2, (outH - d.height * *scale) / 2, d.width * *scale,
                  d.height * *scale};
}

// A window position (in the desktop's units) in device pixels; outside the screen it stays
// outside, so that nothing there is hovered.
void DevicePosition(const SdlDialog& d, int x, int y, int* deviceX, int* deviceY) {
  int winW = 1, winH = 1, outW = 1, outH = 1;
  SDL_GetWindowSize(d.window, &winW, &winH);
  SDL_GetRendererOutputSize(d.renderer, &outW, &outH);
  const long pixelX = static_cast<long>(x) * outW / std::max(1, winW);
  const long pixelY = static_cast<long>(y) * outH / std::max(1, winH);
  int scale;
  const SDL_Rect place = ScreenPlace(d, &scale);
  auto cell = [scale](long pixel, long origin) {
    const long v = pixel - origin;
    return static_cast<int>(v < 0 ? -((-v + scale - 1) / scale) : v / scale);
  };
  *deviceX = cell(pixelX, place.x);
  *deviceY = cell(pixelY, place.y);
}

void Show(SdlDialog* d) {
  int width, height, pitch;
  const uint16_t* pixels = CanvasPixels(d->canvas, &width, &height, &pitch);
  SDL_UpdateTexture(d->texture, nullptr, pixels, pitch * 2);
  SDL_SetRenderDrawColor(d->renderer, 0, 0, 0, 255);
  SDL_RenderClear(d->renderer);
  int scale;
  const SDL_Rect place = ScreenPlace(*d, &scale);
  SDL_RenderCopy(d->renderer, d->texture, nullptr, &place);
  SDL_RenderPresent(d->renderer);
}

void Frame(SdlDialog* d) {
  const uint64_t now = SDL_GetTicks64();
  DrawDialogFrame(d->canvas, *d->program, (now - d->lastFrame) / 1000.0);
  d->lastFrame = now;
  Show(d);
}

// Hands one desktop event to the dialog; true when the dialog should draw a frame for it.
bool Translate(SdlDialog* d, const SDL_Event& e) {
  const uint32_t ours = SDL_GetWindowID(d->window);
  switch (e.type) {
    case SDL_MOUSEMOTION: {
      if (e.motion.windowID != ours) return false;
      int x, y;
      DevicePosition(*d, e.motion.x, e.motion.y, &x, &y);
      DialogPen(x, y, d->penDown);
      return true;
    }
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
      if (e.button.windowID != ours || e.button.button != SDL_BUTTON_LEFT) return false;
      d->penDown = e.type == SDL_MOUSEBUTTONDOWN;
      int x, y;
      DevicePosition(*d, e.button.x, e.button.y, &x, &y);
      DialogPen(x, y, d->penDown);
      return true;
    }
    case SDL_MOUSEWHEEL:
      if (e.wheel.windowID != ours) return false;
      DialogWheel(e.wheel.preciseY);
      return true;
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
      if (e.key.windowID != ours) return false;
      const int key = e.key.keysym.sym == SDLK_UP ? kDialogKeyUp
                      : e.key.keysym.sym == SDLK_DOWN ? kDialogKeyDown : 0;
      if (key == 0) return false;
      DialogKey(key, e.type == SDL_KEYDOWN);
      return true;
    }
    case SDL_WINDOWEVENT:
      if (e.window.windowID != ours) return false;
      switch (e.window.event) {
        case SDL_WINDOWEVENT_CLOSE:
          d->program->close();
          return true;
        case SDL_WINDOWEVENT_LEAVE:
          if (!d->penDown) DialogPenAway();
          return true;
        case SDL_WINDOWEVENT_FOCUS_LOST:
          // The button's release will go elsewhere: lift the pen now, away from everything.
          d->penDown = false;
          DialogPenAway();
          return true;
        case SDL_WINDOWEVENT_EXPOSED:
        case SDL_WINDOWEVENT_SIZE_CHANGED:
        case SDL_WINDOWEVENT_RESTORED:
          Show(d);
          return false;
        default:
          return false;
      }
    case SDL_QUIT:  // interrupted from the terminal: leave as by the close button
      d->program->close();
      return true;
    default:
      return false;
  }
}

void Destroy(SdlDialog* d) {
  if (d->texture != nullptr) SDL_DestroyTexture(d->texture);
  if (d->renderer != nullptr) SDL_DestroyRenderer(d->renderer);
  if (d->window != nullptr) SDL_DestroyWindow(d->window);
}

}  // namespace

int RunSdlDialog(const std::u16string& title, const DialogProgram& program, DialogCanvas* canvas,
                 std::string* error) {
  SdlDialog d;
  d.program = &program;
  d.canvas = canvas;
  int pitch;
  CanvasPixels(canvas, &d.width, &d.height, &pitch);
  const int scale = SdlScreenScale(d.width, d.height);
  d.window = SDL_CreateWindow(ToUtf8(title).c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                              d.width * scale, d.height * scale,
                              SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE);
  if (d.window != nullptr) {
    d.renderer = SDL_CreateRenderer(d.window, -1, 0);
    if (d.renderer == nullptr) d.renderer = SDL_CreateRenderer(d.window, -1, SDL_RENDERER_SOFTWARE);
  }
  if (d.renderer != nullptr) {
    d.texture = SDL_CreateTexture(d.renderer, SDL_PIXELFORMAT_RGB565, SDL_TEXTUREACCESS_STREAMING,
                                  d.width, d.height);
  }
  if (d.texture == nullptr) {
    *error = std::string("can't open the dialog's window (") + SDL_GetError() + ")";
    Destroy(&d);
    return 1;
  }
  SDL_SetTextureScaleMode(d.texture, SDL_ScaleModeNearest);

  // Laid out before it appears: ImGui places its windows in the first frame.
  d.lastFrame = SDL_GetTicks64();
  Frame(&d);
  Frame(&d);
  SDL_ShowWindow(d.window);
  SDL_RaiseWindow(d.window);
  Show(&d);

  // Every event that changes what the dialog sees gets a frame of its own, so that a quick
  // click still shows ImGui a press and a release. Waiting is done in short naps rather than
  // SDL's own wait, as the game's window does.
  int settle = 0;
  while (!program.ended()) {
    SDL_Event e;
    bool any = false;
    while (!program.ended() && SDL_PollEvent(&e)) {
      if (Translate(&d, e)) {
        Frame(&d);
        any = true;
      }
    }
    if (program.ended()) break;
    if (any) {
      settle = kSettleFrames;
    } else if (settle > 0 && SDL_GetTicks64() - d.lastFrame >= kFrameInterval) {
      Frame(&d);
      --settle;
    } else {
      SDL_Delay(kNap);
    }
  }
  Destroy(&d);
  return 0;
}
