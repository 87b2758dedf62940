// TQF: the library's raw pixel buffer (rows as in memory) compressed with the
// TQLZ dictionary coder.
#pragma once

#include "image/tqImage.h"
#include "image/tqLz.h"

class tqImageTqf : public tqImage {
 public:
  tqImageTqf() = default;
  ~tqImageTqf() override = default;

  int load(const tqMemBlock& source, int id) override;
  // Clears the colour of transparent pixels, then keeps the best of the five
  // TQLZ modes.
  int save(tqMemBlock& destination, int id, int userValue1, int userValue2, int clearTransparent) override;

  static bool isTqf(const uint8_t* data, uint32_t size);
};
