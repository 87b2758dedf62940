// The lossless pixel codec of the HG-2 and HG-3 pictures: prediction, zigzag
// codes, four planes of 2-bit groups, and zero/non-zero runs whose lengths are
// Elias gamma codes in a bit area, the non-zero bytes in a byte area; both
// areas are zlib streams.
#pragma once

#include <cstdint>

#include "image/tqImage.h"

// One encoded block as a container describes it: the rows it covers, counted
// from the bottom row of the picture, and its two compressed areas.
struct tqHgBlock {
  uint32_t firstRow = 0;  // r0, 0 = bottom row
  uint32_t rows = 0;
  const uint8_t* byteArea = nullptr;
  uint32_t byteAreaLength = 0;
  uint32_t byteAreaRaw = 0;
  const uint8_t* bitArea = nullptr;
  uint32_t bitAreaLength = 0;
  uint32_t bitAreaRaw = 0;
};

// Codec state of an HG picture object, and its decoder.
class tqHgCodec {
 public:
  tqHgCodec() = default;
  ~tqHgCodec() { endDecode(); }
  tqHgCodec(const tqHgCodec&) = delete;
  tqHgCodec& operator=(const tqHgCodec&) = delete;

  // Prepares decoding into image (geometry set, buffer reserved with an
  // unpadded pitch): the expanded area, sized by the whole picture. prefix
  // starts the messages ("tqImageHg3 : ").
  int beginDecode(tqImage& image, const char* prefix);
  // Decodes one block into its rows; 0 when the block is broken or hostile.
  int decodeBlock(const tqHgBlock& block);
  // Releases the working areas.
  void endDecode();

  // Written into HG-2 headers on save; never read.
  uint32_t reservedWord1 = 0;
  uint32_t reservedWord2 = 0;
  // HG-2 save crops to the visible pixels when set.
  int32_t cropOnSave = 1;

 private:
  uint8_t* inflateByteArea(const tqHgBlock& block, int64_t* count, bool* inTail);
  void mergePlanes(const tqHgBlock& block, uint64_t expanded);

  tqImage* image_ = nullptr;
  const char* prefix_ = "";
  uint8_t* expanded_ = nullptr;  // the expanded area E
  uint64_t expandedCapacity_ = 0;
  uint8_t* bitAreaBuffer_ = nullptr;
  uint8_t* byteAreaBuffer_ = nullptr;  // only when the byte area cannot share E
  void* inflater_ = nullptr;           // whole-buffer inflater, when there is one
};

// Inflates a zlib stream into dst (capacity bytes): returns the bytes
// delivered, cut at the capacity; the rest of dst is zero-filled. -1 when
// zlib cannot start. The whole stream is inflated at once where possible,
// with the streaming inflater for anything the fast one refuses.
int64_t tqHgInflate(const uint8_t* src, uint32_t length, uint8_t* dst, uint32_t capacity);
// The same with zlib alone, streaming: the fallback, and the reference the
// fast inflater is held to.
int64_t tqHgInflateStreaming(const uint8_t* src, uint32_t length, uint8_t* dst, uint32_t capacity);
// Deflates at level 9 into dst: returns the whole compressed length, which
// may exceed capacity (then only the first capacity bytes are stored), or -1.
int64_t tqHgDeflate(const uint8_t* src, uint32_t length, uint8_t* dst, uint32_t capacity);

// Result of encoding one picture.
struct tqHgEncoded {
  uint32_t byteAreaLength = 0, byteAreaRaw = 0;
  uint32_t bitAreaLength = 0, bitAreaRaw = 0;
};
// Encodes the whole of image (3 or 4 bytes per pixel) into dst: the
// compressed byte area, then the compressed bit area. Returns the total
// compressed length (possibly above capacity: nothing valid then), -1 for an
// unsupported depth (after its message) and -2 for other failures.
int64_t tqHgEncode(const tqImage& image, uint8_t* dst, uint32_t capacity, tqHgEncoded* out);
