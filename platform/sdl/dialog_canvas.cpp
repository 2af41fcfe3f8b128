// The dialog's ImGui context, painted on a device-sized canvas through SDL's software renderer.
//
// Both backends paint the same way, so a headless shot shows exactly what the window shows. The
// software renderer needs no display, and the canvas has the device screen's own pixel format.
#include "platform/dialog_canvas.h"

#include <SDL.h>
#include <imgui.h>

#include <cfloat>

#include "platform/gx.h"
#include "platform/png.h"

struct DialogCanvas {
  ImGuiContext* context = nullptr;
  SDL_Surface* screen = nullptr;
  SDL_Renderer* painter = nullptr;
  SDL_Texture* fontTexture = nullptr;
};

namespace {

// What ImGui's draw lists say, painted with the software renderer: each command is a run of
// textured triangles inside a clip rectangle.
void Paint(DialogCanvas* canvas, const ImDrawData* data) {
  SDL_Renderer* painter = canvas->painter;
  SDL_RenderSetClipRect(painter, nullptr);
  SDL_SetRenderDrawColor(painter, 0, 0, 0, 255);
  SDL_RenderClear(painter);
  const int width = canvas->screen->w;
  const int height = canvas->screen->h;
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
      SDL_RenderGeometryRaw(painter, static_cast<SDL_Texture*>(command.GetTexID()),
                            &vertices->pos.x, sizeof(ImDrawVert),
                            reinterpret_cast<const SDL_Color*>(&vertices->col), sizeof(ImDrawVert),
                            &vertices->uv.x, sizeof(ImDrawVert),
                            list->VtxBuffer.Size - static_cast<int>(command.VtxOffset),
                            list->IdxBuffer.Data + command.IdxOffset,
                            static_cast<int>(command.ElemCount), sizeof(ImDrawIdx));
    }
  }
  SDL_RenderFlush(painter);
}

}  // namespace

DialogCanvas* OpenDialogCanvas(const DialogProgram& program, std::string* error) {
  const GXDisplayProperties device = GXGetDisplayProperties();
  const int width = device.cxWidth > 0 ? static_cast<int>(device.cxWidth) : 240;
  const int height = device.cyHeight > 0 ? static_cast<int>(device.cyHeight) : 320;
  auto* canvas = new DialogCanvas;
  canvas->context = ImGui::CreateContext();
  ImGuiIO& io = ImGui::GetIO();
  io.IniFilename = nullptr;  // no settings and no files of its own
  io.LogFilename = nullptr;
  io.DisplaySize = ImVec2(static_cast<float>(width), static_cast<float>(height));
  io.KeyMap[ImGuiKey_UpArrow] = kDialogKeyUp;
  io.KeyMap[ImGuiKey_DownArrow] = kDialogKeyDown;
  io.MousePos = ImVec2(-FLT_MAX, -FLT_MAX);
  if (program.setUp) program.setUp();

  unsigned char* atlas = nullptr;
  int atlasWidth = 0, atlasHeight = 0;
  io.Fonts->GetTexDataAsRGBA32(&atlas, &atlasWidth, &atlasHeight);
  canvas->screen = SDL_CreateRGBSurfaceWithFormat(0, width, height, 16, SDL_PIXELFORMAT_RGB565);
  if (canvas->screen != nullptr) canvas->painter = SDL_CreateSoftwareRenderer(canvas->screen);
  if (canvas->painter != nullptr && atlas != nullptr) {
    canvas->fontTexture = SDL_CreateTexture(canvas->painter, SDL_PIXELFORMAT_RGBA32,
                                            SDL_TEXTUREACCESS_STATIC, atlasWidth, atlasHeight);
  }
  if (canvas->fontTexture == nullptr) {
    *error = std::string("can't make the dialog's canvas (") + SDL_GetError() + ")";
    CloseDialogCanvas(canvas);
    return nullptr;
  }
  SDL_UpdateTexture(canvas->fontTexture, nullptr, atlas, atlasWidth * 4);
  SDL_SetTextureBlendMode(canvas->fontTexture, SDL_BLENDMODE_BLEND);
  SDL_SetTextureScaleMode(canvas->fontTexture, SDL_ScaleModeNearest);
  io.Fonts->SetTexID(static_cast<ImTextureID>(canvas->fontTexture));
  return canvas;
}

void CloseDialogCanvas(DialogCanvas* canvas) {
  if (canvas == nullptr) return;
  if (canvas->fontTexture != nullptr) SDL_DestroyTexture(canvas->fontTexture);
  if (canvas->painter != nullptr) SDL_DestroyRenderer(canvas->painter);
  if (canvas->screen != nullptr) SDL_FreeSurface(canvas->screen);
  if (canvas->context != nullptr) ImGui::DestroyContext(canvas->context);
  delete canvas;
}

void DrawDialogFrame(DialogCanvas* canvas, const DialogProgram& program, double seconds) {
  ImGuiIO& io = ImGui::GetIO();
  io.DeltaTime = seconds > 0.001 ? static_cast<float>(seconds) : 0.001f;
  ImGui::NewFrame();
  if (program.draw) program.draw();
  ImGui::Render();
  Paint(canvas, ImGui::GetDrawData());
  // The wheel is a movement, not a state: it counts for one frame only.
  io.MouseWheel = 0;
}

const uint16_t* CanvasPixels(const DialogCanvas* canvas, int* width, int* height, int* pitch) {
  *width = canvas->screen->w;
  *height = canvas->screen->h;
  *pitch = canvas->screen->pitch / 2;
  return static_cast<const uint16_t*>(canvas->screen->pixels);
}

int WriteCanvasPng(const DialogCanvas* canvas, const std::string& hostPath) {
  int width, height, pitch;
  const uint16_t* pixels = CanvasPixels(canvas, &width, &height, &pitch);
  RgbImage image;
  image.width = static_cast<uint32_t>(width);
  image.height = static_cast<uint32_t>(height);
  image.rgb.resize(static_cast<size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t* out = &image.rgb[(static_cast<size_t>(y) * width + x) * 3];
      ExpandPixel(pixels[static_cast<size_t>(y) * pitch + x], true, &out[0], &out[1], &out[2]);
    }
  }
  return WritePng(hostPath, image);
}

// ---- Input --------------------------------------------------------------------------------------

void DialogPen(int x, int y, bool down) {
  ImGuiIO& io = ImGui::GetIO();
  io.MousePos = ImVec2(static_cast<float>(x), static_cast<float>(y));
  io.MouseDown[0] = down;
}

void DialogPenAway() {
  ImGuiIO& io = ImGui::GetIO();
  io.MousePos = ImVec2(-FLT_MAX, -FLT_MAX);
  io.MouseDown[0] = false;
}

void DialogWheel(float steps) { ImGui::GetIO().MouseWheel += steps; }

void DialogKey(int key, bool down) {
  if (key == kDialogKeyUp || key == kDialogKeyDown) ImGui::GetIO().KeysDown[key] = down;
}
