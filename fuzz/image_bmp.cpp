// BMP files from hostile bytes; what loads must save and load back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/image_fuzz.h"
#include "image/tqImageBmp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  imagefuzz::Once();
  tqMemBlock block(data, (uint32_t)size);
  tqImageBmp image;
  if (!image.load(block, 0)) return 0;
  if (image.bytesPerPixel() != 4 || image.pitch() != image.width() * 4) abort();
  tqMemBlock saved;
  if (!image.save(saved, 0, 0, 0, 0)) abort();
  tqImageBmp back;
  if (!back.load(saved, 0)) abort();
  if (back.width() != image.width() || back.height() != image.height() ||
      memcmp(back.pixels(), image.pixels(), (size_t)image.pitch() * image.height()) != 0)
    abort();
  return 0;
}
