// Windows bitmaps: loaded as 4 bytes per pixel, bottom row first, from
// palette (1/4/8 bits, plain or run-length coded), 16-, 24- and 32-bit files
// with any of the common header sizes and with or without channel masks;
// saved uncompressed as the buffer stands.
#pragma once

#include <cstring>

#include "image/tqImage.h"

class tqImageBmp : public tqImage {
 public:
  tqImageBmp() { memset(infoHeader, 0, sizeof infoHeader); }
  ~tqImageBmp() override = default;

  int load(const tqMemBlock& source, int id) override;
  int save(tqMemBlock& destination, int id, int userValue1, int userValue2, int clearTransparent) override;

  // "BM" and a bit count a bitmap can have, read where the file's header
  // size puts it.
  static bool isBmp(const uint8_t* data, uint32_t size);

  uint8_t infoHeader[40];  // the file's BITMAPINFOHEADER after load
};
