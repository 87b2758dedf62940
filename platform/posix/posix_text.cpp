// Code page 932 conversions and the path boundary of the POSIX backend:
// library paths are Shift_JIS with backslashes and drive letters, system paths
// are UTF-8 with slashes.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <iconv.h>

#include <string>
#include <vector>

#include "platform/posix/posix_internal.h"
#include "platform/tqPlatform.h"
#include "platform/tqShiftJis.h"

namespace tqp {
namespace posix {

bool Convert(const char* from, const char* to, const char* in, size_t inBytes, std::string& out) {
  out.clear();
  iconv_t cd = iconv_open(to, from);
  if (cd == (iconv_t)-1) {
    tqp::SetLastError(ERR_INVALID_PARAMETER);
    return false;
  }
  std::string result;
  result.resize(inBytes * 4 + 16);
  char* src = const_cast<char*>(in);
  size_t srcLeft = inBytes;
  char* dst = result.data();
  size_t dstLeft = result.size();
  bool ok = true;
  while (srcLeft > 0) {
    if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) == (size_t)-1) {
      if (errno == E2BIG) {
        size_t used = (size_t)(dst - result.data());
        result.resize(result.size() * 2);
        dst = result.data() + used;
        dstLeft = result.size() - used;
        continue;
      }
      ok = false;
      break;
    }
  }
  if (ok && iconv(cd, nullptr, nullptr, &dst, &dstLeft) == (size_t)-1) ok = false;
  iconv_close(cd);
  if (!ok) {
    tqp::SetLastError(ERR_NO_UNICODE_TRANSLATION);
    return false;
  }
  result.resize((size_t)(dst - result.data()));
  out.swap(result);
  return true;
}

}  // namespace posix

bool Utf8FromNarrow(const std::string& narrow, std::string& utf8) {
  return posix::Convert("CP932", "UTF-8", narrow.data(), narrow.size(), utf8);
}

bool NarrowFromUtf8(const std::string& utf8, std::string& narrow) {
  return posix::Convert("UTF-8", "CP932", utf8.data(), utf8.size(), narrow);
}

bool NarrowFromUtf16(const uint16_t* units, size_t count, std::string& narrow) {
  return posix::Convert("UTF-16LE", "CP932", reinterpret_cast<const char*>(units), count * 2,
                        narrow);
}

int NarrowFromWide(const wchar_t* wide, char* out, int outSize) {
  if (!wide || !out || outSize <= 0) return 0;
  std::string narrow;
  if (!posix::Convert("WCHAR_T", "CP932", reinterpret_cast<const char*>(wide),
                      wcslen(wide) * sizeof(wchar_t), narrow)) {
    out[0] = 0;
    return 0;
  }
  if (narrow.size() + 1 > (size_t)outSize) {
    out[0] = 0;
    tqp::SetLastError(122);  // insufficient buffer
    return 0;
  }
  memcpy(out, narrow.c_str(), narrow.size() + 1);
  return (int)narrow.size() + 1;
}

int WideFromNarrow(const char* narrow, wchar_t* out, int outChars) {
  if (!narrow || !out || outChars <= 0) return 0;
  std::string wide;
  if (!posix::Convert("CP932", "WCHAR_T", narrow, strlen(narrow), wide)) {
    out[0] = 0;
    return 0;
  }
  size_t chars = wide.size() / sizeof(wchar_t);
  if (chars + 1 > (size_t)outChars) {
    out[0] = 0;
    tqp::SetLastError(122);
    return 0;
  }
  memcpy(out, wide.data(), wide.size());
  out[chars] = 0;
  return (int)chars + 1;
}

namespace {

bool IsLead(unsigned char c) { return tqp::IsSjisLeadByte(c); }

// Replaces separators of a Shift_JIS text, never touching a trail byte.
std::string SlashesFromBackslashes(const char* p) {
  std::string out;
  for (; *p; ++p) {
    unsigned char c = (unsigned char)*p;
    if (IsLead(c) && p[1]) {
      out += *p++;
      out += *p;
    } else {
      out += c == '\\' ? '/' : (char)c;
    }
  }
  return out;
}

// Resolves "." and ".." of a path below a drive's root the way Windows does:
// ".." at the root stays at the root, so "C:\..\x" is "C:\x" and a drive path
// never leaves the folder its letter maps to.
std::string ClampToDriveRoot(const std::string& rest) {
  std::vector<std::string> parts;
  size_t at = 1;
  while (at <= rest.size()) {
    size_t slash = rest.find('/', at);
    if (slash == std::string::npos) slash = rest.size();
    std::string part = rest.substr(at, slash - at);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(std::move(part));
    }
    at = slash + 1;
  }
  std::string out;
  for (const std::string& part : parts) out += "/" + part;
  bool trailing = rest.size() > 1 && rest.back() == '/';
  if (out.empty() || trailing) out += '/';
  return out;
}

}  // namespace

bool ToSystemPath(const char* path, std::string& out) {
  out.clear();
  if (!path || !*path) {
    SetLastError(ERR_PATH_NOT_FOUND);
    return false;
  }
  std::string base;
  const char* rest = path;
  unsigned char first = (unsigned char)path[0];
  if (((first | 0x20) >= 'a' && (first | 0x20) <= 'z') && path[1] == ':') {
    char letter = (char)(first | 0x20);
    const char* prefix = getenv("WINEPREFIX");
    if (prefix && *prefix) {
      base = std::string(prefix) + "/dosdevices/" + letter + ":";
    } else if (letter == 'z') {
      base = "";
    } else {
      SetLastError(ERR_PATH_NOT_FOUND);
      return false;
    }
    rest = path + 2;
    if (base.empty() && *rest == 0) base = "/";
  }
  std::string narrow = SlashesFromBackslashes(rest);
  if (rest != path && narrow[0] == '/') narrow = ClampToDriveRoot(narrow);
  std::string utf8;
  if (!Utf8FromNarrow(narrow, utf8)) {
    SetLastError(ERR_INVALID_NAME);
    return false;
  }
  out = base + utf8;
  return true;
}

bool FromSystemPath(const std::string& path, std::string& out) {
  std::string narrow;
  if (!NarrowFromUtf8(path, narrow)) {
    SetLastError(ERR_NO_UNICODE_TRANSLATION);
    return false;
  }
  // '/' is never a trail byte, so a byte-wise swap is safe here.
  for (char& c : narrow)
    if (c == '/') c = '\\';
  out.swap(narrow);
  return true;
}

}  // namespace tqp
