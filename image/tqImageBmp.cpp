// BMP reader and writer. The pixel rows start where the file header says
// (offset 54 when it gives a place inside the headers, as careless writers
// leave it zero); top-down files are turned over so that every loaded bitmap
// has its bottom row first; a file too short for its rows is refused.
#include "image/tqImageBmp.h"

#include "image/tqImageBytes.h"

bool tqImageBmp::isBmp(const uint8_t* data, uint32_t size) {
  if (!data || size < 30 || data[0] != 'B' || data[1] != 'M') return false;
  tqByteView v{data, size};
  uint16_t bits = v.u16(28);
  return bits == 24 || bits == 32;
}

int tqImageBmp::load(const tqMemBlock& source, int) {
  tqByteView v{source.data, source.data ? source.size : 0};
  if (!v.data || !v.has(0, 18) || v.data[0] != 'B' || v.data[1] != 'M') {
    DebugPrint("イメージのタイプが違います");
    return 0;
  }
  uint32_t headerSize = v.u32(14);
  if (headerSize == 40 && v.has(14, 40)) {
    memcpy(infoHeader, v.data + 14, 40);
  } else if (headerSize == 12 && v.has(14, 12)) {
    memset(infoHeader, 0, sizeof infoHeader);
    tqPut32(infoHeader, 40);
    tqPut32(infoHeader + 4, v.u16(18));
    tqPut32(infoHeader + 8, v.u16(20));
    tqPut16(infoHeader + 12, v.u16(22));
    tqPut16(infoHeader + 14, v.u16(24));
  } else {
    DebugPrint("イメージのタイプが違います");
    return 0;
  }
  tqByteView info{infoHeader, 40};
  const int32_t W = info.s32(4), storedH = info.s32(8);
  const int bits = info.u16(14);
  // A negative height marks a top-down file.
  const bool topDown = storedH < 0;
  const int64_t H = topDown ? -(int64_t)storedH : storedH;
  if (W <= 0 || H <= 0 || (uint64_t)W * (uint64_t)H * 4 > TQIMAGE_MAX_BYTES) return 0;
  if (bits != 24 && bits != 32) return 0;
  const uint64_t fileRow = bits == 24 ? tqPaddedPitch((uint64_t)W, 3) : (uint64_t)W * 4;
  uint64_t offset = v.u32(10);
  if (offset < 14 + (uint64_t)headerSize) offset = 54;
  if (!v.has(offset, fileRow * (uint64_t)H)) return 0;
  const uint32_t pitch = (uint32_t)W * 4;
  if (!reserve(pitch * (uint32_t)H)) return 0;
  setGeometry(W, (int)H, 4, (int)pitch);
  canvasWidth_ = W;
  canvasHeight_ = (int)H;
  const uint8_t* src = v.data + offset;
  for (int64_t y = 0; y < H; ++y, src += fileRow) {
    uint8_t* dst = pixels_ + (size_t)(topDown ? H - 1 - y : y) * pitch;
    if (bits == 32) {
      memcpy(dst, src, pitch);
    } else {
      const uint8_t* s = src;
      for (int32_t x = 0; x < W; ++x, s += 3, dst += 4) {
        dst[0] = s[0];
        dst[1] = s[1];
        dst[2] = s[2];
        dst[3] = 255;
      }
    }
  }
  return 1;
}

int tqImageBmp::save(tqMemBlock& destination, int, int, int, int) {
  if (!pixels_ || (uint64_t)bufferSize_ + 54 > 0xFFFFFFF0u) return 0;
  const uint32_t total = bufferSize_ + 54;
  if (!destination.allocate(total)) return 0;
  uint8_t* h = destination.data;
  memset(h, 0, destination.capacity);
  h[0] = 'B';
  h[1] = 'M';
  tqPut32(h + 2, total);
  tqPut32(h + 10, 54);
  tqPut32(h + 14, 40);
  tqPut32(h + 18, (uint32_t)width_);
  tqPut32(h + 22, (uint32_t)height_);
  tqPut16(h + 26, 1);
  tqPut16(h + 28, (uint16_t)(8 * bytesPerPixel_));
  tqPut32(h + 34, bufferSize_);
  memcpy(h + 54, pixels_, bufferSize_);
  destination.size = total;
  return 1;
}
