// HG-2 pictures: fixed headers, one codec block per picture; versions 16, 32
// and 37 are read, version 37 is written.
#pragma once

#include "image/tqHgCodec.h"
#include "image/tqImage.h"

class tqImageHg2 : public tqImage {
 public:
  tqImageHg2() = default;
  ~tqImageHg2() override = default;

  int load(const tqMemBlock& source, int id) override;
  int loadByIndex(const tqMemBlock& source, int index, int* outId) override;
  // Writes one version-37 picture, cropped to its visible pixels unless
  // cropOnSave is cleared. The picture itself is cropped (and its
  // transparent colour cleared when asked).
  int save(tqMemBlock& destination, int id, int userValue1, int userValue2, int clearTransparent) override;

  tqHgCodec& codec() { return codec_; }

 private:
  tqHgCodec codec_;
};
