// The merged picture of Photoshop files (read only), turned over so that the
// bottom row comes first, as bitmaps are.
#pragma once

#include "image/tqImage.h"

class tqImagePsd : public tqImage {
 public:
  tqImagePsd() = default;
  ~tqImagePsd() override = default;

  int load(const tqMemBlock& source, int id) override;

  // The header checks, also the holder's format test.
  static bool isPsd(const uint8_t* data, uint32_t size);

  void* reserved = nullptr;  // not used
};
