// PSD files from hostile bytes: the merged picture, and the layer records
// with and without their pixels. The first input byte picks the layer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/image_fuzz.h"
#include "image/tqImagePsd.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  imagefuzz::Once();
  if (size < 1) return 0;
  const int index = data[0] == 255 ? -1 : data[0] % 8;
  tqMemBlock block(data + 1, (uint32_t)(size - 1));
  {
    tqImagePsd image;
    image.load(block, 0);
  }
  tqImagePsd image;
  tqPsdLayer info;
  for (int flag : {0, 1}) {
    if (!image.loadLayer(block, index, flag, &info)) continue;
    // Names are always terminated within their field.
    if (!memchr(info.name, 0, sizeof info.name)) abort();
    if (flag && (!image.pixels() || image.pitch() != image.width() * 4 || image.bytesPerPixel() != 4)) abort();
  }
  return 0;
}
