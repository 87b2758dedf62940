// TQLZ compress then decompress of arbitrary bytes in the mode the first byte
// picks: the stream is the plain compressor's to the byte and decodes back
// to the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/image_fuzz.h"
#include "image/tqLz.h"
#include "tests/image/tqLzReference.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  imagefuzz::Once();
  if (size < 1) return 0;
  const int mode = data[0] % 5;
  ++data;
  --size;
  const uint32_t length = (uint32_t)size;
  const uint32_t n = tqLzCompress(data, length, nullptr, mode);
  if (n == 0) abort();
  std::vector<uint8_t> stream(n);
  if (tqLzCompress(data, length, stream.data(), mode) != n) abort();
  if (stream != lzref::Compress(data, length, mode)) abort();
  std::vector<uint8_t> back(size + 1, 0xA5);
  if (tqLzDecompress(stream.data(), n, back.data()) != length) abort();
  if (memcmp(back.data(), data, size) != 0 || back[size] != 0xA5) abort();
  return 0;
}
