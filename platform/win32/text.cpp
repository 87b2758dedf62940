// Win32 backend: error numbers and texts, and conversions between the ANSI
// code page (932 on the systems the program is made for), UTF-16 and UTF-8.
#include <cstring>

#include "platform/win32/win32.h"

namespace tqp {

uint32_t LastError() { return ::GetLastError(); }

void SetLastError(uint32_t code) { ::SetLastError(code); }

std::string ErrorText(uint32_t code) {
  char* text = nullptr;
  DWORD n = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result;
  if (n && text) result.assign(text, n);
  if (text) ::LocalFree(text);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r')) result.pop_back();
  return result;
}

int NarrowFromWide(const wchar_t* wide, char* out, int outSize) {
  if (!out || outSize <= 0) return 0;
  out[0] = 0;
  if (!wide) return 0;
  int n = ::WideCharToMultiByte(CP_ACP, 0, wide, -1, out, outSize, nullptr, nullptr);
  if (n == 0) out[0] = 0;
  return n;
}

int WideFromNarrow(const char* narrow, wchar_t* out, int outChars) {
  if (!out || outChars <= 0) return 0;
  out[0] = 0;
  if (!narrow) return 0;
  int n = ::MultiByteToWideChar(CP_ACP, 0, narrow, -1, out, outChars);
  if (n == 0) out[0] = 0;
  return n;
}

namespace {

// Strict conversions: an invalid byte sequence or a character without a form
// on the other side fails instead of turning into '?'.
bool ToWide(UINT codePage, const std::string& in, std::wstring& out) {
  out.clear();
  if (in.empty()) return true;
  if (in.size() > 0x7FFFFFFF) return false;
  int n = ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, in.data(), (int)in.size(), nullptr, 0);
  if (n <= 0) return false;
  out.resize((size_t)n);
  return ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, in.data(), (int)in.size(), out.data(),
                               n) == n;
}

bool FromWide(UINT codePage, const wchar_t* in, size_t count, std::string& out) {
  out.clear();
  if (count == 0) return true;
  if (count > 0x7FFFFFFF) return false;
  // The default-character check is refused for UTF-8; there the invalid-
  // character flag does the same job.
  DWORD flags = codePage == CP_UTF8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  BOOL* usedDefaultArg = codePage == CP_UTF8 ? nullptr : &usedDefault;
  int n = ::WideCharToMultiByte(codePage, flags, in, (int)count, nullptr, 0, nullptr, usedDefaultArg);
  if (n <= 0 || usedDefault) return false;
  out.resize((size_t)n);
  if (::WideCharToMultiByte(codePage, flags, in, (int)count, out.data(), n, nullptr,
                            usedDefaultArg) != n ||
      usedDefault) {
    out.clear();
    return false;
  }
  return true;
}

}  // namespace

bool Utf8FromNarrow(const std::string& narrow, std::string& utf8) {
  std::wstring wide;
  if (!ToWide(CP_ACP, narrow, wide)) return false;
  return FromWide(CP_UTF8, wide.data(), wide.size(), utf8);
}

bool NarrowFromUtf8(const std::string& utf8, std::string& narrow) {
  std::wstring wide;
  if (!ToWide(CP_UTF8, utf8, wide)) return false;
  return FromWide(CP_ACP, wide.data(), wide.size(), narrow);
}

bool NarrowFromUtf16(const uint16_t* units, size_t count, std::string& narrow) {
  static_assert(sizeof(wchar_t) == sizeof(uint16_t));
  if (!units && count) return false;
  return FromWide(CP_ACP, reinterpret_cast<const wchar_t*>(units), count, narrow);
}

}  // namespace tqp
