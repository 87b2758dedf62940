// MT19937 with the 1998 seeding rule: the state is the 69069 multiplicative
// sequence that starts at the seed.
#include "tqClassBase/tqClassBase.h"

namespace {
constexpr int N = 624, M = 397;
constexpr uint32_t kMatrixA = 0x9908b0dfu, kUpper = 0x80000000u, kLower = 0x7fffffffu;
}  // namespace

void tqRandom::Seed(uint32_t seed) {
  state_[0] = seed;
  for (int i = 1; i < N; ++i) state_[i] = 69069 * state_[i - 1];
  index_ = N;
}

uint32_t tqRandom::Next() {
  static const uint32_t mag01[2] = {0, kMatrixA};
  if (index_ >= N) {
    if (index_ == N + 1) Seed(4357);
    int k = 0;
    for (; k < N - M; ++k) {
      uint32_t y = (state_[k] & kUpper) | (state_[k + 1] & kLower);
      state_[k] = state_[k + M] ^ (y >> 1) ^ mag01[y & 1];
    }
    for (; k < N - 1; ++k) {
      uint32_t y = (state_[k] & kUpper) | (state_[k + 1] & kLower);
      state_[k] = state_[k + (M - N)] ^ (y >> 1) ^ mag01[y & 1];
    }
    uint32_t y = (state_[N - 1] & kUpper) | (state_[0] & kLower);
    state_[N - 1] = state_[M - 1] ^ (y >> 1) ^ mag01[y & 1];
    index_ = 0;
  }
  uint32_t y = state_[index_++];
  y ^= y >> 11;
  y ^= (y << 7) & 0x9d2c5680u;
  y ^= (y << 15) & 0xefc60000u;
  y ^= y >> 18;
  return y;
}
