// Bounded readers of INI texts and /proc/cpuinfo.
#include <cstring>

#include "platform/tqSysInfoText.h"
#include "platform/tqShiftJis.h"

namespace tqp {
namespace {

struct Span {
  const char* p = nullptr;
  size_t n = 0;
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

Span Trim(const char* p, size_t n) {
  while (n && IsBlank(*p)) ++p, --n;
  while (n && IsBlank(p[n - 1])) --n;
  return {p, n};
}

bool IsLead(unsigned char c) { return tqp::IsSjisLeadByte(c); }

char Fold(char c) { return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c; }

// Case-insensitive for ASCII letters; the byte after a lead byte is compared
// exactly.
bool SameName(Span a, const char* b) {
  size_t bn = strlen(b);
  if (a.n != bn) return false;
  bool trail = false;
  for (size_t i = 0; i < bn; ++i) {
    char x = a.p[i], y = b[i];
    if (trail) {
      if (x != y) return false;
      trail = false;
      continue;
    }
    if (Fold(x) != Fold(y)) return false;
    trail = IsLead((unsigned char)x);
  }
  return true;
}

size_t CopyOut(Span v, char* out, size_t outSize) {
  size_t n = v.n < outSize - 1 ? v.n : outSize - 1;
  if (n) memcpy(out, v.p, n);
  out[n] = 0;
  return n;
}

// Calls line(p, n) for each line; stops when it returns false.
template <class F>
void EachLine(const char* text, size_t size, F line) {
  size_t start = 0;
  while (start < size) {
    const void* nl = memchr(text + start, '\n', size - start);
    size_t end = nl ? (size_t)(static_cast<const char*>(nl) - text) : size;
    if (!line(text + start, end - start)) return;
    start = end + 1;
  }
}

}  // namespace

uint32_t ProfileValueFromText(const char* text, size_t size, const char* section, const char* key,
                              char* out, size_t outSize) {
  if (!out || outSize == 0) return 0;
  out[0] = 0;
  if (!text || !section || !key) return 0;
  bool inSection = false;
  uint32_t result = 0;
  EachLine(text, size, [&](const char* p, size_t n) {
    Span line = Trim(p, n);
    if (line.n == 0 || line.p[0] == ';') return true;
    if (line.p[0] == '[') {
      const void* close = memchr(line.p, ']', line.n);
      if (!close) {
        inSection = false;
        return true;
      }
      Span name = Trim(line.p + 1, (size_t)(static_cast<const char*>(close) - line.p) - 1);
      inSection = SameName(name, section);
      return true;
    }
    if (!inSection) return true;
    const void* eq = memchr(line.p, '=', line.n);
    if (!eq) return true;
    size_t keyLength = (size_t)(static_cast<const char*>(eq) - line.p);
    if (!SameName(Trim(line.p, keyLength), key)) return true;
    Span value = Trim(line.p + keyLength + 1, line.n - keyLength - 1);
    if (value.n >= 2 && (value.p[0] == '"' || value.p[0] == '\'') &&
        value.p[value.n - 1] == value.p[0]) {
      ++value.p;
      value.n -= 2;
    }
    result = (uint32_t)CopyOut(value, out, outSize);
    return false;
  });
  return result;
}

void CpuInfoFromText(const char* text, size_t size, char* name, size_t nameSize,
                     uint32_t* megahertz) {
  bool haveName = false, haveClock = false;
  if (name && nameSize) name[0] = 0;
  if (megahertz) *megahertz = 0;
  if (!text) return;
  EachLine(text, size, [&](const char* p, size_t n) {
    const void* colon = memchr(p, ':', n);
    if (!colon) return true;
    size_t keyLength = (size_t)(static_cast<const char*>(colon) - p);
    Span k = Trim(p, keyLength);
    Span v = Trim(p + keyLength + 1, n - keyLength - 1);
    if (!haveName && SameName(k, "model name")) {
      haveName = true;
      if (name && nameSize) CopyOut(v, name, nameSize);
    } else if (!haveClock && SameName(k, "cpu MHz")) {
      haveClock = true;
      uint32_t value = 0;
      for (size_t i = 0; i < v.n && v.p[i] >= '0' && v.p[i] <= '9' && value < 100000000; ++i)
        value = value * 10 + (uint32_t)(v.p[i] - '0');
      if (megahertz) *megahertz = value;
    }
    return !(haveName && haveClock);
  });
}

}  // namespace tqp
