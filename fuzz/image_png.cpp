// PNG streams from hostile bytes through the library's adapter: a load
// either fails or gives a picture of the layout the adapter promises. Chunk
// checksums are made right first, so that mutations reach the chunk
// readers instead of stopping at the checksum test.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz/image_fuzz.h"
#include "image/tqImagePng.h"

namespace {

void FixChecksums(std::vector<uint8_t>& b) {
  size_t at = 8;
  while (at + 12 <= b.size()) {
    const uint32_t length = (uint32_t)b[at] << 24 | (uint32_t)b[at + 1] << 16 | (uint32_t)b[at + 2] << 8 | b[at + 3];
    if (length > b.size() - at - 12) return;
    const uint32_t crc = (uint32_t)crc32(0, b.data() + at + 4, (uInt)length + 4);
    uint8_t* p = b.data() + at + 8 + length;
    p[0] = (uint8_t)(crc >> 24);
    p[1] = (uint8_t)(crc >> 16);
    p[2] = (uint8_t)(crc >> 8);
    p[3] = (uint8_t)crc;
    at += 12 + (size_t)length;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  imagefuzz::Once();
  std::vector<uint8_t> bytes(data, data + size);
  FixChecksums(bytes);
  tqMemBlock block(bytes.data(), (uint32_t)bytes.size());
  tqImagePng image;
  if (!image.load(block, 0)) return 0;
  imagefuzz::CheckLayout(image);
  return 0;
}
