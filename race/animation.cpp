// Writing animated GIFs with giflib.
#include "race/animation.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/files.h"

namespace {

uint32_t ColourAt(const RgbImage& image, uint32_t x, uint32_t y) {
  const uint8_t* p = &image.rgb[(static_cast<size_t>(y) * image.width + x) * 3];
  return static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
}

int Failed(std::string* error, const std::string& what, int code) {
  if (error != nullptr) *error = what + ": " + (GifErrorString(code) != nullptr ? GifErrorString(code) : "GIF error");
  return 1;
}

// The rectangle of `frame` that differs from `last`, of the same size; a single pixel when none does.
void ChangedRectangle(const RgbImage& frame, const RgbImage& last, uint32_t* left, uint32_t* top, uint32_t* right,
                      uint32_t* bottom) {
  *left = frame.width, *top = frame.height, *right = 0, *bottom = 0;
  for (uint32_t y = 0; y < frame.height; ++y) {
    const size_t row = static_cast<size_t>(y) * frame.width * 3;
    for (uint32_t x = 0; x < frame.width; ++x) {
      const size_t i = row + static_cast<size_t>(x) * 3;
      if (frame.rgb[i] == last.rgb[i] && frame.rgb[i + 1] == last.rgb[i + 1] && frame.rgb[i + 2] == last.rgb[i + 2]) {
        continue;
      }
      *left = std::min(*left, x), *right = std::max(*right, x + 1);
      *top = std::min(*top, y), *bottom = std::max(*bottom, y + 1);
    }
  }
  if (*right == 0) *left = 0, *top = 0, *right = 1, *bottom = 1;  // the same picture: one pixel again
}

// The palette and each pixel's index into it for a w by h rectangle of colours: every colour as it
// is where there are 256 or fewer, else reduced to 256. 1 when they can't be reduced.
int MakePalette(const std::vector<uint32_t>& colours, uint32_t w, uint32_t h, std::vector<GifByteType>* indices,
                std::vector<GifColorType>* palette) {
  const size_t count = colours.size();
  std::vector<uint32_t> distinct = colours;
  std::sort(distinct.begin(), distinct.end());
  distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
  if (distinct.size() <= 256) {
    for (uint32_t c : distinct) {
      palette->push_back(GifColorType{static_cast<GifByteType>(c >> 16), static_cast<GifByteType>(c >> 8),
                                      static_cast<GifByteType>(c)});
    }
    for (size_t i = 0; i < count; ++i) {
      (*indices)[i] =
          static_cast<GifByteType>(std::lower_bound(distinct.begin(), distinct.end(), colours[i]) - distinct.begin());
    }
    return 0;
  }
  std::vector<GifByteType> r(count), g(count), b(count);
  for (size_t i = 0; i < count; ++i) {
    r[i] = static_cast<GifByteType>(colours[i] >> 16);
    g[i] = static_cast<GifByteType>(colours[i] >> 8);
    b[i] = static_cast<GifByteType>(colours[i]);
  }
  int size = 256;
  palette->resize(256);
  if (GifQuantizeBuffer(w, h, &size, r.data(), g.data(), b.data(), indices->data(), palette->data()) == GIF_ERROR) {
    return 1;
  }
  palette->resize(static_cast<size_t>(size));
  return 0;
}

}  // namespace

static int Collect(GifFileType* gif, const GifByteType* bytes, int count) {
  auto* out = static_cast<std::vector<unsigned char>*>(gif->UserData);
  out->insert(out->end(), bytes, bytes + count);
  return count;
}

GifWriter::~GifWriter() {
  if (gif_ != nullptr) {
    int code = 0;
    EGifCloseFile(gif_, &code);
  }
}

int GifWriter::Open(const std::string& hostPath, uint32_t width, uint32_t height, std::string* error) {
  path_ = hostPath;
  bytes_.clear();
  int code = 0;
  gif_ = EGifOpen(&bytes_, Collect, &code);
  if (gif_ == nullptr) return Failed(error, hostPath, code);
  EGifSetGifVersion(gif_, true);
  if (EGifPutScreenDesc(gif_, static_cast<int>(width), static_cast<int>(height), 8, 0, nullptr) == GIF_ERROR) {
    return Failed(error, hostPath, gif_->Error);
  }
  // Loops for ever, as players expect of a replay.
  static const GifByteType kNetscape[] = "NETSCAPE2.0";
  static const GifByteType kLoop[] = {1, 0, 0};
  if (EGifPutExtensionLeader(gif_, APPLICATION_EXT_FUNC_CODE) == GIF_ERROR ||
      EGifPutExtensionBlock(gif_, 11, kNetscape) == GIF_ERROR || EGifPutExtensionBlock(gif_, 3, kLoop) == GIF_ERROR ||
      EGifPutExtensionTrailer(gif_) == GIF_ERROR) {
    return Failed(error, hostPath, gif_->Error);
  }
  last_ = RgbImage();
  last_.width = width;
  last_.height = height;
  return 0;
}

int GifWriter::Add(const RgbImage& frame, int delay, std::string* error) {
  if (gif_ == nullptr || frame.width != last_.width || frame.height != last_.height) {
    if (error != nullptr) *error = path_ + ": a frame of the wrong size";
    return 1;
  }
  // Only the rectangle that changed since the last frame is stored; the rest stays on show.
  uint32_t left = 0, top = 0, right = frame.width, bottom = frame.height;
  if (!last_.rgb.empty()) ChangedRectangle(frame, last_, &left, &top, &right, &bottom);
  const uint32_t w = right - left, h = bottom - top;
  const size_t count = static_cast<size_t>(w) * h;

  std::vector<uint32_t> colours;
  colours.reserve(count);
  for (uint32_t y = top; y < bottom; ++y) {
    for (uint32_t x = left; x < right; ++x) colours.push_back(ColourAt(frame, x, y));
  }
  std::vector<GifByteType> indices(count);
  std::vector<GifColorType> palette;
  if (MakePalette(colours, w, h, &indices, &palette) != 0) {
    if (error != nullptr) *error = path_ + ": the frame's colours can't be reduced";
    return 1;
  }
  int mapSize = 2;
  while (mapSize < static_cast<int>(palette.size())) mapSize *= 2;
  palette.resize(static_cast<size_t>(mapSize), GifColorType{0, 0, 0});
  ColorMapObject* map = GifMakeMapObject(mapSize, palette.data());
  if (map == nullptr) return Failed(error, path_, E_GIF_ERR_NOT_ENOUGH_MEM);

  GraphicsControlBlock control{};
  control.DisposalMode = DISPOSE_DO_NOT;
  control.DelayTime = delay;
  control.TransparentColor = NO_TRANSPARENT_COLOR;
  GifByteType extension[4];
  EGifGCBToExtension(&control, extension);
  bool good = EGifPutExtension(gif_, GRAPHICS_EXT_FUNC_CODE, 4, extension) != GIF_ERROR &&
              EGifPutImageDesc(gif_, static_cast<int>(left), static_cast<int>(top), static_cast<int>(w),
                               static_cast<int>(h), false, map) != GIF_ERROR;
  for (uint32_t y = 0; good && y < h; ++y) {
    good = EGifPutLine(gif_, indices.data() + static_cast<size_t>(y) * w, static_cast<int>(w)) != GIF_ERROR;
  }
  GifFreeMapObject(map);
  if (!good) return Failed(error, path_, gif_->Error);
  last_.rgb = frame.rgb;
  return 0;
}

int GifWriter::Close(std::string* error) {
  if (gif_ == nullptr) return 1;
  int code = 0;
  const int status = EGifCloseFile(gif_, &code);
  gif_ = nullptr;
  if (status == GIF_ERROR) return Failed(error, path_, code);
  // Whole or not at all, as every file the programs write; a file that is there keeps its mode.
  std::string reason;
  if (WriteHostFile(path_, bytes_.data(), bytes_.size(), &reason) != 0) {
    if (error != nullptr) *error = path_ + ": " + reason;
    return 1;
  }
  return 0;
}
