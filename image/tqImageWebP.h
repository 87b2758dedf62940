// WebP pictures through libwebp: red, green, blue, alpha rows of width x 4
// bytes, in both directions.
#pragma once

#include "image/tqImage.h"

class tqImageWebP : public tqImage {
 public:
  tqImageWebP() = default;
  ~tqImageWebP() override = default;

  int load(const tqMemBlock& source, int id) override;
  int save(tqMemBlock& destination, int id, int userValue1, int userValue2, int clearTransparent) override;

  static bool isWebP(const uint8_t* data, uint32_t size);

  int32_t quality = 90;
};
