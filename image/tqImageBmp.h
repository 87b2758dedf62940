// Uncompressed Windows bitmaps of 24 or 32 bits: loaded as 4 bytes per pixel
// in the file's row order (bottom row first), saved as the buffer stands.
#pragma once

#include <cstring>

#include "image/tqImage.h"

class tqImageBmp : public tqImage {
 public:
  tqImageBmp() { memset(infoHeader, 0, sizeof infoHeader); }
  ~tqImageBmp() override = default;

  int load(const tqMemBlock& source, int id) override;
  int save(tqMemBlock& destination, int id, int userValue1, int userValue2, int clearTransparent) override;

  static bool isBmp(const uint8_t* data, uint32_t size);

  uint8_t infoHeader[40];  // the file's BITMAPINFOHEADER after load
};
