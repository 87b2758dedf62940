// The HG decoding steps one by one, as plainly as they can be written:
// expand the runs into E, merge the planes into U, undo the prediction. The
// codec's decoder is held to it by the tests and the fuzz targets.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace imgtest {

// Decodes one block per slice (first row from the bottom, row count) of a
// w x h picture with bpp bytes a pixel from raw areas; rows come out top
// first. False when a block is broken or hostile.
inline bool ReferenceDecode(int w, int h, int bpp, const std::vector<std::pair<uint32_t, uint32_t>>& slices,
                            const std::vector<std::vector<uint8_t>>& byteAreas,
                            const std::vector<std::vector<uint8_t>>& bitAreas, std::vector<uint8_t>& picture) {
  using Bytes = std::vector<uint8_t>;
  const size_t rowBytes = (size_t)w * bpp;
  const size_t area = rowBytes * h + 4096;
  picture.assign(rowBytes * h, 0);
  auto zigzag = [](uint8_t k) -> uint8_t { return (k & 1) ? (uint8_t)(255 - (k - 1) / 2) : (uint8_t)(k / 2); };
  for (size_t s = 0; s < slices.size(); ++s) {
    const Bytes& bits = bitAreas[s];
    const Bytes& bytes = byteAreas[s];
    size_t bitPos = 0;
    bool broken = false;
    auto bit = [&]() -> int {
      if (bitPos >= bits.size() * 8) {
        broken = true;
        return 1;
      }
      int b = (bits[bitPos / 8] >> (bitPos % 8)) & 1;
      ++bitPos;
      return b;
    };
    auto gamma = [&]() -> uint64_t {
      int z = 0;
      while (!bit()) ++z;
      if (z >= 32) broken = true;
      uint64_t r = 0;
      for (int i = 0; i < z && !broken; ++i) r = r << 1 | (uint64_t)bit();
      return broken ? 0 : (1ull << z) + r;
    };
    Bytes E(area, 0);
    size_t d = 0, src = 0;
    auto copy = [&](uint64_t c) {
      if (d + c > area || src + c > bytes.size()) broken = true;
      for (uint64_t i = 0; i < c && !broken; ++i) E[d++] = bytes[src++];
    };
    int first = bit();
    uint64_t T = gamma();
    if (broken || T > area) return false;
    int64_t left = (int64_t)T;
    if (first) {
      uint64_t c = gamma();
      copy(c);
      left -= (int64_t)c;
    }
    while (left > 0 && !broken) {
      uint64_t z = gamma();
      d += z;
      if (d > area) broken = true;
      left -= (int64_t)z;
      if (left <= 0) break;
      uint64_t c = gamma();
      left -= (int64_t)c;
      copy(c);
    }
    if (broken) return false;
    size_t L = d;
    if (L % 4 || L < rowBytes * slices[s].second) return false;
    size_t Q = L / 4;
    Bytes U(L);
    for (size_t k = 0; k < Q; ++k)
      for (int i = 0; i < 4; ++i)
        U[4 * k + i] = (uint8_t)((((E[k] >> (2 * i)) & 3) << 6) | (((E[Q + k] >> (2 * i)) & 3) << 4) |
                                 (((E[2 * Q + k] >> (2 * i)) & 3) << 2) | ((E[3 * Q + k] >> (2 * i)) & 3));
    size_t u = 0;
    int row = h - 1 - (int)slices[s].first;
    uint8_t* R = &picture[row * rowBytes];
    for (size_t i = 0; i < rowBytes; ++i) {
      uint8_t v = zigzag(U[u++]);
      R[i] = i < (size_t)bpp ? v : (uint8_t)(v + R[i - bpp]);
    }
    for (uint32_t n = 1; n < slices[s].second; ++n) {
      uint8_t* up = R - rowBytes;
      for (size_t i = 0; i < rowBytes; ++i) up[i] = (uint8_t)(zigzag(U[u++]) + R[i]);
      R = up;
    }
  }
  return true;
}

}  // namespace imgtest
