// PNG reading and writing over libpng's simplified interface.
#include "platform/png.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "platform/files.h"

void ExpandPixel(uint16_t pixel, bool is565, uint8_t* red, uint8_t* green, uint8_t* blue) {
  const unsigned r = is565 ? pixel >> 11 : (pixel >> 10) & 31;
  const unsigned b = pixel & 31;
  *red = static_cast<uint8_t>((r << 3) | (r >> 2));
  *blue = static_cast<uint8_t>((b << 3) | (b >> 2));
  if (is565) {
    const unsigned g = (pixel >> 5) & 63;
    *green = static_cast<uint8_t>((g << 2) | (g >> 4));
  } else {
    const unsigned g = (pixel >> 5) & 31;
    *green = static_cast<uint8_t>((g << 3) | (g >> 2));
  }
}

RgbImage ImageFromPixels(const uint16_t* pixels, uint32_t width, uint32_t height, bool is565) {
  RgbImage image;
  image.width = width;
  image.height = height;
  image.rgb.resize(static_cast<size_t>(width) * height * 3);
  for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i) {
    ExpandPixel(pixels[i], is565, &image.rgb[3 * i], &image.rgb[3 * i + 1], &image.rgb[3 * i + 2]);
  }
  return image;
}

int WritePng(const std::string& hostPath, const RgbImage& image, std::string* error) {
  if (image.rgb.size() != static_cast<size_t>(image.width) * image.height * 3) {
    if (error != nullptr) *error = "the image has the wrong number of pixels";
    return 1;
  }
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  png.width = image.width;
  png.height = image.height;
  png.format = PNG_FORMAT_RGB;
  // Encoded in memory first, so that the file is written in one piece or not at all.
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&png, nullptr, &size, 0, image.rgb.data(), 0, nullptr)) {
    if (error != nullptr) *error = png.message;
    png_image_free(&png);
    return 1;
  }
  std::vector<unsigned char> bytes(size);
  const int ok = png_image_write_to_memory(&png, bytes.data(), &size, 0, image.rgb.data(), 0, nullptr);
  if (!ok && error != nullptr) *error = png.message;
  png_image_free(&png);
  if (!ok) return 1;
  return WriteHostFile(hostPath, bytes.data(), size, error);
}

int ReadPng(const std::string& hostPath, RgbImage* image, std::vector<uint8_t>* alpha, std::string* error) {
  // Through the platform's open, which never waits on a FIFO.
  std::FILE* file = OpenHostFile(hostPath, "rb");
  if (file == nullptr) {
    if (error) *error = "can't open the file";
    return 1;
  }
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_stdio(&png, file)) {
    if (error) *error = png.message;
    png_image_free(&png);
    std::fclose(file);
    return 1;
  }
  // libpng takes 16-bit values without a gAMA or sRGB chunk as linear light, which would turn a
  // 25% grey into 55%; whoever made them meant them as stored, like 8-bit ones.
  png.flags |= PNG_IMAGE_FLAG_16BIT_sRGB;
  png.format = PNG_FORMAT_RGBA;
  std::vector<uint8_t> rgba(PNG_IMAGE_SIZE(png));
  const int read = png_image_finish_read(&png, nullptr, rgba.data(), 0, nullptr);
  std::fclose(file);
  if (!read) {
    if (error) *error = png.message;
    png_image_free(&png);
    return 1;
  }
  image->width = png.width;
  image->height = png.height;
  const size_t count = static_cast<size_t>(png.width) * png.height;
  image->rgb.resize(count * 3);
  if (alpha) alpha->resize(count);
  for (size_t i = 0; i < count; ++i) {
    std::memcpy(&image->rgb[3 * i], &rgba[4 * i], 3);
    if (alpha) (*alpha)[i] = rgba[4 * i + 3];
  }
  png_image_free(&png);
  return 0;
}

namespace {

struct RunReader {
  png_structp png = nullptr;
  png_infop info = nullptr;
  std::vector<uint8_t> row;
  std::string refused;
  char message[200] = "";
};

void ReadFailed(png_structp png, png_const_charp message) {
  auto* reader = static_cast<RunReader*>(png_get_error_ptr(png));
  std::snprintf(reader->message, sizeof reader->message, "%s", message);
  png_longjmp(png, 1);
}

void ReadWarned(png_structp, png_const_charp) {}

// The part libpng may jump out of. It keeps everything it changes in the reader, outside its own
// frame, so that nothing is left in doubt after the jump.
int ReadRuns(RunReader& reader, const std::function<int(uint32_t, uint32_t, std::string*)>& size,
             const std::function<void(uint32_t, uint32_t, uint32_t, uint32_t, const uint8_t*)>& pixels) {
  png_structp png = reader.png;
  png_infop info = reader.info;
  if (setjmp(png_jmpbuf(png)) != 0) {
    reader.refused = reader.message;
    return 1;
  }
  png_read_info(png, info);
  const uint32_t width = png_get_image_width(png, info);
  const uint32_t height = png_get_image_height(png, info);
  if (size(width, height, &reader.refused) != 0) return 1;
  // As ReadPng has it: 8-bit RGBA in sRGB, whatever the file holds. A file that doesn't say its
  // gamma is taken as sRGB, 16-bit samples too (this sets both that default and the output).
  png_set_alpha_mode(png, PNG_ALPHA_PNG, PNG_DEFAULT_sRGB);
  png_set_expand(png);
  png_set_scale_16(png);
  png_set_gray_to_rgb(png);
  png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
  png_read_update_info(png, info);
  reader.row.resize(static_cast<size_t>(width) * 4);
  const bool interlaced = png_get_interlace_type(png, info) == PNG_INTERLACE_ADAM7;
  for (int pass = 0; pass < (interlaced ? 7 : 1); ++pass) {
    const uint32_t x0 = interlaced ? PNG_PASS_START_COL(pass) : 0;
    const uint32_t xStep = interlaced ? PNG_PASS_COL_OFFSET(pass) : 1;
    const uint32_t y0 = interlaced ? PNG_PASS_START_ROW(pass) : 0;
    const uint32_t yStep = interlaced ? PNG_PASS_ROW_OFFSET(pass) : 1;
    const uint32_t columns = interlaced ? PNG_PASS_COLS(width, pass) : width;
    const uint32_t rows = interlaced ? PNG_PASS_ROWS(height, pass) : height;
    if (columns == 0 || rows == 0) continue;  // libpng skips a pass with nothing in it
    for (uint32_t r = 0; r < rows; ++r) {
      png_read_row(png, reader.row.data(), nullptr);
      pixels(x0, y0 + r * yStep, xStep, columns, reader.row.data());
    }
  }
  png_read_end(png, nullptr);
  return 0;
}

}  // namespace

int ReadPngRuns(const std::string& hostPath, const std::function<int(uint32_t, uint32_t, std::string*)>& size,
                const std::function<void(uint32_t, uint32_t, uint32_t, uint32_t, const uint8_t*)>& pixels,
                std::string* error) {
  // Through the platform's open, which never waits on a FIFO.
  std::FILE* file = OpenHostFile(hostPath, "rb");
  if (file == nullptr) {
    if (error) *error = "can't open it";
    return 1;
  }
  RunReader reader;
  reader.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &reader, ReadFailed, ReadWarned);
  reader.info = reader.png != nullptr ? png_create_info_struct(reader.png) : nullptr;
  int status = 1;
  if (reader.info == nullptr) {
    reader.refused = "out of memory";
  } else {
    png_init_io(reader.png, file);
    status = ReadRuns(reader, size, pixels);
  }
  png_destroy_read_struct(&reader.png, &reader.info, nullptr);
  std::fclose(file);
  if (status != 0 && error) *error = reader.refused;
  return status;
}
