// TQF: the library's raw pixel buffer (rows as in memory) compressed with the
// TQLZ dictionary coder.
#pragma once

#include "image/tqImage.h"

class tqImageTqf : public tqImage {
 public:
  tqImageTqf() = default;
  ~tqImageTqf() override = default;

  int load(const tqMemBlock& source, int id) override;
  // Clears the colour of transparent pixels, then keeps the best of the five
  // TQLZ modes.
  int save(tqMemBlock& destination, int id, int userValue1, int userValue2, int clearTransparent) override;

  static bool isTqf(const uint8_t* data, uint32_t size);
};

// TQLZ: greedy LZ77 over a window of 2^(13 - mode) positions (modes 0 to 4).
using tqLzProgress = void (*)(uint32_t done, uint32_t total, void* user);
// Stream length (28 + flag bytes + data bytes), written to output when given;
// 0 when the working memory cannot be had.
uint32_t tqLzCompress(const uint8_t* input, uint32_t length, uint8_t* output, int mode,
                      tqLzProgress progress = nullptr, void* user = nullptr);
// Raw length of the stream, writing the bytes to output when given (output
// holds the raw length); 0 when the stream is not TQLZ or is broken.
uint32_t tqLzDecompress(const uint8_t* stream, uint32_t streamLength, uint8_t* output,
                        tqLzProgress progress = nullptr, void* user = nullptr);
