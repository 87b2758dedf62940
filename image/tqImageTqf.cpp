// TQF pictures and the TQLZ coder. The decoder refuses matches that reach
// before the start of the output and streams that run out of flag or data
// bytes; matches are cut at the raw length.
#include "image/tqImageTqf.h"

#include <cstring>
#include <vector>

#include "image/tqImageBytes.h"

namespace {

constexpr uint32_t kStreamHeader = 28;

struct Mode {
  int windowBits;
  int lengthBits;
  uint32_t window() const { return 1u << windowBits; }
  uint32_t longest() const { return (1u << lengthBits) + 2; }
};

Mode ModeOf(int mode) { return Mode{13 - mode, 3 + mode}; }

}  // namespace

uint32_t tqLzCompress(const uint8_t* input, uint32_t length, uint8_t* output, int mode, tqLzProgress progress,
                      void* user) {
  if (mode < 0 || mode > 4 || (!input && length)) return 0;
  const Mode m = ModeOf(mode);
  const uint32_t window = m.window(), buckets = 2 * window, longest = m.longest();
  // Chains of earlier positions by the key of their first three bytes,
  // oldest first; slot p % window holds position p while it is in the ring.
  std::vector<int64_t> head(buckets, -1), tail(buckets, -1), next(window, -1);
  std::vector<uint32_t> bucketOf(window, 0);
  auto byteAt = [&](uint64_t p) -> uint32_t { return p < length ? input[p] : 0; };
  auto keyOf = [&](uint64_t p) { return (byteAt(p) + 256 * byteAt(p + 1) + 65536 * byteAt(p + 2)) % buckets; };
  auto add = [&](uint32_t p) {
    uint32_t slot = p % window;
    if (p >= window) {  // the ring is full: drop the oldest position
      uint32_t old = bucketOf[slot];
      head[old] = next[slot];
      if (head[old] < 0) tail[old] = -1;
    }
    uint32_t key = keyOf(p);
    bucketOf[slot] = key;
    next[slot] = -1;
    if (tail[key] >= 0)
      next[tail[key] % window] = p;
    else
      head[key] = p;
    tail[key] = p;
  };

  uint8_t* flags = output ? output + kStreamHeader : nullptr;
  std::vector<uint8_t> data;
  data.reserve(length / 2 + 16);
  uint32_t flagIndex = 0, flagBit = 0;
  uint8_t flagByte = 0;
  std::vector<uint8_t> flagBytes;
  uint32_t pos = 0;
  while (pos < length) {
    uint32_t bestCount = 0, bestPos = 0;
    uint32_t limit = length - pos < longest ? length - pos : longest;
    for (int64_t c = head[keyOf(pos)]; c >= 0; c = next[c % window]) {
      uint32_t cand = (uint32_t)c;
      if (input[cand] != input[pos]) continue;
      uint32_t count = 0;
      while (count < limit && input[cand + count] == input[pos + count]) ++count;
      if (count > bestCount) {
        bestCount = count;
        bestPos = cand;
      }
      if (bestCount >= longest) break;
    }
    uint32_t advance;
    if (bestCount >= 3) {
      uint32_t word = ((pos - bestPos - 1) << m.lengthBits) | (bestCount - 3);
      data.push_back((uint8_t)word);
      data.push_back((uint8_t)(word >> 8));
      flagByte |= (uint8_t)(1u << flagBit);
      advance = bestCount;
    } else {
      data.push_back(input[pos]);
      advance = 1;
    }
    if (++flagBit == 8) {
      flagBytes.push_back(flagByte);
      flagByte = 0;
      flagBit = 0;
      ++flagIndex;
    }
    for (uint32_t i = 0; i < advance; ++i) add(pos + i);
    pos += advance;
    if (progress) progress(pos, length, user);
  }
  flagBytes.push_back(flagByte);  // the byte in use at the end
  const uint32_t F = flagIndex + 1;
  data.push_back(0);  // never read back
  const uint32_t D = (uint32_t)data.size();
  if (output) {
    memcpy(output, "TQLZ", 4);
    tqPut32(output + 4, (uint32_t)mode);
    tqPut32(output + 8, length);
    tqPut32(output + 12, F);
    tqPut32(output + 16, D);
    tqPut32(output + 20, kStreamHeader);
    tqPut32(output + 24, kStreamHeader + F);
    memcpy(flags, flagBytes.data(), F);
    memcpy(output + kStreamHeader + F, data.data(), D);
  }
  return kStreamHeader + F + D;
}

uint32_t tqLzDecompress(const uint8_t* stream, uint32_t streamLength, uint8_t* output, tqLzProgress progress,
                        void* user) {
  tqByteView v{stream, stream ? streamLength : 0};
  if (!v.data || !v.has(0, kStreamHeader) || memcmp(stream, "TQLZ", 4) != 0) return 0;
  const uint32_t mode = v.u32(4), raw = v.u32(8), F = v.u32(12), D = v.u32(16);
  const uint32_t flagOffset = v.u32(20), dataOffset = v.u32(24);
  if (mode > 4 || !v.has(flagOffset, F) || !v.has(dataOffset, D)) return 0;
  if (!output) return raw;
  const Mode m = ModeOf((int)mode);
  const uint8_t* flags = stream + flagOffset;
  const uint8_t* data = stream + dataOffset;
  uint64_t f = 0, di = 0;  // flag bit index, data index
  uint32_t out = 0;
  while (out < raw) {
    if (f / 8 >= F) return 0;
    bool match = (flags[f / 8] >> (f % 8)) & 1;
    ++f;
    if (match) {
      if (di + 2 > D) return 0;
      uint32_t word = data[di] | (uint32_t)data[di + 1] << 8;
      di += 2;
      uint32_t distance = (word >> m.lengthBits) + 1;
      uint32_t count = (word & ((1u << m.lengthBits) - 1)) + 3;
      if (distance > out) return 0;
      if (count > raw - out) count = raw - out;
      for (uint32_t i = 0; i < count; ++i, ++out) output[out] = output[out - distance];
    } else {
      if (di + 1 > D) return 0;
      output[out++] = data[di++];
    }
    if (progress) progress(out, raw, user);
  }
  return raw;
}

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
  if (!pixels_ || width_ > 0xFFFF || height_ > 0xFFFF || pitch_ > 0xFFFF) return 0;
  clearTransparentColour();
  uint32_t best = 0;
  int bestMode = 0;
  for (int mode = 0; mode < 5; ++mode) {
    uint32_t length = tqLzCompress(pixels_, bufferSize_, nullptr, mode);
    if (length == 0) {
      DebugPrint("イメージの保存に失敗しました");
      return 0;
    }
    if (best == 0 || length < best) {
      best = length;
      bestMode = mode;
    }
  }
  if ((uint64_t)best + 12 > 0xFFFFFFF0u || !destination.allocate(best + 12)) return 0;
  memset(destination.data, 0, destination.capacity);
  if (tqLzCompress(pixels_, bufferSize_, destination.data + 12, bestMode) != best) {
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
