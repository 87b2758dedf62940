// WebP streams from hostile bytes through the library's adapter: a load
// either fails or gives a picture of the layout the adapter promises.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz/image_fuzz.h"
#include "image/tqImageWebP.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  imagefuzz::Once();
  tqMemBlock block(data, (uint32_t)size);
  tqImageWebP image;
  if (!image.load(block, 0)) return 0;
  imagefuzz::CheckLayout(image);
  return 0;
}
