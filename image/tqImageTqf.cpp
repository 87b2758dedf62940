// TQF pictures: a 12-byte header and the TQLZ stream of the pixel buffer.
#include "image/tqImageTqf.h"

#include <cstring>
#include <utility>

#include "image/tqImageBytes.h"

bool tqImageTqf::isTqf(const uint8_t* data, uint32_t size) {
  return data && size >= 4 && memcmp(data, "TQF", 4) == 0;
}

int tqImageTqf::load(const tqMemBlock& source, int) {
  tqByteView v{source.data, source.data ? source.size : 0};
  if (!isTqf(v.data, (uint32_t)v.size)) {
    DebugPrint("イメージのタイプが違います");
    return 0;
  }
  if (!v.has(0, 12)) return 0;
  const uint32_t W = v.u16(4), H = v.u16(6), pitch = v.u16(8), B = v.u16(10);
  const uint8_t* stream = v.data + 12;
  const uint32_t streamLength = (uint32_t)v.size - 12;
  const uint32_t raw = tqLzDecompress(stream, streamLength, nullptr);
  // The rows the header describes must lie inside the buffer.
  if (raw == 0 || raw > TQIMAGE_MAX_BYTES || B < 1 || B > 4 || (uint64_t)W * B > pitch ||
      (uint64_t)pitch * H > raw)
    return 0;
  if (!reserve(raw)) return 0;
  if (tqLzDecompress(stream, streamLength, pixels_) != raw) return 0;
  bufferSize_ = raw;
  setGeometry((int)W, (int)H, (int)B, (int)pitch);
  canvasWidth_ = (int)W;
  canvasHeight_ = (int)H;
  return 1;
}

int tqImageTqf::save(tqMemBlock& destination, int, int, int, int) {
  if (!pixels_ || width_ > 0xFFFF || height_ > 0xFFFF || pitch_ > 0xFFFF || bufferSize_ > 0x7FFFFFFFu) return 0;
  clearTransparentColour();
  // Each mode is compressed once into room for its longest stream; the
  // shortest stream so far is kept (the lowest mode on ties), so the chosen
  // one needs no second pass. Without room for two streams, the modes are
  // only measured and the chosen one is compressed again.
  const size_t room = 28 + (size_t)bufferSize_ / 8 + 1 + (size_t)bufferSize_ + 1;
  uint8_t* kept = static_cast<uint8_t*>(PrivateAlloc(0, room));
  uint8_t* trial = kept ? static_cast<uint8_t*>(PrivateAlloc(0, room)) : nullptr;
  if (!trial && kept) {
    PrivateFree(kept);
    kept = nullptr;
  }
  uint32_t best = 0;
  int bestMode = 0;
  for (int mode = 0; mode < 5; ++mode) {
    uint32_t length = tqLzCompress(pixels_, bufferSize_, trial, mode);
    if (length == 0) {
      best = 0;
      break;
    }
    if (best == 0 || length < best) {
      best = length;
      bestMode = mode;
      std::swap(kept, trial);
    }
  }
  bool ok = best != 0 && (uint64_t)best + 12 <= 0xFFFFFFF0u && destination.allocate(best + 12);
  if (ok) {
    memset(destination.data, 0, destination.capacity);
    if (kept)
      memcpy(destination.data + 12, kept, best);
    else
      ok = tqLzCompress(pixels_, bufferSize_, destination.data + 12, bestMode) == best;
  }
  if (kept) PrivateFree(kept);
  if (trial) PrivateFree(trial);
  if (!ok) {
    DebugPrint("イメージの保存に失敗しました");
    destination.clear();
    return 0;
  }
  memcpy(destination.data, "TQF", 4);
  tqPut16(destination.data + 4, (uint16_t)width_);
  tqPut16(destination.data + 6, (uint16_t)height_);
  tqPut16(destination.data + 8, (uint16_t)pitch_);
  tqPut16(destination.data + 10, (uint16_t)bytesPerPixel_);
  destination.size = best + 12;
  return 1;
}
