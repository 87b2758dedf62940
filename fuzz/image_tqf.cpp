// TQF files and bare TQLZ streams from hostile bytes. A stream that
// decodes must decode the same into a buffer of exactly its raw length; a
// TQF picture that loads must save and load back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/image_fuzz.h"
#include "image/tqImageTqf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  imagefuzz::Once();
  const uint32_t raw = tqLzDecompress(data, (uint32_t)size, nullptr);
  if (raw > 0 && raw <= (16u << 20)) {
    std::vector<uint8_t> out(raw);
    if (tqLzDecompress(data, (uint32_t)size, out.data()) == raw) {
      std::vector<uint8_t> again(raw);
      if (tqLzDecompress(data, (uint32_t)size, again.data()) != raw || again != out) abort();
    }
  }
  tqMemBlock block(data, (uint32_t)size);
  tqImageTqf image;
  if (!image.load(block, 0)) return 0;
  const uint32_t bytes = image.bufferSize();
  std::vector<uint8_t> before(image.pixels(), image.pixels() + bytes);
  tqMemBlock saved;
  if (!image.save(saved, 0, 0, 0, 0)) abort();
  tqImageTqf back;
  if (!back.load(saved, 0)) abort();
  // Saving clears the colour of transparent pixels in place: compare with
  // the picture as saved.
  if (back.bufferSize() != bytes || back.pitch() != image.pitch() || back.width() != image.width() ||
      memcmp(back.pixels(), image.pixels(), bytes) != 0)
    abort();
  return 0;
}
