// The libpng peer of the picture benchmarks: a 32-bit picture saved as RGBA
// PNG at zlib level 9, into memory.
#pragma once

#include <png.h>

#include <cstdint>
#include <vector>

#include "image/tqImage.h"

namespace bench {

inline void PngWrite(png_structp png, png_bytep data, png_size_t n) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + n);
}
inline void PngFlush(png_structp) {}

// Empty on failure.
inline std::vector<uint8_t> PngEncode(const tqImage& image) {
  std::vector<uint8_t> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(png, &out, PngWrite, PngFlush);
  png_set_compression_level(png, 9);
  png_set_IHDR(png, info, image.width(), image.height(), 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_set_bgr(png);
  std::vector<png_bytep> rows(image.height());
  for (int y = 0; y < image.height(); ++y) rows[y] = image.pixels() + (size_t)y * image.pitch();
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

}  // namespace bench
