// The selector's dialog: Dear ImGui painted on a device-sized canvas and hosted in a platform
// window, on either backend.
//
// The canvas is painted with SDL's software renderer, which needs no display, in the device
// screen's own pixel format; each frame is then copied to the display's frame buffer.
#include "platform/dialog.h"

#include <SDL.h>
#include <imgui.h>

#include <cfloat>
#include <cstring>

#include "platform/gx.h"
#include "platform/window.h"

namespace {

// ImGui's key indices for the keys the dialogs answer to (io.KeyMap holds them): the list's arrows,
// and a text field's backspace and Enter, which submits its form.
constexpr int kKeyIndexUp = 1;
constexpr int kKeyIndexDown = 2;
constexpr int kKeyIndexBackspace = 3;
constexpr int kKeyIndexEnter = 4;
// Each frame moves ImGui's clock on by at least this much, so that time never stands still for
// it even while a headless run's virtual clock does.
constexpr double kFrameSeconds = 0.001;

struct DialogHost {
  const DialogProgram* program = nullptr;
  ImGuiContext* context = nullptr;
  SDL_Surface* canvas = nullptr;
  SDL_Renderer* painter = nullptr;
  SDL_Texture* fontTexture = nullptr;
  std::string error;       // why the window refused to be made
  uint32_t lastFrame = 0;  // GetTickCount at the last frame
  int penX = -1;
  int penY = -1;
  bool penDown = false;
};

DialogHost host;

// ---- The canvas ---------------------------------------------------------------------------------

// What ImGui's draw lists say, painted with the software renderer: each command is a run of
// textured triangles inside a clip rectangle.
void Paint(const ImDrawData* data) {
  SDL_Renderer* painter = host.painter;
  SDL_RenderSetClipRect(painter, nullptr);
  SDL_SetRenderDrawColor(painter, 0, 0, 0, 255);
  SDL_RenderClear(painter);
  const int width = host.canvas->w;
  const int height = host.canvas->h;
  for (int n = 0; n < data->CmdListsCount; ++n) {
    const ImDrawList* list = data->CmdLists[n];
    for (const ImDrawCmd& command : list->CmdBuffer) {
      if (command.UserCallback != nullptr) {
        if (command.UserCallback != ImDrawCallback_ResetRenderState) command.UserCallback(list, &command);
        continue;
      }
      const float x0 = command.ClipRect.x - data->DisplayPos.x;
      const float y0 = command.ClipRect.y - data->DisplayPos.y;
      const float x1 = command.ClipRect.z - data->DisplayPos.x;
      const float y1 = command.ClipRect.w - data->DisplayPos.y;
      const int left = x0 < 0 ? 0 : static_cast<int>(x0);
      const int top = y0 < 0 ? 0 : static_cast<int>(y0);
      const int right = x1 > width ? width : static_cast<int>(x1);
      const int bottom = y1 > height ? height : static_cast<int>(y1);
      if (right <= left || bottom <= top || command.ElemCount == 0) continue;
      const SDL_Rect clip{left, top, right - left, bottom - top};
      SDL_RenderSetClipRect(painter, &clip);
      const ImDrawVert* vertices = list->VtxBuffer.Data + command.VtxOffset;
      // ImGui's packed colour is R, G, B, A in memory, as SDL_Color is.
      SDL_RenderGeometryRaw(
          painter, static_cast<SDL_Texture*>(command.GetTexID()), &vertices->pos.x, sizeof(ImDrawVert),
          reinterpret_cast<const SDL_Color*>(&vertices->col), sizeof(ImDrawVert), &vertices->uv.x, sizeof(ImDrawVert),
          list->VtxBuffer.Size - static_cast<int>(command.VtxOffset), list->IdxBuffer.Data + command.IdxOffset,
          static_cast<int>(command.ElemCount), sizeof(ImDrawIdx));
    }
  }
  SDL_RenderFlush(painter);
}

void CloseCanvas() {
  if (host.fontTexture != nullptr) SDL_DestroyTexture(host.fontTexture);
  if (host.painter != nullptr) SDL_DestroyRenderer(host.painter);
  if (host.canvas != nullptr) SDL_FreeSurface(host.canvas);
  if (host.context != nullptr) ImGui::DestroyContext(host.context);
  const DialogProgram* program = host.program;
  host = DialogHost();
  host.program = program;
}

// Makes the ImGui context (program.setUp adds the style and fonts), builds the font atlas, and
// makes the device-sized canvas. False with the reason in host.error when it can't.
bool OpenCanvas() {
  const GXDisplayProperties device = GXGetDisplayProperties();
  const int width = device.cxWidth > 0 ? static_cast<int>(device.cxWidth) : 240;
  const int height = device.cyHeight > 0 ? static_cast<int>(device.cyHeight) : 320;
  host.context = ImGui::CreateContext();
  ImGuiIO& io = ImGui::GetIO();
  io.IniFilename = nullptr;  // no settings and no files of its own
  io.LogFilename = nullptr;
  io.DisplaySize = ImVec2(static_cast<float>(width), static_cast<float>(height));
  io.KeyMap[ImGuiKey_UpArrow] = kKeyIndexUp;
  io.KeyMap[ImGuiKey_DownArrow] = kKeyIndexDown;
  io.KeyMap[ImGuiKey_Backspace] = kKeyIndexBackspace;
  io.KeyMap[ImGuiKey_Enter] = kKeyIndexEnter;
  io.MousePos = ImVec2(-FLT_MAX, -FLT_MAX);
  if (host.program->setUp) host.program->setUp();

  unsigned char* atlas = nullptr;
  int atlasWidth = 0, atlasHeight = 0;
  io.Fonts->GetTexDataAsRGBA32(&atlas, &atlasWidth, &atlasHeight);
  host.canvas = SDL_CreateRGBSurfaceWithFormat(0, width, height, 16, SDL_PIXELFORMAT_RGB565);
  if (host.canvas != nullptr) host.painter = SDL_CreateSoftwareRenderer(host.canvas);
  if (host.painter != nullptr && atlas != nullptr) {
    host.fontTexture =
        SDL_CreateTexture(host.painter, SDL_PIXELFORMAT_RGBA32, SDL_TEXTUREACCESS_STATIC, atlasWidth, atlasHeight);
  }
  if (host.fontTexture == nullptr) {
    host.error = std::string("can't make the dialog's canvas (") + SDL_GetError() + ")";
    return false;
  }
  SDL_UpdateTexture(host.fontTexture, nullptr, atlas, atlasWidth * 4);
  SDL_SetTextureBlendMode(host.fontTexture, SDL_BLENDMODE_BLEND);
  SDL_SetTextureScaleMode(host.fontTexture, SDL_ScaleModeNearest);
  io.Fonts->SetTexID(static_cast<ImTextureID>(host.fontTexture));
  return true;
}

// The canvas onto the screen, pixel (x, y) to pixel (x, y) whatever the frame buffer's pitches.
void PresentCanvas() {
  auto* frame = static_cast<unsigned char*>(GXBeginDraw());
  if (frame == nullptr) return;
  const GXDisplayProperties p = GXGetDisplayProperties();
  const int width = static_cast<int>(p.cxWidth) < host.canvas->w ? static_cast<int>(p.cxWidth) : host.canvas->w;
  const int height = static_cast<int>(p.cyHeight) < host.canvas->h ? static_cast<int>(p.cyHeight) : host.canvas->h;
  for (int y = 0; y < height; ++y) {
    const auto* row = reinterpret_cast<const uint16_t*>(static_cast<const unsigned char*>(host.canvas->pixels) +
                                                        static_cast<long>(y) * host.canvas->pitch);
    for (int x = 0; x < width; ++x) {
      std::memcpy(frame + static_cast<long long>(x) * p.cbxPitch + static_cast<long long>(y) * p.cbyPitch, &row[x],
                  sizeof row[x]);
    }
  }
  GXEndDraw();
}

// One frame with the input as it stands: the program's ImGui calls, painted and shown.
void Frame() {
  ImGuiIO& io = ImGui::GetIO();
  const uint32_t now = GetTickCount();
  io.DeltaTime = static_cast<float>((now - host.lastFrame) / 1000.0 + kFrameSeconds);
  host.lastFrame = now;
  ImGui::NewFrame();
  if (host.program->draw) host.program->draw();
  ImGui::Render();
  Paint(ImGui::GetDrawData());
  // The wheel is a movement, not a state: it counts for one frame only.
  io.MouseWheel = 0;
  PresentCanvas();
}

// ---- Input --------------------------------------------------------------------------------------

// The pen goes to (x, y) first and only then changes, each step a frame of its own.
void Pen(int x, int y, bool down) {
  ImGuiIO& io = ImGui::GetIO();
  if (x != host.penX || y != host.penY) {
    host.penX = x;
    host.penY = y;
    io.MousePos = ImVec2(static_cast<float>(x), static_cast<float>(y));
    Frame();
  }
  if (down != host.penDown && !host.program->ended()) {
    host.penDown = down;
    io.MouseDown[0] = down;
    Frame();
  }
}

// A key press and its release, a frame each; the dialogs have no use for keys other than the
// arrows up and down and, in a text field, backspace and Enter (the device's start key, as the
// desktop's Enter arrives).
bool Key(int16_t code) {
  const int key = code == kKeyUp              ? kKeyIndexUp
                  : code == kKeyDown          ? kKeyIndexDown
                  : code == kHostKeyBackspace ? kKeyIndexBackspace
                  : code == kKeyStart         ? kKeyIndexEnter
                                              : 0;
  if (key == 0) return false;
  ImGui::GetIO().KeysDown[key] = true;
  Frame();
  ImGui::GetIO().KeysDown[key] = false;
  Frame();
  return true;
}

// Carries out a message; true when it changed what the dialog sees.
bool Handle(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  switch (message) {
    case WM_LBUTTONDOWN:
    case WM_MOUSEMOVE:
    case WM_LBUTTONUP:
      Pen(PenX(lParam), PenY(lParam), message == WM_LBUTTONUP ? false : message == WM_LBUTTONDOWN || host.penDown);
      return true;
    case WM_MOUSEWHEEL:
      ImGui::GetIO().MouseWheel += static_cast<int16_t>(wParam >> 16) / 120.0f;
      Frame();
      return true;
    case WM_KEYDOWN:
      return Key(static_cast<int16_t>(wParam));
    case WM_CHAR:
      // A text field takes the character in the next frame; nothing else reads it.
      if (wParam < 0x20) return false;
      ImGui::GetIO().AddInputCharacterUTF16(static_cast<ImWchar16>(wParam));
      Frame();
      return true;
    case WM_SCRIPTCOMMAND: {
      // NOLINTNEXTLINE(performance-no-int-to-ptr): the posted message carries the event's address
      const auto* event = reinterpret_cast<const ScriptEvent*>(lParam);
      std::string error;
      if (host.program->scriptLine(*event, &error) != 0) {
        ReportScriptError(event->line, error);
        return false;
      }
      Frame();
      return true;
    }
    default:
      return host.program->message && host.program->message(message, wParam, lParam);
  }
}

intptr_t DialogProc(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  switch (message) {
    case WM_CREATE:
      if (GXOpenDisplay(window, GX_FULLSCREEN) == 0) {
        host.error = "can't open the screen";
        return -1;
      }
      if (!OpenCanvas()) return -1;
      if (host.program->opened) host.program->opened(window);
      // Laid out before it appears: ImGui places its windows in the first frame and shows them
      // settled from the second.
      host.lastFrame = GetTickCount();
      Frame();
      Frame();
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_CLOSE:
      host.program->close();
      break;
    default:
      if (!Handle(message, wParam, lParam)) return DefWindowProc(window, message, wParam, lParam);
      // What an action changes (a scroll brought about by a selection) shows in the frame after
      // it: one more, so that the screen has settled before anything else happens.
      if (!host.program->ended()) Frame();
      break;
  }
  // Whatever ended the dialog closes its window, which ends the loop.
  if (host.program->ended()) DestroyWindow(window);
  return 0;
}

}  // namespace

int RunDialog(const std::u16string& title, const DialogProgram& program, std::string* error) {
  host = DialogHost();
  host.program = &program;
  WindowClass dialogClass;
  dialogClass.windowProc = DialogProc;
  dialogClass.className = u"Dialog";
  dialogClass.icon = program.icon;
  RegisterClass(&dialogClass);
  WindowHandle window =
      CreateWindow(u"Dialog", title.c_str(), WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT);
  if (window == nullptr) {
    if (error != nullptr) *error = host.error.empty() ? "can't open the dialog's window" : host.error;
    CloseCanvas();
    GXCloseDisplay();
    return 1;
  }
  SetForegroundWindow(window);
  Message message;
  while (GetMessage(&message)) {
    TranslateMessage(&message);
    DispatchMessage(&message);
  }
  CloseCanvas();
  GXCloseDisplay();
  return 0;
}
