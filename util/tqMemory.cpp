// Memory compare, copy and fill; word-wise when the probe says the processor
// is up to it.
#include <cstring>

#include "util/tqUtil.h"

namespace {

// 0: no probe, 1: probe without MMX, 2: probe with MMX.
int ProbeLevel() {
  if (!g_tqCaps) return 0;
  auto hasMmx = LibraryHooks().capsHasMmx;
  return hasMmx && hasMmx() ? 2 : 1;
}

}  // namespace

int tqMemCompare(const void* a, const void* b, size_t n) {
  if (!n || !a || !b) return 0;
  const auto* x = static_cast<const unsigned char*>(a);
  const auto* y = static_cast<const unsigned char*>(b);
  for (size_t i = 0; i < n; ++i)
    if (x[i] != y[i]) return (int)x[i] - (int)y[i];
  return 0;
}

void tqMemCopy(void* dst, const void* src, size_t n) {
  if (!n || !dst || !src) return;
  int level = ProbeLevel();
  if (level == 2 && n % 8 == 0) {
    for (size_t i = 0; i < n; i += 8) memcpy(static_cast<char*>(dst) + i, static_cast<const char*>(src) + i, 8);
  } else if (level >= 1 && n % 4 == 0) {
    for (size_t i = 0; i < n; i += 4) memcpy(static_cast<char*>(dst) + i, static_cast<const char*>(src) + i, 4);
  } else {
    memcpy(dst, src, n);
  }
}

void tqMemZero(void* dst, size_t n) {
  if (!n || !dst) return;
  int level = ProbeLevel();
  static const char zeros[8] = {};
  if (level == 2 && n % 8 == 0) {
    for (size_t i = 0; i < n; i += 8) memcpy(static_cast<char*>(dst) + i, zeros, 8);
  } else if (level >= 1 && n % 4 == 0) {
    for (size_t i = 0; i < n; i += 4) memcpy(static_cast<char*>(dst) + i, zeros, 4);
  } else {
    memset(dst, 0, n);
  }
}
