// tqImage: pixel buffer operations shared by every format, and tqMemBlock.
#include "image/tqImage.h"

#include <algorithm>
#include <cstring>

namespace {
const char kNoBuffer[] = "ピクセルイメージ用バッファの確保に失敗しました";
}

// ------------------------------------------------------------ tqMemBlock

void tqMemBlock::init() {
  data = nullptr;
  size = capacity = 0;
  kind = 1;
  borrowed = 0;
}

void tqMemBlock::clear() {
  if (!borrowed && data) PrivateFree(data);
  data = nullptr;
  size = capacity = 0;
}

uint8_t* tqMemBlock::allocate(uint32_t n) {
  clear();
  borrowed = 0;
  if (n > 0xFFFFFFF8u) return nullptr;
  uint32_t rounded = (n + 7) & ~7u;
  data = static_cast<uint8_t*>(PrivateAlloc(0, rounded));
  if (!data) return nullptr;
  size = capacity = rounded;
  return data;
}

void tqMemBlock::adopt(uint8_t* buffer, uint32_t length, uint32_t allocated) {
  clear();
  data = buffer;
  size = length;
  capacity = allocated;
  borrowed = 0;
}

// ------------------------------------------------------------ tqImage

tqImage::~tqImage() {
  releasePixels();
  if (records_) {
    for (auto& entry : *records_) PrivateFree(entry.second);
    delete records_;
    records_ = nullptr;
  }
}

int tqImage::load(const tqMemBlock&, int) { return 0; }
int tqImage::loadByIndex(const tqMemBlock&, int, int*) { return 0; }
int tqImage::save(tqMemBlock&, int, int, int, int) { return 0; }

void tqImage::releasePixels() {
  if (pixels_) PrivateFree(pixels_);
  pixels_ = nullptr;
  bufferSize_ = 0;
}

void tqImage::setGeometry(int width, int height, int bytesPerPixel, int pitch) {
  width_ = width;
  height_ = height;
  bytesPerPixel_ = bytesPerPixel;
  pitch_ = pitch;
  bounds_ = {0, 0, width, height};
}

uint8_t* tqImage::reserve(uint32_t size) {
  if (pixels_ && bufferSize_ >= size) return pixels_;
  releasePixels();
  pixels_ = static_cast<uint8_t*>(PrivateAlloc(0, size));
  if (!pixels_) {
    DebugPrint("%s", kNoBuffer);
    return nullptr;
  }
  bufferSize_ = size;
  return pixels_;
}

int tqImage::create(int width, int height, int bytesPerPixel) {
  if (bytesPerPixel > 4) {
    ErrorBox("不正な bpp です");
    return 0;
  }
  if (bytesPerPixel < 1 || width < 0 || height < 0) return 0;
  uint64_t pitch = tqPaddedPitch((uint64_t)width, (uint64_t)bytesPerPixel);
  uint64_t size = pitch * (uint64_t)height;
  if (size > 0xFFFFFFFFu || !reserve((uint32_t)size)) {
    if (size > 0xFFFFFFFFu) DebugPrint("%s", kNoBuffer);
    return 0;
  }
  memset(pixels_, 0, (size_t)size);
  setGeometry(width, height, bytesPerPixel, (int)pitch);
  return 1;
}

int tqImage::copyFrom(const tqImage& other) {
  if (&other == this) return 1;
  if (!other.pixels_ || other.bufferSize_ == 0) return 0;
  if (!reserve(other.bufferSize_)) return 0;
  memcpy(pixels_, other.pixels_, other.bufferSize_);
  width_ = other.width_;
  height_ = other.height_;
  pitch_ = other.pitch_;
  bytesPerPixel_ = other.bytesPerPixel_;
  bufferSize_ = other.bufferSize_;
  int cw, ch;
  other.canvasSize(&cw, &ch);
  canvasWidth_ = cw;
  canvasHeight_ = ch;
  offsetX_ = other.offsetX_;
  offsetY_ = other.offsetY_;
  alphaState_ = other.alphaState_;
  userValue1_ = other.userValue1_;
  userValue2_ = other.userValue2_;
  cptype_ = other.cptype_;
  bounds_ = {0, 0, width_, height_};
  return 1;
}

int tqImage::blit(int dstX, int dstY, const tqImage& source, int srcX, int srcY, int w, int h) {
  if (source.bytesPerPixel_ != bytesPerPixel_ || !pixels_ || !source.pixels_) return 0;
  // 64-bit coordinates: offsets from files may sit anywhere in the int range.
  int64_t sx0 = std::max<int64_t>(srcX, 0), sy0 = std::max<int64_t>(srcY, 0);
  int64_t sx1 = std::min<int64_t>((int64_t)srcX + w, source.width_);
  int64_t sy1 = std::min<int64_t>((int64_t)srcY + h, source.height_);
  if (sx1 <= sx0 || sy1 <= sy0) return 0;
  int64_t dx0 = dstX, dy0 = dstY;
  int64_t dx1 = dx0 + (sx1 - sx0), dy1 = dy0 + (sy1 - sy0);
  // A destination left of or above the picture drops the source pixels that
  // would land outside it, so every pixel keeps its place.
  if (dx0 < 0) {
    sx0 -= dx0;
    dx0 = 0;
  }
  if (dy0 < 0) {
    sy0 -= dy0;
    dy0 = 0;
  }
  dx1 = std::min<int64_t>(dx1, width_);
  dy1 = std::min<int64_t>(dy1, height_);
  if (dx1 <= dx0 || dy1 <= dy0) return 0;
  size_t rowBytes = (size_t)(dx1 - dx0) * (size_t)bytesPerPixel_;
  for (int64_t y = 0; y < dy1 - dy0; ++y) {
    const uint8_t* s = source.pixels_ + (size_t)(sy0 + y) * (size_t)source.pitch_ + (size_t)sx0 * bytesPerPixel_;
    uint8_t* d = pixels_ + (size_t)(dy0 + y) * (size_t)pitch_ + (size_t)dx0 * bytesPerPixel_;
    memmove(d, s, rowBytes);
  }
  return 1;
}

int tqImage::crop(const tqp::Rect& rect) {
  if (!pixels_) return 0;
  int left = std::max(rect.left, 0), top = std::max(rect.top, 0);
  int right = std::min(rect.right, width_), bottom = std::min(rect.bottom, height_);
  if (left == 0 && top == 0 && right == width_ && bottom == height_) return 1;
  int w = std::max(right - left, 0), h = std::max(bottom - top, 0);
  uint64_t pitch = tqPaddedPitch((uint64_t)w, (uint64_t)bytesPerPixel_);
  uint64_t size = pitch * (uint64_t)h;
  uint8_t* buffer = static_cast<uint8_t*>(PrivateAlloc(0, (size_t)size));
  if (!buffer) {
    DebugPrint("%s", kNoBuffer);
    return 0;
  }
  memset(buffer, 0, (size_t)size);
  for (int y = 0; y < h; ++y)
    memcpy(buffer + (size_t)y * pitch, pixels_ + (size_t)(top + y) * pitch_ + (size_t)left * bytesPerPixel_,
           (size_t)w * bytesPerPixel_);
  releasePixels();
  pixels_ = buffer;
  bufferSize_ = (uint32_t)size;
  setGeometry(w, h, bytesPerPixel_, (int)pitch);
  return 1;
}

void tqImage::clearTransparentColour() {
  if (bytesPerPixel_ != 4 || !pixels_) return;
  for (int y = 0; y < height_; ++y) {
    uint8_t* p = pixels_ + (size_t)y * pitch_;
    for (int x = 0; x < width_; ++x, p += 4)
      if (p[3] == 0) p[0] = p[1] = p[2] = 0;
  }
}

int tqImage::flattenOnto(uint32_t colour) {
  if (bytesPerPixel_ != 4 || !pixels_) return 0;
  uint64_t pitch = tqPaddedPitch((uint64_t)width_, 3);
  uint64_t size = pitch * (uint64_t)height_;
  uint8_t* buffer = static_cast<uint8_t*>(PrivateAlloc(0, (size_t)size));
  if (!buffer) {
    DebugPrint("%s", kNoBuffer);
    return 0;
  }
  memset(buffer, 0, (size_t)size);
  const int b[3] = {(int)(colour & 0xFF), (int)((colour >> 8) & 0xFF), (int)((colour >> 16) & 0xFF)};
  for (int y = 0; y < height_; ++y) {
    const uint8_t* s = pixels_ + (size_t)y * pitch_;
    uint8_t* d = buffer + (size_t)y * pitch;
    for (int x = 0; x < width_; ++x, s += 4, d += 3) {
      int alpha = s[3];
      for (int k = 0; k < 3; ++k) d[k] = (uint8_t)(b[k] + (((s[k] - b[k]) * alpha) >> 8));
    }
  }
  releasePixels();
  pixels_ = buffer;
  bufferSize_ = (uint32_t)size;
  setGeometry(width_, height_, 3, (int)pitch);
  return 1;
}

int tqImage::opaqueBounds(tqp::Rect* rect) const {
  if (!pixels_ || !rect) return 0;
  *rect = {0, 0, width_, height_};
  if (bytesPerPixel_ != 4) return 1;
  int left = width_, right = -1, top = -1, bottom = -1;
  for (int y = 0; y < height_; ++y) {
    const uint8_t* row = pixels_ + (size_t)y * pitch_;
    int first = -1, last = -1;
    for (int x = 0; x < width_; ++x)
      if (row[x * 4 + 3]) {
        first = x;
        break;
      }
    if (first < 0) continue;
    for (int x = width_ - 1; x >= first; --x)
      if (row[x * 4 + 3]) {
        last = x;
        break;
      }
    left = std::min(left, first);
    right = std::max(right, last);
    if (top < 0) top = y;
    bottom = y;
  }
  if (top < 0) {
    *rect = {width_, height_, width_, height_};
    return 1;
  }
  *rect = {left, top, right + 1, bottom + 1};
  return 1;
}

int tqImage::flipVertical() {
  if (!pixels_ || height_ < 2) return 1;
  uint8_t* temp = static_cast<uint8_t*>(PrivateAlloc(0, (size_t)pitch_));
  if (!temp) return 0;
  for (int i = 0; i < height_ / 2; ++i) {
    uint8_t* a = pixels_ + (size_t)i * pitch_;
    uint8_t* b = pixels_ + (size_t)(height_ - 1 - i) * pitch_;
    memcpy(temp, a, (size_t)pitch_);
    memcpy(a, b, (size_t)pitch_);
    memcpy(b, temp, (size_t)pitch_);
  }
  PrivateFree(temp);
  return 1;
}

void tqImage::swapRedBlueIfMarked() {
  if (imgmode_ != 1) return;
  // Pixels of fewer than 3 bytes have no red and blue to exchange.
  if (pixels_ && bytesPerPixel_ >= 3) {
    for (int y = 0; y < height_; ++y) {
      uint8_t* p = pixels_ + (size_t)y * pitch_;
      for (int x = 0; x < width_; ++x, p += bytesPerPixel_) std::swap(p[0], p[2]);
    }
  }
  imgmode_ = 0;
}

int tqImage::hasTransparency() {
  if (bytesPerPixel_ <= 3) return 0;
  if (alphaState_ == 0 && pixels_) {
    alphaState_ = 1;
    for (int y = 0; y < height_ && alphaState_ == 1; ++y) {
      const uint8_t* p = pixels_ + (size_t)y * pitch_ + 3;
      for (int x = 0; x < width_; ++x, p += 4)
        if (*p != 255) {
          alphaState_ = 2;
          break;
        }
    }
  }
  return alphaState_ == 2 ? 1 : 0;
}

int tqImage::setAttributeRecord(int key, int kind, const void* data) {
  if (kind != 0 || !data) return 0;
  if (!records_) records_ = new std::map<uint16_t, uint8_t*>;
  uint16_t k = (uint16_t)(key & 0xFFFF);
  auto found = records_->find(k);
  if (found != records_->end()) {
    PrivateFree(found->second);
    records_->erase(found);
  }
  uint8_t* block = static_cast<uint8_t*>(PrivateAlloc(0, 20));
  if (!block) return 0;
  memcpy(block, data, 20);
  (*records_)[k] = block;
  return 1;
}

const uint8_t* tqImage::attributeRecord(int key) const {
  if (!records_) return nullptr;
  auto found = records_->find((uint16_t)(key & 0xFFFF));
  return found == records_->end() ? nullptr : found->second;
}

void tqImage::release() {
  if (--refCount_ <= 0) delete this;
}

void tqImage::offset(int* x, int* y) const {
  if (x) *x = offsetX_;
  if (y) *y = offsetY_;
}

void tqImage::canvasSize(int* w, int* h) const {
  if (w) *w = canvasWidth_ ? canvasWidth_ : width_;
  if (h) *h = canvasHeight_ ? canvasHeight_ : height_;
}

uint32_t tqImage::size(int* w, int* h) const {
  if (w) *w = width_;
  if (h) *h = height_;
  return bufferSize_;
}

uint8_t* tqImage::pixelFromBottom(int x, int y) const {
  return pixels_ + (ptrdiff_t)(height_ - y - 1) * pitch_ + (ptrdiff_t)x * bytesPerPixel_;
}

uint8_t* tqImage::pixelAt(int x, int y) const {
  if ((unsigned)x >= (unsigned)width_ || (unsigned)y >= (unsigned)height_ || !pixels_) return nullptr;
  return pixels_ + (size_t)y * pitch_ + (size_t)x * bytesPerPixel_;
}
