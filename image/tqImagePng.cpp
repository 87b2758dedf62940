// PNG adapter. libpng errors jump back to the recovery point of the running
// operation, which then cleans up and fails.
#include "image/tqImagePng.h"

#include <png.h>

#include <csetjmp>
#include <cstring>

namespace {

[[noreturn]] void OnError(png_structp png, png_const_charp message) {
  DebugPrint("tqImagePng : %s", message);
  png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

void ReadFromMemFile(png_structp png, png_bytep data, png_size_t length) {
  auto* file = static_cast<tqMemFile*>(png_get_io_ptr(png));
  if (length > 0x7FFFFFFFu || file->Read(data, (uint32_t)length) != (int)length) png_error(png, "read past the end");
}

void WriteToMemFile(png_structp png, png_bytep data, png_size_t length) {
  auto* file = static_cast<tqMemFile*>(png_get_io_ptr(png));
  if (length > 0x7FFFFFFFu || file->Write(data, (uint32_t)length) != (int)length) png_error(png, "write failed");
}

void Flush(png_structp) {}

// libpng allocates an ancillary chunk's declared length before it reads
// the chunk (and only warns when the length is over its limit), so a few
// bytes that declare a gigabyte of text cost a gigabyte. Every chunk up to
// the end chunk must lie inside the data before libpng sees it: libpng would
// fail on a chunk that runs past the end anyway, only later.
bool ChunksInside(const uint8_t* data, uint32_t size) {
  uint64_t at = 8;  // after the signature
  while (at + 8 <= size) {
    const uint32_t length = (uint32_t)data[at] << 24 | (uint32_t)data[at + 1] << 16 | (uint32_t)data[at + 2] << 8 |
                            data[at + 3];
    if ((uint64_t)length + 12 > size - at) return false;
    if (memcmp(data + at + 4, "IEND", 4) == 0) return true;
    at += (uint64_t)length + 12;
  }
  return true;
}

// What one compressed ancillary chunk may inflate to (text, profiles), and
// how many ancillary chunks are kept.
constexpr png_alloc_size_t kChunkMemoryMax = 4u << 20;
constexpr png_uint_32 kChunkCountMax = 256;

void SetLimits(png_structp png) {
  png_set_chunk_malloc_max(png, kChunkMemoryMax);
  png_set_chunk_cache_max(png, kChunkCountMax);
  const uint64_t side = TQIMAGE_MAX_PIXELS < 0x7FFFFFFFu ? TQIMAGE_MAX_PIXELS : 0x7FFFFFFFu;
  png_set_user_limits(png, (png_uint_32)side, (png_uint_32)side);
}

}  // namespace

bool tqImagePng::isPng(const uint8_t* data, uint32_t size) {
  return data && size > 0 && png_sig_cmp(data, 0, size) == 0;
}

int tqImagePng::load(const tqMemBlock& source, int) {
  if (!source.data || !ChunksInside(source.data, source.size)) return 0;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
  if (!png) return 0;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return 0;
  }
  ioFile = new tqMemFile;
  uint8_t** volatile rows = nullptr;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    if (rows) PrivateFree(rows);
    delete ioFile;
    ioFile = nullptr;
    releasePixels();
    setGeometry(0, 0, 0, 0);
    return 0;
  }
  if (!ioFile || !ioFile->LoadFromMemory("", source.data, source.size)) png_error(png, "no memory");
  png_set_read_fn(png, ioFile, ReadFromMemFile);
  SetLimits(png);
  png_read_info(png, info);
  png_uint_32 w = 0, h = 0;
  int depth = 0, colour = 0;
  png_get_IHDR(png, info, &w, &h, &depth, &colour, nullptr, nullptr, nullptr);
  if (!tqImageFits(w, h, 4)) png_error(png, "picture too large");
  png_set_strip_16(png);
  png_set_packswap(png);
  if (colour == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colour == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
  // Grey pictures become equal blue, green and red (grey with alpha keeps
  // its alpha as a fourth byte).
  if (!(colour & PNG_COLOR_MASK_COLOR)) png_set_gray_to_rgb(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  png_get_IHDR(png, info, &w, &h, &depth, &colour, nullptr, nullptr, nullptr);
  const int B = colour == PNG_COLOR_TYPE_RGB_ALPHA ? 4 : 3;
  if (png_get_rowbytes(png, info) != (size_t)w * B) png_error(png, "unexpected row layout");
  const uint32_t pitch = (uint32_t)tqPaddedPitch(w, (uint32_t)B);
  if (!reserve(pitch * h)) png_error(png, "no memory");
  setGeometry((int)w, (int)h, B, (int)pitch);
  canvasWidth_ = (int)w;
  canvasHeight_ = (int)h;
  rows = static_cast<uint8_t**>(PrivateAlloc(0, sizeof(uint8_t*) * (h ? h : 1)));
  if (!rows) png_error(png, "no memory");
  for (uint32_t y = 0; y < h; ++y) rows[y] = pixels_ + (size_t)y * pitch;
  png_set_bgr(png);
  png_read_image(png, rows);
  // Padding only once the rows are there: a file that ends early touches no
  // more of the picture than it filled.
  for (uint32_t y = 0; y < h; ++y) memset(rows[y] + (size_t)w * B, 0, pitch - (size_t)w * B);
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  PrivateFree(rows);
  delete ioFile;
  ioFile = nullptr;
  return 1;
}

int tqImagePng::save(tqMemBlock& destination, int, int, int, int) {
  // Only 3- and 4-byte pictures have a PNG row layout here.
  if ((bytesPerPixel_ != 3 && bytesPerPixel_ != 4) || !pixels_ || width_ <= 0 || height_ <= 0) return 0;
  tqp::Rect bounds;
  if (opaqueBounds(&bounds)) {
    if (bounds.left >= bounds.right || bounds.top >= bounds.bottom) bounds = {0, 0, 2, 2};
    if (cropOnSave && !crop(bounds)) return 0;
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
  if (!png) return 0;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return 0;
  }
  ioFile = new tqMemFile;
  uint8_t** volatile rows = nullptr;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    if (rows) PrivateFree(rows);
    delete ioFile;
    ioFile = nullptr;
    return 0;
  }
  if (!ioFile || !ioFile->Create(0x100000)) png_error(png, "no memory");
  png_set_write_fn(png, ioFile, WriteToMemFile, Flush);
  png_set_IHDR(png, info, (png_uint_32)width_, (png_uint_32)height_, 8,
               bytesPerPixel_ == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  rows = static_cast<uint8_t**>(PrivateAlloc(0, sizeof(uint8_t*) * (size_t)height_));
  if (!rows) png_error(png, "no memory");
  for (int y = 0; y < height_; ++y) rows[y] = pixels_ + (size_t)y * pitch_;
  png_set_bgr(png);
  png_write_image(png, rows);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  PrivateFree(rows);
  rows = nullptr;
  uint8_t* bytes = nullptr;
  uint32_t length = 0;
  ioFile->GetBuffer(&bytes, &length);
  int ok = 0;
  if (destination.allocate(length)) {
    memcpy(destination.data, bytes, length);
    // The block is rounded up to 8 bytes; only the stream is valid.
    memset(destination.data + length, 0, destination.capacity - length);
    destination.size = length;
    ok = 1;
  }
  delete ioFile;
  ioFile = nullptr;
  return ok;
}
