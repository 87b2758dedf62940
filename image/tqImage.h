// The in-memory picture of the image library: one pixel buffer of 1 to 4
// bytes per pixel plus the placement data the native formats carry. Each file
// format is a subclass that loads from and saves to memory blocks.
//
// Memory rule of every loader in this library. A picture is refused, before
// anything is allocated for it, when it has more than TQIMAGE_MAX_PIXELS
// pixels (about 89 million) or its buffer would exceed TQIMAGE_MAX_BYTES
// (256 MiB: 64 Mi pixels for the 4-byte pictures most loaders make). Past
// that gate a loader allocates at most a small multiple of the decoded
// picture's size (the picture, one plane or index buffer of it, a codec's
// own working arrays of a few times its size) plus a fixed amount: chunk,
// marker and section lengths read from a file never size an allocation
// beyond the file itself. A hostile header therefore costs no more than its
// declared picture, and a file too short for the picture it declares is
// refused before the picture is made wherever the format lets us know.
#pragma once

#include <cstdint>
#include <map>

#include "platform/tqPlatform.h"
#include "tqClassBase/tqClassBase.h"

// Encoded bytes handed to load and filled by save.
struct tqMemBlock {
  uint8_t* data = nullptr;
  uint32_t size = 0;      // valid bytes; the length every loader reads
  uint32_t capacity = 0;  // allocated bytes
  uint32_t kind = 1;      // set to 1 by initialisation, never read here
  int32_t borrowed = 0;   // data belongs to someone else

  tqMemBlock() = default;
  // A block over bytes the caller keeps owning.
  tqMemBlock(const void* bytes, uint32_t length)
      : data(static_cast<uint8_t*>(const_cast<void*>(bytes))), size(length), capacity(length), borrowed(1) {}
  ~tqMemBlock() { clear(); }
  tqMemBlock(const tqMemBlock&) = delete;
  tqMemBlock& operator=(const tqMemBlock&) = delete;

  void init();
  // Releases owned data; the block is empty afterwards.
  void clear();
  // Clears, then allocates n rounded up to a multiple of 8 bytes; size and
  // capacity are the rounded length. Null on exhaustion.
  uint8_t* allocate(uint32_t n);
  // Takes over a private-heap buffer (released by clear).
  void adopt(uint8_t* buffer, uint32_t length, uint32_t allocated);
};

// The limits of the memory rule above. Fuzzing builds lower them to keep
// runs fast.
#ifndef TQ_IMAGE_MAX_BYTES
#define TQ_IMAGE_MAX_BYTES 0x10000000  // 256 MiB
#endif
constexpr uint64_t TQIMAGE_MAX_BYTES = TQ_IMAGE_MAX_BYTES;
// 3-byte pictures (JPEG) of up to 256 MiB keep loading.
constexpr uint64_t TQIMAGE_MAX_PIXELS = TQIMAGE_MAX_BYTES / 3;

// True when a picture of width x height at bytesPerPixel passes the gate
// above (zero sizes pass; loaders refuse them on their own terms).
inline bool tqImageFits(uint64_t width, uint64_t height, uint64_t bytesPerPixel) {
  if (width > 0xFFFFFFFFu || height > 0xFFFFFFFFu) return false;
  const uint64_t pixels = width * height;
  return pixels <= TQIMAGE_MAX_PIXELS && pixels * bytesPerPixel <= TQIMAGE_MAX_BYTES;
}

class tqImage : public tqClassBase {
 public:
  tqImage() = default;
  virtual ~tqImage();
  tqImage(const tqImage&) = delete;
  tqImage& operator=(const tqImage&) = delete;

  // Format slots. id picks a picture of a multi-picture file.
  virtual int load(const tqMemBlock& source, int id);
  virtual int loadByIndex(const tqMemBlock& source, int index, int* outId);
  virtual int save(tqMemBlock& destination, int id, int userValue1, int userValue2, int clearTransparent);

  int create(int width, int height, int bytesPerPixel);
  uint8_t* reserve(uint32_t size);
  int copyFrom(const tqImage& other);
  int blit(int dstX, int dstY, const tqImage& source, int srcX, int srcY, int w, int h);
  int crop(const tqp::Rect& rect);
  void clearTransparentColour();
  int flattenOnto(uint32_t colour);
  int opaqueBounds(tqp::Rect* rect) const;
  int flipVertical();
  void swapRedBlueIfMarked();
  int hasTransparency();
  int setAttributeRecord(int key, int kind, const void* data);
  // Ends the caller's reference; the last one destroys the object.
  void release();
  void addRef() { ++refCount_; }

  int pitch() const { return pitch_; }
  int bytesPerPixel() const { return bytesPerPixel_; }
  uint8_t* pixels() const { return pixels_; }
  void offset(int* x, int* y) const;
  void canvasSize(int* w, int* h) const;
  uint32_t size(int* w, int* h) const;
  uint8_t* pixelFromBottom(int x, int y) const;
  uint8_t* pixelAt(int x, int y) const;

  int width() const { return width_; }
  int height() const { return height_; }
  uint32_t bufferSize() const { return bufferSize_; }
  int alphaState() const { return alphaState_; }
  int userValue1() const { return userValue1_; }
  int userValue2() const { return userValue2_; }
  int cptype() const { return cptype_; }
  int imgmode() const { return imgmode_; }
  const tqp::Rect& bounds() const { return bounds_; }
  // The 20-byte record under key, or null.
  const uint8_t* attributeRecord(int key) const;
  size_t attributeRecordCount() const { return records_ ? records_->size() : 0; }

  void setOffset(int x, int y) { offsetX_ = x; offsetY_ = y; }
  void setCanvasSize(int w, int h) { canvasWidth_ = w; canvasHeight_ = h; }
  void setUserValues(int v1, int v2) { userValue1_ = v1; userValue2_ = v2; }
  void setAlphaState(int state) { alphaState_ = state; }
  void setImgmode(int mode) { imgmode_ = mode; }

 protected:
  // Sets the geometry of an unpadded picture (the HG decoders' layout).
  void setGeometry(int width, int height, int bytesPerPixel, int pitch);
  void releasePixels();

  int32_t width_ = 0;
  int32_t height_ = 0;
  uint8_t* pixels_ = nullptr;
  uint32_t bufferSize_ = 0;
  int32_t pitch_ = 0;
  int32_t bytesPerPixel_ = 0;
  int32_t canvasWidth_ = 0;
  int32_t canvasHeight_ = 0;
  int32_t offsetX_ = 0;
  int32_t offsetY_ = 0;
  int32_t alphaState_ = 0;
  int32_t userValue1_ = 0;
  int32_t userValue2_ = 0;
  tqp::Rect bounds_ = {0, 0, 0, 0};
  std::map<uint16_t, uint8_t*>* records_ = nullptr;
  int32_t refCount_ = 1;
  int32_t cptype_ = 0;
  int32_t imgmode_ = 0;
};

// Pitch of the padded layouts: a row rounded up to a multiple of 4 bytes.
inline uint64_t tqPaddedPitch(uint64_t width, uint64_t bytesPerPixel) {
  return (width * bytesPerPixel + 3) & ~uint64_t(3);
}
