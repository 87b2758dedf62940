// Number parsing: optional sign, decimal or 0x hexadecimal, 32-bit wrap.
#include "util/tqUtil.h"

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Parses at text; false on an absent text, a non-digit start or "12.".
bool Parse(const char* text, int* value, int* end) {
  if (!text) return false;
  int i = 0;
  bool negative = false;
  if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
  uint32_t result = 0;
  if (text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    i += 2;
    // "0x" with no hexadecimal digit reads as 0 up to there.
    for (int d; (d = HexDigit(text[i])) >= 0; ++i) result = result * 16 + (uint32_t)d;
  } else {
    if (text[i] < '0' || text[i] > '9') return false;
    for (; text[i] >= '0' && text[i] <= '9'; ++i) result = result * 10 + (uint32_t)(text[i] - '0');
    if (text[i] == '.') return false;
  }
  if (negative) result = 0u - result;
  *value = (int)result;
  *end = i;
  return true;
}

}  // namespace

int tqNumber(const char* text) {
  int value = 0, end = 0;
  return Parse(text, &value, &end) ? value : 0;
}

bool tqNumberEnd(const char* text, int* value, int* end) {
  int v = 0, e = 0;
  if (!Parse(text, &v, &e)) return false;
  if (value) *value = v;
  if (end) *end = e;
  return true;
}
