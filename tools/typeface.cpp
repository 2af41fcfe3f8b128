// FreeType text rendering into coverage masks.
#include "tools/typeface.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <vector>

#include "tools/tool_error.h"

namespace {

// Decodes UTF-8 into code points; malformed bytes come out as U+FFFD.
std::vector<char32_t> CodePoints(const std::string& text) {
  std::vector<char32_t> out;
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
    if (extra < 0 || i + extra >= text.size()) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    char32_t cp = extra == 0 ? c : (c & (0x3F >> extra));
    bool ok = true;
    for (int k = 1; k <= extra; ++k) {
      const unsigned char d = static_cast<unsigned char>(text[i + k]);
      if ((d >> 6) != 2) ok = false;
      cp = (cp << 6) | (d & 0x3F);
    }
    out.push_back(ok ? cp : 0xFFFD);
    i += ok ? extra + 1 : 1;
  }
  return out;
}

struct Library {
  FT_Library library = nullptr;
  Library() {
    if (FT_Init_FreeType(&library) != 0) throw ToolError("FreeType can't be started");
  }
  ~Library() { FT_Done_FreeType(library); }
};

FT_Library SharedLibrary() {
  static Library library;
  return library.library;
}

}  // namespace

struct Typeface::Face {
  FT_Face face = nullptr;
  ~Face() {
    if (face != nullptr) FT_Done_Face(face);
  }
};

Typeface::Typeface(const std::string& fontFile) : face_(std::make_unique<Face>()) {
  if (FT_New_Face(SharedLibrary(), fontFile.c_str(), 0, &face_->face) != 0) {
    throw ToolError("can't read the font " + fontFile);
  }
}

Typeface::~Typeface() = default;

TextMask Typeface::Render(const std::string& text, float pixelSize) const {
  FT_Face face = face_->face;
  FT_Set_Char_Size(face, 0, static_cast<FT_F26Dot6>(pixelSize * 64), 72, 72);
  struct Placed {
    int x, y, w, h;
    std::vector<unsigned char> bits;
  };
  std::vector<Placed> glyphs;
  long pen = 0;  // 26.6
  FT_UInt previous = 0;
  int left = 0, right = 0, top = 0, bottom = 0;
  bool any = false;
  for (char32_t cp : CodePoints(text)) {
    const FT_UInt index = FT_Get_Char_Index(face, cp);
    if (previous != 0 && FT_HAS_KERNING(face)) {
      FT_Vector kern;
      FT_Get_Kerning(face, previous, index, FT_KERNING_DEFAULT, &kern);
      pen += kern.x;
    }
    previous = index;
    if (FT_Load_Glyph(face, index, FT_LOAD_RENDER | FT_LOAD_TARGET_NORMAL) != 0) continue;
    const FT_GlyphSlot slot = face->glyph;
    const FT_Bitmap& bm = slot->bitmap;
    Placed p{static_cast<int>((pen + 32) >> 6) + slot->bitmap_left,
             -slot->bitmap_top,
             static_cast<int>(bm.width),
             static_cast<int>(bm.rows),
             {}};
    p.bits.resize(static_cast<size_t>(p.w) * p.h);
    for (int y = 0; y < p.h; ++y) {
      for (int x = 0; x < p.w; ++x) p.bits[static_cast<size_t>(y) * p.w + x] = bm.buffer[y * bm.pitch + x];
    }
    if (p.w > 0 && p.h > 0) {
      left = any ? std::min(left, p.x) : p.x;
      right = any ? std::max(right, p.x + p.w) : p.x + p.w;
      top = any ? std::min(top, p.y) : p.y;
      bottom = any ? std::max(bottom, p.y + p.h) : p.y + p.h;
      any = true;
    }
    pen += slot->advance.x;
    glyphs.push_back(std::move(p));
  }

  const int ascender = static_cast<int>((face->size->metrics.ascender + 63) >> 6);
  const int descender = static_cast<int>((-face->size->metrics.descender + 63) >> 6);
  const int advance = static_cast<int>((pen + 32) >> 6);
  // The mask spans the pen's travel and the face's line height, widened to hold any ink that
  // overhangs them (italics lean past the pen).
  const int maskLeft = any ? std::min(0, left) : 0;
  const int maskRight = any ? std::max(advance, right) : advance;
  const int maskTop = any ? std::min(-ascender, top) : -ascender;
  const int maskBottom = any ? std::max(descender, bottom) : descender;

  TextMask out;
  out.mask = Mask(maskRight - maskLeft, maskBottom - maskTop);
  out.baseline = -maskTop;
  out.advance = advance;
  for (const Placed& p : glyphs) {
    for (int y = 0; y < p.h; ++y) {
      for (int x = 0; x < p.w; ++x) {
        float& a = out.mask.Ref(p.x - maskLeft + x, p.y - maskTop + y);
        a = std::min(1.0f, a + p.bits[static_cast<size_t>(y) * p.w + x] / 255.0f);
      }
    }
  }
  if (any) {
    out.inkLeft = left - maskLeft;
    out.inkRight = right - maskLeft;
    out.inkTop = top - maskTop;
    out.inkBottom = bottom - maskTop;
  }
  return out;
}

int Typeface::CapHeight(float pixelSize) const {
  const TextMask h = Render("H", pixelSize);
  return h.baseline - h.inkTop;
}

std::string FontFile(const std::string& fontFolder, const std::string& name) { return fontFolder + "/" + name; }
