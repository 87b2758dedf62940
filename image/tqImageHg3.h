// HG-3 pictures: a list of pictures, each a list of named tags holding the
// geometry and the pixels as codec slices, an embedded JPEG (with an optional
// alpha plane) or an embedded WebP stream. Read only.
#pragma once

#include "image/tqHgCodec.h"
#include "image/tqImage.h"

class tqImageHg3 : public tqImage {
 public:
  tqImageHg3() = default;
  ~tqImageHg3() override = default;

  int load(const tqMemBlock& source, int id) override;
  int loadByIndex(const tqMemBlock& source, int index, int* outId) override;

  tqHgCodec& codec() { return codec_; }

  int32_t quality = 90;  // kept for the picture's owner; not read here

 private:
  int decode(const tqMemBlock& source, int id);

  tqHgCodec codec_;
};
