// Apexpick's dialog drawn with Dear ImGui, in the hand-held's plain grey dialog look.
#include "selector/dialog_view.h"

#include <imgui.h>
#include <imgui_freetype.h>

#include <string>
#include <vector>

#include "platform/text.h"
#include "selector/dialog_layout.h"

const char kMoreCircuitsNote[] = "(only the first 1000 are listed)";

namespace {

// ---- Colours ------------------------------------------------------------------------------------

constexpr ImU32 kDesktop = IM_COL32(0, 128, 128, 255);
constexpr ImU32 kFace = IM_COL32(192, 192, 192, 255);
constexpr ImU32 kLight = IM_COL32(255, 255, 255, 255);
constexpr ImU32 kShadow = IM_COL32(128, 128, 128, 255);
constexpr ImU32 kEdge = IM_COL32(0, 0, 0, 255);
constexpr ImU32 kText = IM_COL32(0, 0, 0, 255);
constexpr ImU32 kCaption = IM_COL32(0, 0, 128, 255);
constexpr ImU32 kCaptionText = IM_COL32(255, 255, 255, 255);
constexpr ImU32 kListBackground = IM_COL32(255, 255, 255, 255);
constexpr ImU32 kHighlight = IM_COL32(0, 0, 128, 255);
constexpr ImU32 kHighlightText = IM_COL32(255, 255, 255, 255);
constexpr ImU32 kNoteText = IM_COL32(128, 128, 128, 255);
constexpr ImU32 kScrollTrack = IM_COL32(224, 224, 224, 255);

// ---- Fonts --------------------------------------------------------------------------------------

// The dialog font: a sans serif drawn without smoothing, as the hand-held drew it, at the height
// of its 8-point font. The caption's title and OK are bold.
constexpr float kFontPixels = 13.0f;

const char kRegularFont[] = APEXGRID_FONT_FOLDER "/LiberationSans-Regular.ttf";
const char kBoldFont[] = APEXGRID_FONT_FOLDER "/LiberationSans-Bold.ttf";

// The replacement character, drawn here: the font has none. A diamond with the question mark cut
// out of it, standing on the baseline as a capital does.
constexpr ImWchar kReplacement = 0xFFFD;
const char* const kReplacementGlyph[] = {
    ".....#.....",  //
    "....###....",  //
    "...#...#...",  //
    "..#####.#..",  //
    ".####.####.",  //
    "#####.#####",  //
    ".#########.",  //
    "..###.###..",  //
    "...#####...",  //
    "....###....",  //
    ".....#.....",  //
};
constexpr int kReplacementSize = 11;
constexpr float kReplacementTop = 2;

ImFont* regularFont = nullptr;
ImFont* boldFont = nullptr;

bool FileExists(const char* path) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return false;
  std::fclose(file);
  return true;
}

ImFont* LoadFont(const char* path, const ImWchar* glyphs) {
  ImGuiIO& io = ImGui::GetIO();
  ImFontConfig config;
  config.FontBuilderFlags = ImGuiFreeTypeBuilderFlags_Monochrome | ImGuiFreeTypeBuilderFlags_MonoHinting;
  if (FileExists(path)) return io.Fonts->AddFontFromFileTTF(path, kFontPixels, &config, glyphs);
  // Without the font package the dialog still works, in ImGui's own small font.
  ImFontConfig fallback;
  fallback.SizePixels = kFontPixels;
  return io.Fonts->AddFontDefault(&fallback);
}

// The glyphs to load: the dialog's own text, and every character of the names listed that the
// font has (the rest is drawn as the replacement character). A name may hold any letter, and the
// atlas holds only the ones in use.
const ImWchar* GlyphsFor(const std::vector<std::u16string>& names) {
  static ImVector<ImWchar> glyphs;
  ImFontGlyphRangesBuilder builder;
  builder.AddRanges(ImGui::GetIO().Fonts->GetGlyphRangesDefault());
  for (const std::u16string& name : names) {
    for (char16_t c : name) {
      if (c >= 0x20 && (c < 0xD800 || c > 0xDFFF) && c != kReplacement) builder.AddChar(static_cast<ImWchar>(c));
    }
  }
  glyphs.clear();
  builder.BuildRanges(&glyphs);
  return glyphs.Data;
}

// Builds the atlas and draws the replacement character into it; the host then uploads it as it is.
void DrawReplacementGlyph(int rectangle) {
  ImFontAtlas* atlas = ImGui::GetIO().Fonts;
  unsigned char* pixels = nullptr;
  int width = 0, height = 0;
  atlas->Build();
  atlas->GetTexDataAsAlpha8(&pixels, &width, &height);
  const ImFontAtlasCustomRect* r = atlas->GetCustomRectByIndex(rectangle);
  if (pixels == nullptr || r->X + kReplacementSize > width || r->Y + kReplacementSize > height) return;
  for (int y = 0; y < kReplacementSize; ++y) {
    for (int x = 0; x < kReplacementSize; ++x) {
      pixels[(r->Y + y) * width + r->X + x] = kReplacementGlyph[y][x] == '#' ? 0xFF : 0x00;
    }
  }
}

// ---- Drawing helpers ----------------------------------------------------------------------------

ImVec2 TopLeft(const PixelRect& r) { return ImVec2(static_cast<float>(r.x), static_cast<float>(r.y)); }
ImVec2 BottomRight(const PixelRect& r) { return ImVec2(static_cast<float>(r.Right()), static_cast<float>(r.Bottom())); }
ImVec2 Size(const PixelRect& r) { return ImVec2(static_cast<float>(r.width), static_cast<float>(r.height)); }

void Fill(ImDrawList* draw, const PixelRect& r, ImU32 colour) {
  if (r.width > 0 && r.height > 0) draw->AddRectFilled(TopLeft(r), BottomRight(r), colour);
}

// A one-pixel frame just inside the rectangle: top and left edges in one colour, bottom and right
// in the other.
void Bevel(ImDrawList* draw, const PixelRect& r, ImU32 topLeft, ImU32 bottomRight) {
  Fill(draw, PixelRect{r.x, r.y, r.width, 1}, topLeft);
  Fill(draw, PixelRect{r.x, r.y, 1, r.height}, topLeft);
  Fill(draw, PixelRect{r.x, r.Bottom() - 1, r.width, 1}, bottomRight);
  Fill(draw, PixelRect{r.Right() - 1, r.y, 1, r.height}, bottomRight);
}

PixelRect Inset(const PixelRect& r, int by) {
  return PixelRect{r.x + by, r.y + by, r.width - 2 * by, r.height - 2 * by};
}

// A name as its line shows it: a control character (a newline, say) as "?", so that every name
// stays on its own line.
std::string OneLineOf(const std::u16string& name) {
  std::u16string shown = name;
  for (char16_t& c : shown) {
    if (c < 0x20 || (c >= 0x7F && c < 0xA0)) c = u'?';
  }
  return ToUtf8(shown);
}

// Text drawn as it stands: ImGui's labels would read "##" in a name as the start of an id.
void PutText(ImDrawList* draw, ImFont* font, ImVec2 at, ImU32 colour, const std::string& text) {
  draw->AddText(font, kFontPixels, at, colour, text.data(), text.data() + text.size());
}

float TextWidth(ImFont* font, const std::string& text) {
  return font->CalcTextSizeA(kFontPixels, 1e9f, 0.0f, text.data(), text.data() + text.size()).x;
}

// A push button: raised, sunken while the pen holds it down on it. True when the pen is lifted
// on it, which is when a button acts.
bool PushButton(const char* text, const PixelRect& r, ImFont* font) {
  ImGui::SetCursorScreenPos(TopLeft(r));
  const bool pressed = ImGui::InvisibleButton(text, Size(r));
  const bool down = ImGui::IsItemActive() && ImGui::IsItemHovered();
  ImDrawList* draw = ImGui::GetWindowDrawList();
  Fill(draw, r, kFace);
  Bevel(draw, r, kEdge, kEdge);
  if (down) {
    Bevel(draw, Inset(r, 1), kShadow, kFace);
  } else {
    Bevel(draw, Inset(r, 1), kLight, kShadow);
  }
  const std::string label = text;
  const int shift = down ? 1 : 0;
  const float x = r.x + (r.width - TextWidth(font, label)) / 2 + shift;
  const float y = r.y + (r.height - kFontPixels) / 2 + shift;
  PutText(draw, font, ImVec2(static_cast<float>(static_cast<int>(x)), static_cast<float>(static_cast<int>(y))), kText,
          label);
  return pressed;
}

// The list box: a white well with a black border, one line per circuit, the selection
// highlighted, and a scroll bar when the lines don't fit.
void DrawList(SelectorDialog* dialog, const PixelRect& r) {
  ImDrawList* outer = ImGui::GetWindowDrawList();
  Fill(outer, r, kListBackground);
  Bevel(outer, r, kEdge, kEdge);

  const PixelRect inside = Inset(r, 1);
  ImGui::SetCursorScreenPos(TopLeft(inside));
  ImGui::PushStyleColor(ImGuiCol_ChildBg, kListBackground);
  ImGui::BeginChild("list", Size(inside), false, ImGuiWindowFlags_NoNav);
  ImDrawList* draw = ImGui::GetWindowDrawList();
  const float lineWidth = ImGui::GetContentRegionAvail().x;
  const int count = static_cast<int>(dialog->listLines.size());
  ImGuiListClipper clipper;
  clipper.Begin(count, static_cast<float>(kListLineHeight));
  while (clipper.Step()) {
    for (int line = clipper.DisplayStart; line < clipper.DisplayEnd; ++line) {
      ImGui::PushID(line);
      const ImVec2 at = ImGui::GetCursorScreenPos();
      ImGui::InvisibleButton("line", ImVec2(lineWidth, static_cast<float>(kListLineHeight)));
      // The list box selects as the pen goes down. A second tap (or a double tap) on a line
      // only selects it again.
      if (ImGui::IsItemActivated()) SelectLine(dialog, line);
      const bool selected = line == dialog->selected;
      if (selected) {
        draw->AddRectFilled(at, ImVec2(at.x + lineWidth, at.y + kListLineHeight), kHighlight);
      }
      PutText(draw, regularFont, ImVec2(at.x + kListTextIndent, at.y), selected ? kHighlightText : kText,
              OneLineOf(dialog->listLines[line]));
      ImGui::PopID();
    }
  }
  if (dialog->table.moreThanListed) {
    const ImVec2 at = ImGui::GetCursorScreenPos();
    ImGui::Dummy(ImVec2(lineWidth, static_cast<float>(kListLineHeight)));
    PutText(draw, regularFont, ImVec2(at.x + kListTextIndent, at.y), kNoteText, kMoreCircuitsNote);
  }
  if (dialog->revealSelection && dialog->selected >= 0) {
    const float top = static_cast<float>(dialog->selected * kListLineHeight);
    const float bottom = top + kListLineHeight;
    const float height = ImGui::GetWindowHeight();
    if (top < ImGui::GetScrollY()) {
      ImGui::SetScrollY(top);
    } else if (bottom > ImGui::GetScrollY() + height) {
      ImGui::SetScrollY(bottom - height);
    }
  }
  dialog->revealSelection = false;
  ImGui::EndChild();
  ImGui::PopStyleColor();
}

}  // namespace

void SetUpSelectorLook(const std::vector<std::u16string>& names) {
  ImGuiIO& io = ImGui::GetIO();
  io.Fonts->FontBuilderIO = ImGuiFreeType::GetBuilderForFreeType();
  regularFont = LoadFont(kRegularFont, GlyphsFor(names));
  boldFont = LoadFont(kBoldFont, io.Fonts->GetGlyphRangesDefault());
  io.FontDefault = regularFont;
  DrawReplacementGlyph(io.Fonts->AddCustomRectFontGlyph(regularFont, kReplacement, kReplacementSize, kReplacementSize,
                                                        kReplacementSize + 1, ImVec2(0, kReplacementTop)));
  // A double tap within this time on a line is still two taps that select it; kept as the
  // hand-held's.
  io.MouseDoubleClickTime = 0.5f;

  ImGuiStyle& style = ImGui::GetStyle();
  style = ImGuiStyle();
  // Square, solid, pixel-exact: no rounding, no smoothing of edges, nothing see-through.
  style.WindowRounding = style.ChildRounding = style.FrameRounding = 0;
  style.ScrollbarRounding = style.GrabRounding = 0;
  style.WindowBorderSize = style.ChildBorderSize = style.FrameBorderSize = 0;
  style.WindowPadding = style.FramePadding = style.ItemSpacing = ImVec2(0, 0);
  style.ItemInnerSpacing = ImVec2(0, 0);
  style.ScrollbarSize = kScrollBarWidth;
  style.GrabMinSize = 10;
  style.AntiAliasedLines = style.AntiAliasedLinesUseTex = style.AntiAliasedFill = false;
  style.Colors[ImGuiCol_ScrollbarBg] = ImGui::ColorConvertU32ToFloat4(kScrollTrack);
  style.Colors[ImGuiCol_ScrollbarGrab] = ImGui::ColorConvertU32ToFloat4(kFace);
  style.Colors[ImGuiCol_ScrollbarGrabHovered] = ImGui::ColorConvertU32ToFloat4(kFace);
  style.Colors[ImGuiCol_ScrollbarGrabActive] = ImGui::ColorConvertU32ToFloat4(kShadow);
}

void DrawSelectorDialog(SelectorDialog* dialog) {
  const ImGuiIO& io = ImGui::GetIO();
  const DialogGeometry g = LayOutDialog(static_cast<int>(io.DisplaySize.x), static_cast<int>(io.DisplaySize.y));

  ImGui::SetNextWindowPos(ImVec2(0, 0));
  ImGui::SetNextWindowSize(io.DisplaySize);
  ImGui::Begin("screen", nullptr,
               ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoSavedSettings |
                   ImGuiWindowFlags_NoBackground | ImGuiWindowFlags_NoBringToFrontOnFocus | ImGuiWindowFlags_NoNav |
                   ImGuiWindowFlags_NoScrollWithMouse);
  ImDrawList* draw = ImGui::GetWindowDrawList();

  // The screen behind the dialog, the dialog's border, its caption and its face.
  Fill(draw, PixelRect{0, 0, static_cast<int>(io.DisplaySize.x), static_cast<int>(io.DisplaySize.y)}, kDesktop);
  Fill(draw, g.frame, kEdge);
  Fill(draw, g.caption, kCaption);
  Fill(draw, g.client, kFace);
  // The caption's text stands on whole pixels, centred with any odd pixel below it.
  const int captionTextTop = g.caption.y + (kCaptionHeight - static_cast<int>(kFontPixels)) / 2;
  PutText(draw, boldFont,
          ImVec2(static_cast<float>(g.caption.x + kCaptionTextIndent), static_cast<float>(captionTextTop)),
          kCaptionText, "Apexgrid");
  if (PushButton("OK", g.okButton, boldFont)) OnCaptionOk(dialog);

  PutText(draw, regularFont, TopLeft(g.label), kText, "Select Circuit:");
  DrawList(dialog, g.list);
  if (PushButton("Start", g.start, regularFont)) OnStart(dialog);
  if (PushButton("Storno", g.storno, regularFont)) OnStorno(dialog);

  if (ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_UpArrow))) MoveSelection(dialog, -1);
  if (ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_DownArrow))) MoveSelection(dialog, 1);
  ImGui::End();
}
