// TQLZ coder. The compressor finds, for every position, the oldest earlier
// position in the window with the longest match (an equal length never
// replaces an older candidate) and stops looking once a match reaches the
// longest length. Chains hold the positions of each hash of three bytes,
// oldest first, so the oldest longest match is met first and a long run of
// one byte costs one candidate per token.
#include "image/tqLz.h"

#include <bit>
#include <cstring>

#include "image/tqImageBytes.h"
#include "tqClassBase/tqClassBase.h"

static_assert(std::endian::native == std::endian::little, "match lengths are counted on little-endian words");

namespace {

constexpr uint32_t kHeader = 28;
constexpr uint32_t kBucketsPerSlotBits = 3;
constexpr uint32_t kBucketsPerSlot = 1u << kBucketsPerSlotBits;
constexpr uint32_t kProgressStep = 1u << 16;

struct Mode {
  uint32_t windowBits, lengthBits;
  uint32_t window() const { return 1u << windowBits; }
  uint32_t longest() const { return (1u << lengthBits) + 2; }
};

Mode ModeOf(int mode) { return Mode{13u - (uint32_t)mode, 3u + (uint32_t)mode}; }

inline uint32_t Three(const uint8_t* p) { return p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16; }
inline uint32_t HashOf(uint32_t three, uint32_t shift) { return (three * 2654435761u) >> shift; }

// Length of the common prefix of a and b, at most limit.
inline uint32_t CommonLength(const uint8_t* a, const uint8_t* b, uint32_t limit) {
  uint32_t n = 0;
  while (n + 8 <= limit) {
    uint64_t x, y;
    memcpy(&x, a + n, 8);
    memcpy(&y, b + n, 8);
    if (uint64_t d = x ^ y) return n + (uint32_t)(std::countr_zero(d) >> 3);
    n += 8;
  }
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}

// Working memory: per hash the oldest and newest position of its chain (side
// by side, one cache line for both), and per ring slot the next newer
// position of its chain and the hash it was filed under.
struct Chains {
  struct Ends {
    int32_t head, tail;
  };
  Ends* ends = nullptr;
  int32_t* next = nullptr;
  uint32_t* hashOf = nullptr;
  void* block = nullptr;
  uint32_t mask = 0;
  uint32_t shift = 0;  // of the hash: kBucketsPerSlot x window buckets

  bool init(uint32_t windowBits) {
    const uint32_t window = 1u << windowBits, buckets = window * kBucketsPerSlot;
    shift = 32 - windowBits - kBucketsPerSlotBits;
    const size_t bytes = (size_t)buckets * sizeof(Ends) + (size_t)window * 8;
    block = PrivateAlloc(0, bytes);
    if (!block) return false;
    ends = static_cast<Ends*>(block);
    next = reinterpret_cast<int32_t*>(ends + buckets);
    hashOf = reinterpret_cast<uint32_t*>(next + window);
    memset(ends, 0xFF, (size_t)buckets * sizeof(Ends));
    mask = window - 1;
    return true;
  }
  ~Chains() {
    if (block) PrivateFree(block);
  }

  // Files position p (which has three bytes after it) under hash h; the ring
  // is full from p = window on, and the position it drops is the oldest of
  // all and so the head of its chain.
  void add(uint32_t p, uint32_t h, uint32_t window) {
    const uint32_t slot = p & mask;
    if (p >= window) {
      Ends& old = ends[hashOf[slot]];
      old.head = next[slot];
      if (old.head < 0) old.tail = -1;
    }
    hashOf[slot] = h;
    next[slot] = -1;
    Ends& e = ends[h];
    if (e.tail >= 0)
      next[(uint32_t)e.tail & mask] = (int32_t)p;
    else
      e.head = (int32_t)p;
    e.tail = (int32_t)p;
  }
};

}  // namespace

uint64_t tqLzMostRaw(uint32_t flagBytes, int mode) {
  if (mode < 0 || mode > 4) return 0;
  return (uint64_t)flagBytes * 8 * ModeOf(mode).longest();
}

uint32_t tqLzCompress(const uint8_t* input, uint32_t length, uint8_t* output, int mode, tqLzProgress progress,
                      void* user) {
  if (mode < 0 || mode > 4 || (!input && length) || length > 0x7FFFFFFFu) return 0;
  const Mode m = ModeOf(mode);
  const uint32_t window = m.window(), longest = m.longest();
  Chains chains;
  if (!chains.init(m.windowBits)) return 0;
  // With an output the flag bytes go to their place at once; the data bytes
  // wait in a buffer of their own until the flag count is known.
  uint8_t* flags = output ? output + kHeader : nullptr;
  uint8_t* data = nullptr;
  if (output && !(data = static_cast<uint8_t*>(PrivateAlloc(0, (size_t)length + 1)))) return 0;

  // Positions from here on have fewer than three bytes: literals only.
  const uint32_t searchEnd = length >= 3 ? length - 2 : 0;
  uint32_t pos = 0, dataBytes = 0, nextReport = kProgressStep;
  uint64_t tokens = 0;
  uint8_t flagByte = 0;
  while (pos < length) {
    uint32_t best = 0, bestPos = 0, hash = 0;
    if (pos < searchEnd) {
      const uint32_t limit = length - pos < longest ? length - pos : longest;
      const uint8_t* here = input + pos;
      const uint32_t three = Three(here);
      hash = HashOf(three, chains.shift);
      for (int32_t c = chains.ends[hash].head; c >= 0; c = chains.next[(uint32_t)c & chains.mask]) {
        const uint8_t* there = input + c;
        // Only a longer match replaces the best: the byte just past the best
        // length must agree first.
        if (there[best] != here[best] || Three(there) != three) continue;
        const uint32_t n = 3 + CommonLength(there + 3, here + 3, limit - 3);
        if (n > best) {
          best = n;
          bestPos = (uint32_t)c;
          if (n >= limit) break;
        }
      }
    }
    uint32_t advance = 1;
    if (best >= 3) {
      if (data) {
        const uint32_t word = ((pos - bestPos - 1) << m.lengthBits) | (best - 3);
        data[dataBytes] = (uint8_t)word;
        data[dataBytes + 1] = (uint8_t)(word >> 8);
      }
      dataBytes += 2;
      flagByte |= (uint8_t)(1u << (tokens & 7));
      advance = best;
    } else {
      if (data) data[dataBytes] = input[pos];
      dataBytes += 1;
    }
    if ((++tokens & 7) == 0) {
      if (flags) flags[tokens / 8 - 1] = flagByte;
      flagByte = 0;
    }
    const uint32_t addEnd = pos + advance < searchEnd ? pos + advance : searchEnd;
    if (pos < addEnd) chains.add(pos, hash, window);
    for (uint32_t p = pos + 1; p < addEnd; ++p) chains.add(p, HashOf(Three(input + p), chains.shift), window);
    pos += advance;
    if (progress && pos >= nextReport) {
      progress(pos, length, user);
      nextReport = pos + kProgressStep;
    }
  }
  if (progress) progress(length, length, user);
  // The flag byte in use at the end counts even when no bit of it is set,
  // and one data byte more than the tokens use is written.
  const uint32_t F = (uint32_t)(tokens / 8) + 1;
  const uint32_t D = dataBytes + 1;
  if (output) {
    flags[F - 1] = flagByte;
    data[dataBytes] = 0;
    memcpy(output, "TQLZ", 4);
    tqPut32(output + 4, (uint32_t)mode);
    tqPut32(output + 8, length);
    tqPut32(output + 12, F);
    tqPut32(output + 16, D);
    tqPut32(output + 20, kHeader);
    tqPut32(output + 24, kHeader + F);
    memcpy(output + kHeader + F, data, D);
    PrivateFree(data);
  }
  return kHeader + F + D;
}

uint32_t tqLzDecompress(const uint8_t* stream, uint32_t streamLength, uint8_t* output, tqLzProgress progress,
                        void* user) {
  tqByteView v{stream, stream ? streamLength : 0};
  if (!v.data || !v.has(0, kHeader) || memcmp(stream, "TQLZ", 4) != 0) return 0;
  const uint32_t mode = v.u32(4), raw = v.u32(8), F = v.u32(12), D = v.u32(16);
  const uint32_t flagOffset = v.u32(20), dataOffset = v.u32(24);
  if (mode > 4 || !v.has(flagOffset, F) || !v.has(dataOffset, D)) return 0;
  // More bytes than the tokens could ever make: a broken stream, refused
  // before anybody allocates for it.
  if (raw > tqLzMostRaw(F, (int)mode)) return 0;
  if (!output) return raw;
  const Mode m = ModeOf((int)mode);
  const uint32_t lengthMask = (1u << m.lengthBits) - 1;
  const uint8_t* flags = stream + flagOffset;
  const uint8_t* data = stream + dataOffset;
  const uint8_t* const dataEnd = data + D;
  uint32_t out = 0, flagIndex = 0, nextReport = kProgressStep;
  while (out < raw) {
    if (flagIndex >= F) return 0;
    uint32_t bits = flags[flagIndex++];
    for (int bit = 0; bit < 8 && out < raw; ++bit, bits >>= 1) {
      if (!(bits & 1)) {
        if (data >= dataEnd) return 0;
        output[out++] = *data++;
        continue;
      }
      if (dataEnd - data < 2) return 0;
      const uint32_t word = data[0] | (uint32_t)data[1] << 8;
      data += 2;
      const uint32_t distance = (word >> m.lengthBits) + 1;
      uint32_t count = (word & lengthMask) + 3;
      if (distance > out) return 0;
      if (count > raw - out) count = raw - out;
      uint8_t* to = output + out;
      const uint8_t* from = to - distance;
      if (distance >= 8 && raw - out >= count + 7) {
        // Whole words: each reads bytes already written, and what it writes
        // past the count is overwritten by the next tokens.
        for (uint32_t i = 0; i < count; i += 8) memcpy(to + i, from + i, 8);
      } else if (distance == 1) {
        memset(to, from[0], count);
      } else {
        for (uint32_t i = 0; i < count; ++i) to[i] = from[i];
      }
      out += count;
    }
    if (progress && out >= nextReport) {
      progress(out, raw, user);
      nextReport = out + kProgressStep;
    }
  }
  if (progress) progress(raw, raw, user);
  return raw;
}
