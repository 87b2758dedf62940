// PNG pictures through libpng, read and written through memory files:
// blue, green, red (and alpha) rows, pitch padded to 4 bytes.
#pragma once

#include "file/tqMemFile.h"
#include "image/tqImage.h"

class tqImagePng : public tqImage {
 public:
  tqImagePng() = default;
  ~tqImagePng() override = default;

  // Any libpng error ends the operation with failure.
  int load(const tqMemBlock& source, int id) override;
  int save(tqMemBlock& destination, int id, int userValue1, int userValue2, int clearTransparent) override;

  static bool isPng(const uint8_t* data, uint32_t size);

  tqMemFile* ioFile = nullptr;  // alive only during load and save
  int32_t cropOnSave = 0;
};
