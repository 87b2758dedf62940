// JPEG pictures through libjpeg: decoded to red, green, blue rows (pitch
// padded to 4 bytes), encoded from 3-byte (RGB) or 4-byte (CMYK) pictures.
#pragma once

#include "image/tqImage.h"

class tqImageJpeg : public tqImage {
 public:
  tqImageJpeg() = default;
  ~tqImageJpeg() override = default;

  // A header that cannot be read fails; an error after rows were decoded
  // keeps those rows, the rest are blank.
  int load(const tqMemBlock& source, int id) override;
  int save(tqMemBlock& destination, int id, int userValue1, int userValue2, int clearTransparent) override;

  // The holder's format test: the SOI marker and a complete header.
  static bool isJpeg(const uint8_t* data, uint32_t size);

  int32_t quality = 90;
};
