// Searching and converting narrow text, byte-wise and Shift_JIS-aware.
#include <cctype>
#include <cstring>

#include "util/tqUtil.h"

int tqStrIndex(const char* text, const char* needle) {
  if (!text || !needle || !*text) return -1;
  if (!*needle) return 0;
  const char* hit = strstr(text, needle);
  return hit ? (int)(hit - text) : -1;
}

int tqReplaceAll(const char* src, const char* find, const char* replacement, char* out) {
  if (!out) return 0;
  out[0] = 0;
  if (!src) return 0;
  if (!find || !*find) {
    strcpy(out, src);
    return (int)strlen(out);
  }
  if (!replacement) replacement = "";
  size_t findLen = strlen(find), replLen = strlen(replacement), len = 0;
  for (const char* p = src; *p;) {
    if (strncmp(p, find, findLen) == 0) {
      memcpy(out + len, replacement, replLen);
      len += replLen;
      p += findLen;
    } else {
      out[len++] = *p++;
    }
  }
  out[len] = 0;
  return (int)len;
}

int tqFindChar(const char* text, unsigned code) {
  if (!text) return -1;
  if (code < 256) {
    for (int i = 0; text[i]; ++i)
      if ((unsigned char)text[i] == code) return i;
    return -1;
  }
  unsigned char hi = (unsigned char)(code >> 8), lo = (unsigned char)code;
  for (int i = 0; text[i] && text[i + 1]; ++i)
    if ((unsigned char)text[i] == hi && (unsigned char)text[i + 1] == lo) return i;
  return -1;
}

unsigned tqCharCodeAt(const char* text) {
  if (!text) return 0;
  unsigned char c = (unsigned char)text[0];
  if (tqIsLeadByte(c) && tqIsTrailByte((unsigned char)text[1])) return c << 8 | (unsigned char)text[1];
  return c;
}

bool tqIsDoubleByte(const char* text, size_t pos) {
  if (!text) return false;
  return tqIsLeadByte((unsigned char)text[pos]) && tqIsTrailByte((unsigned char)text[pos + 1]);
}

namespace {
template <int (*Map)(int)>
int MapCase(char* text) {
  if (!text) return 0;
  int i = 0;
  while (text[i]) {
    if (tqIsDoubleByte(text, (size_t)i)) {
      i += 2;
      continue;
    }
    text[i] = (char)Map((unsigned char)text[i]);
    ++i;
  }
  return i;
}
int LowerAscii(int c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }
int UpperAscii(int c) { return (c >= 'a' && c <= 'z') ? c - 32 : c; }
}  // namespace

// The C library's mapping in the "C" locale touches only ASCII letters; the
// routines keep to that whatever locale the process runs in.
int tqToLower(char* text) { return MapCase<LowerAscii>(text); }
int tqToUpper(char* text) { return MapCase<UpperAscii>(text); }

int tqNarrowFromWide(const wchar_t* wide, char* out, int outSize) {
  return tqp::NarrowFromWide(wide, out, outSize);
}

int tqReadLine(const char* text, size_t pos, char* out) {
  return tqReadLineN(text, pos, out, SIZE_MAX);
}

int tqReadLineN(const char* text, size_t pos, char* out, size_t outSize) {
  if (!text || !out || !outSize) return 0;
  const char* p = text + pos;
  out[0] = 0;
  if (!*p) return 0;
  size_t n = 0;
  while (p[n] && p[n] != '\n' && !(p[n] == '\r' && p[n + 1] == '\n')) ++n;
  size_t copy = n < outSize - 1 ? n : outSize - 1;
  memcpy(out, p, copy);
  out[copy] = 0;
  if (p[n] == '\r') return (int)(n + 2);
  if (p[n] == '\n') return (int)(n + 1);
  return (int)n;
}
