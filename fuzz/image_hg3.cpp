// HG-3 files from hostile bytes: by identifier and by index.
#include <cstddef>
#include <cstdint>

#include "fuzz/image_fuzz.h"
#include "image/tqImageHg3.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  imagefuzz::Once();
  tqMemBlock block(data, (uint32_t)size);
  {
    tqImageHg3 image;
    image.load(block, 0);
  }
  {
    tqImageHg3 image;
    int id = 0;
    image.loadByIndex(block, 1, &id);
  }
  return 0;
}
