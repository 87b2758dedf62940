// A plain TQLZ compressor written the long way round, to check the fast one
// against: a ring of `window` positions, chains in 2 x window buckets keyed
// by (b0 + 256 b1 + 65536 b2) mod (2 x window), walked from the oldest entry
// with a byte-by-byte comparison. Slow, and obviously so.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

namespace lzref {

inline std::vector<uint8_t> Compress(const uint8_t* input, uint32_t length, int mode) {
  const uint32_t windowBits = 13 - mode, lengthBits = 3 + mode;
  const uint32_t window = 1u << windowBits, buckets = 2 * window, longest = (1u << lengthBits) + 2;
  auto byteAt = [&](uint64_t p) -> uint32_t { return p < length ? input[p] : 0; };
  auto keyOf = [&](uint64_t p) { return (byteAt(p) + 256 * byteAt(p + 1) + 65536 * byteAt(p + 2)) % buckets; };
  std::vector<std::deque<uint32_t>> chains(buckets);  // oldest first
  std::deque<uint32_t> ring;                          // every remembered position, oldest first
  auto add = [&](uint32_t p) {
    if (ring.size() == window) {
      uint32_t old = ring.front();
      ring.pop_front();
      std::deque<uint32_t>& chain = chains[keyOf(old)];
      for (auto it = chain.begin(); it != chain.end(); ++it)
        if (*it == old) {
          chain.erase(it);
          break;
        }
    }
    ring.push_back(p);
    chains[keyOf(p)].push_back(p);
  };
  std::vector<uint8_t> flags(1, 0), data;
  uint64_t tokens = 0;
  uint32_t pos = 0;
  while (pos < length) {
    uint32_t bestCount = 0, bestPos = 0;
    for (uint32_t cand : chains[keyOf(pos)]) {
      if (input[cand] != input[pos]) continue;
      uint32_t count = 0;
      while (count < longest && pos + count < length && input[cand + count] == input[pos + count]) ++count;
      if (count > bestCount) {
        bestCount = count;
        bestPos = cand;
      }
      if (bestCount >= longest) break;
    }
    uint32_t advance = 1;
    if (bestCount >= 3) {
      uint32_t word = ((pos - bestPos - 1) << lengthBits) | (bestCount - 3);
      data.push_back((uint8_t)word);
      data.push_back((uint8_t)(word >> 8));
      flags.back() |= (uint8_t)(1u << (tokens % 8));
      advance = bestCount;
    } else {
      data.push_back(input[pos]);
    }
    if (++tokens % 8 == 0) flags.push_back(0);
    for (uint32_t i = 0; i < advance; ++i) add(pos + i);
    pos += advance;
  }
  data.push_back(0);
  std::vector<uint8_t> out;
  auto put32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back((uint8_t)(v >> (8 * i)));
  };
  out = {'T', 'Q', 'L', 'Z'};
  put32((uint32_t)mode);
  put32(length);
  put32((uint32_t)flags.size());
  put32((uint32_t)data.size());
  put32(28);
  put32(28 + (uint32_t)flags.size());
  out.insert(out.end(), flags.begin(), flags.end());
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

}  // namespace lzref
