// HG-3 pictures: a list of pictures, each a list of named tags holding the
// geometry and the pixels as codec slices, an embedded JPEG (with an optional
// alpha plane) or an embedded WebP stream. The writer stores codec slices.
#pragma once

#include "image/tqHgCodec.h"
#include "image/tqImage.h"

class tqImageHg3 : public tqImage {
 public:
  tqImageHg3() = default;
  ~tqImageHg3() override = default;

  int load(const tqMemBlock& source, int id) override;
  int loadByIndex(const tqMemBlock& source, int index, int* outId) override;
  // Writes the whole picture (3 or 4 bytes per pixel, lossless) as one
  // HG-3 file holding one picture with the identifier id, in one slice.
  int save(tqMemBlock& destination, int id, int userValue1, int userValue2, int clearTransparent) override;
  // The same in slices of at most sliceRows rows each (0: one slice).
  int saveSlices(tqMemBlock& destination, int id, int userValue1, int userValue2, int clearTransparent,
                 int sliceRows);

  tqHgCodec& codec() { return codec_; }

  int32_t quality = 90;  // kept for the picture's owner; not read here

 private:
  int decode(const tqMemBlock& source, int id);

  tqHgCodec codec_;
};
