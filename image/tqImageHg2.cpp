// HG-2 reader and writer. Record distances and area lengths are checked
// against the buffer before they are followed.
#include "image/tqImageHg2.h"

#include <cstring>

#include "image/tqImageBytes.h"

namespace {
const char kMagic[] = "HG-2";
constexpr uint32_t kHeader37 = 88;
}  // namespace

int tqImageHg2::loadByIndex(const tqMemBlock& source, int index, int* outId) {
  tqByteView v{source.data, source.data ? source.size : 0};
  if (!v.data || !v.has(0, 12) || memcmp(v.data, kMagic, 4) != 0 || index < 0) return 0;
  int version = v.s16(8);
  int id = 0;
  if (version > 36) {
    uint64_t at = 0;
    for (int i = 0; i < index; ++i) {
      if (!v.has(at + 76, 4)) return 0;
      uint32_t next = v.u32(at + 76);
      if (next == 0) return 0;
      at += next;
    }
    if (!v.has(at + 52, 4)) return 0;
    id = v.s32(at + 52);
  } else if (index != 0) {
    return 0;
  }
  if (outId) *outId = id;
  return load(source, id);
}

int tqImageHg2::load(const tqMemBlock& source, int id) {
  tqByteView v{source.data, source.data ? source.size : 0};
  if (!v.data || !v.has(0, 4) || memcmp(v.data, kMagic, 4) != 0) {
    DebugPrint("HG2 : ヘッダが違います");
    return 0;
  }
  if (!v.has(0, 48)) return 0;
  const int version = v.s16(8);
  uint64_t record = 0, areas = 48;
  int32_t canvasW = 0, canvasH = 0, x = 0, y = 0, uv1 = 0, uv2 = 0;
  uint32_t flag = 0;
  if (version == 32 || version == 37) {
    const uint64_t extensionEnd = version == 37 ? 88 : 80;
    for (;;) {
      if (!v.has(record, extensionEnd)) return 0;
      if (v.s32(record + 52) == id) break;
      uint32_t next = v.u32(record + 76);
      if (next == 0) {
        DebugPrint("HG2(%d) : 対応するIDが見つかりません", id);
        return 0;
      }
      record += next;
    }
    areas = record + 48 + v.u32(record + 48);
    canvasW = v.s32(record + 56);
    canvasH = v.s32(record + 60);
    x = v.s32(record + 64);
    y = v.s32(record + 68);
    flag = v.u32(record + 72);
    if (version == 37) {
      uv1 = v.s32(record + 80);
      uv2 = v.s32(record + 84);
    }
  } else if (version != 16) {
    DebugPrint("HG2 : 未対応のバージョンです");
    return 0;
  }

  const uint32_t W = v.u32(record + 12), H = v.u32(record + 16);
  const int B = v.s16(record + 20) / 8;
  const int depth = v.s16(record + 22);
  if (W == 0 || H == 0 || W > 0x7FFFFFFFu || H > 0x7FFFFFFFu || B < 1 || B > 4 ||
      (uint64_t)W * H * B > TQIMAGE_MAX_BYTES || depth < 0 || depth > 8)
    return 0;
  tqHgBlock block;
  block.firstRow = 0;
  block.rows = H;
  block.byteAreaLength = v.u32(record + 32);
  block.byteAreaRaw = v.u32(record + 36);
  block.bitAreaLength = v.u32(record + 40);
  block.bitAreaRaw = v.u32(record + 44);
  if (!v.has(areas, block.byteAreaLength) || !v.has(areas + block.byteAreaLength, block.bitAreaLength)) return 0;
  const uint32_t rowBytes = W * (uint32_t)B, pictureBytes = rowBytes * H;
  const uint64_t area = (uint64_t)pictureBytes + 4096;
  if (block.byteAreaRaw > area || block.bitAreaRaw > area + 64) return 0;
  block.byteArea = v.data + areas;
  block.bitArea = block.byteArea + block.byteAreaLength;

  setGeometry((int)W, (int)H, B, (int)rowBytes);
  if (!reserve(pictureBytes)) return 0;
  int ok = codec_.beginDecode(*this, "tqImageHg2 : ") && codec_.decodeBlock(block);
  codec_.endDecode();
  if (!ok) return 0;

  if (depth != 0 && depth != 8) {
    // Channels of fewer bits: repeat their bits down to fill the byte.
    uint8_t widen[256];
    for (int value = 0; value < 256; ++value) {
      if (depth >= 4) {
        widen[value] = (uint8_t)(((value << (8 - depth)) | (value >> (2 * depth - 8))) & 0xFF);
      } else {
        int low = value & ((1 << depth) - 1), out = 0;
        for (int shift = 8 - depth; shift > -depth; shift -= depth)
          out |= shift >= 0 ? low << shift : low >> -shift;
        widen[value] = (uint8_t)out;
      }
    }
    for (uint32_t i = 0; i < pictureBytes; ++i) pixels_[i] = widen[pixels_[i]];
  }

  if (version == 16) {
    canvasW = (int32_t)W;
    canvasH = (int32_t)H;
  }
  canvasWidth_ = canvasW;
  canvasHeight_ = canvasH;
  offsetX_ = x;
  offsetY_ = y;
  userValue1_ = uv1;
  userValue2_ = uv2;
  alphaState_ = version == 16 ? 0 : (flag ? 2 : 1);
  return 1;
}

int tqImageHg2::save(tqMemBlock& destination, int id, int userValue1, int userValue2, int clearTransparent) {
  canvasWidth_ = width_;
  canvasHeight_ = height_;
  userValue1_ = userValue1;
  userValue2_ = userValue2;
  offsetX_ = offsetY_ = 0;
  if (bytesPerPixel_ != 3 && bytesPerPixel_ != 4) {
    DebugPrint("この色数には対応していません");
    destination.clear();
    return 0;
  }
  tqp::Rect bounds;
  if (!opaqueBounds(&bounds)) {
    destination.clear();
    return 0;
  }
  if (bounds.left >= bounds.right || bounds.top >= bounds.bottom) bounds = {0, 0, 2, 2};
  if (codec_.cropOnSave) {
    if (!crop(bounds)) {
      destination.clear();
      return 0;
    }
    offsetX_ = bounds.left;
    offsetY_ = bounds.top;
  }
  if (clearTransparent) clearTransparentColour();

  uint64_t capacity = 2ull * width_ * height_ * bytesPerPixel_ + kHeader37;
  if (capacity < 102400) capacity = 102400;
  if (capacity > 0xFFFFFFF0u || !destination.allocate((uint32_t)capacity)) {
    destination.clear();
    return 0;
  }
  tqHgEncoded areas;
  int64_t length = tqHgEncode(*this, destination.data + kHeader37, (uint32_t)(capacity - kHeader37), &areas);
  // A picture whose areas do not fit the output fails rather than writing
  // a truncated file.
  if (length < 0 || (uint64_t)length > capacity - kHeader37) {
    destination.clear();
    return 0;
  }
  uint8_t* h = destination.data;
  memcpy(h, kMagic, 4);
  tqPut32(h + 4, 12);
  tqPut32(h + 8, 37);
  tqPut32(h + 12, (uint32_t)width_);
  tqPut32(h + 16, (uint32_t)height_);
  tqPut16(h + 20, (uint16_t)(8 * bytesPerPixel_));
  tqPut16(h + 22, 0);
  tqPut32(h + 24, codec_.reservedWord1);
  tqPut32(h + 28, codec_.reservedWord2);
  tqPut32(h + 32, areas.byteAreaLength);
  tqPut32(h + 36, areas.byteAreaRaw);
  tqPut32(h + 40, areas.bitAreaLength);
  tqPut32(h + 44, areas.bitAreaRaw);
  tqPut32(h + 48, 40);
  tqPut32(h + 52, (uint32_t)id);
  tqPut32(h + 56, (uint32_t)canvasWidth_);
  tqPut32(h + 60, (uint32_t)canvasHeight_);
  tqPut32(h + 64, (uint32_t)offsetX_);
  tqPut32(h + 68, (uint32_t)offsetY_);
  tqPut32(h + 72, (uint32_t)hasTransparency());
  tqPut32(h + 76, 0);
  tqPut32(h + 80, (uint32_t)userValue1_);
  tqPut32(h + 84, (uint32_t)userValue2_);
  destination.size = kHeader37 + (uint32_t)length;
  return 1;
}
