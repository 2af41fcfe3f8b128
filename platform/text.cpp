// UTF-16 <-> UTF-8 conversion at the host boundary.
#include "platform/text.h"

#include <cstdint>

namespace {

constexpr char32_t kReplacement = 0xFFFD;
// Host bytes 0x80 to 0xFF that are not UTF-8 stand for themselves as these lone surrogates.
constexpr char32_t kFirstByteEscape = 0xDC80;
constexpr char32_t kLastByteEscape = 0xDCFF;

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void AppendUtf16(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out += static_cast<char16_t>(c);
  } else {
    c -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (c >> 10));
    out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
  }
}

// A lone surrogate is either a host byte that FromHostBytes kept (when bytes is true) or
// unrepresentable.
std::string Encode(const std::u16string& text, bool bytes) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (bytes && c >= kFirstByteEscape && c <= kLastByteEscape) {
      out += static_cast<char>(c - kFirstByteEscape + 0x80);
      continue;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacement;
    }
    AppendUtf8(out, c);
  }
  return out;
}

// A byte that starts no valid sequence becomes U+FFFD, or its escape when bytes is true.
std::u16string Decode(const std::string& text, bool bytes) {
  std::u16string out;
  out.reserve(text.size());
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    const unsigned char lead = s[i];
    int extra = 0;
    char32_t c = 0;
    char32_t minimum = 0;
    bool valid = true;
    if (lead < 0x80) {
      c = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1, c = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2, c = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3, c = lead & 0x07, minimum = 0x10000;
    } else {
      valid = false;
    }
    valid = valid && i + extra < n;
    for (int k = 1; valid && k <= extra; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) {
        valid = false;
      } else {
        c = (c << 6) | (s[i + k] & 0x3F);
      }
    }
    if (valid && extra > 0 && (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))) {
      valid = false;
    }
    if (!valid) {
      AppendUtf16(out, bytes ? kFirstByteEscape + lead - 0x80 : kReplacement);
      ++i;
      continue;
    }
    AppendUtf16(out, c);
    i += extra + 1;
  }
  return out;
}

}  // namespace

std::string ToUtf8(const std::u16string& text) { return Encode(text, false); }

std::u16string FromUtf8(const std::string& text) { return Decode(text, false); }

std::string ToHostBytes(const std::u16string& text) { return Encode(text, true); }

std::u16string FromHostBytes(const std::string& bytes) { return Decode(bytes, true); }
