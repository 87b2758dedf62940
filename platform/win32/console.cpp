// Terminal text on Windows: arguments arrive in the ANSI code page already;
// output is converted when the console uses another code page.
#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "platform/tqConsole.h"
#include "platform/win32/win32.h"

namespace tqp {

bool NarrowFromConsole(const std::string& text, std::string& narrow) {
  narrow = text;
  return true;
}

std::string ConsoleFromNarrow(const std::string& narrow) {
  UINT console = ::GetConsoleOutputCP();
  if (console == 0 || console == ::GetACP() || narrow.empty()) return narrow;
  int wideLength = ::MultiByteToWideChar(CP_ACP, 0, narrow.data(), (int)narrow.size(), nullptr, 0);
  if (wideLength <= 0) return narrow;
  std::wstring wide((size_t)wideLength, L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, narrow.data(), (int)narrow.size(), wide.data(), wideLength);
  int length =
      ::WideCharToMultiByte(console, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return narrow;
  std::string out((size_t)length, '\0');
  ::WideCharToMultiByte(console, 0, wide.data(), wideLength, out.data(), length, nullptr, nullptr);
  return out;
}

bool LibraryPathFromArgument(const char* argument, std::string& path) {
  if (!argument) return false;
  path = argument;
  for (char& c : path) {
    if (c == '/') c = '\\';  // never a trail byte
  }
  return true;
}

void SetBinaryOutput() {
  fflush(stdout);
  _setmode(_fileno(stdout), _O_BINARY);
}

}  // namespace tqp
