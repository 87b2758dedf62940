// Terminal text on POSIX: the charset of the user's locale (a plain C locale
// is taken as UTF-8, which every current terminal speaks).
#include <langinfo.h>

#include <clocale>
#include <cstring>

#include "platform/posix/posix_internal.h"
#include "platform/tqConsole.h"
#include "platform/tqPlatform.h"
#include "platform/tqShiftJis.h"

namespace tqp {
namespace {

const std::string& TerminalCharset() {
  static const std::string charset = [] {
    setlocale(LC_CTYPE, "");
    std::string name = nl_langinfo(CODESET);
    if (name.empty() || name == "ANSI_X3.4-1968" || name == "ASCII" || name == "POSIX")
      name = "UTF-8";
    return name;
  }();
  return charset;
}

bool IsLead(unsigned char c) { return tqp::IsSjisLeadByte(c); }
bool IsTrail(unsigned char c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC); }

}  // namespace

bool NarrowFromConsole(const std::string& text, std::string& narrow) {
  return posix::Convert(TerminalCharset().c_str(), "CP932", text.data(), text.size(), narrow);
}

std::string ConsoleFromNarrow(const std::string& narrow) {
  std::string out;
  if (posix::Convert("CP932", TerminalCharset().c_str(), narrow.data(), narrow.size(), out))
    return out;
  // Character by character, so that one bad byte costs only itself.
  out.clear();
  std::string piece;
  for (size_t i = 0; i < narrow.size();) {
    size_t width = IsLead((unsigned char)narrow[i]) && i + 1 < narrow.size() &&
                           IsTrail((unsigned char)narrow[i + 1])
                       ? 2
                       : 1;
    if (posix::Convert("CP932", TerminalCharset().c_str(), narrow.data() + i, width, piece)) {
      out += piece;
    } else {
      out += '?';
    }
    i += width;
  }
  return out;
}

bool LibraryPathFromArgument(const char* argument, std::string& path) {
  std::string narrow;
  if (!argument || !NarrowFromConsole(argument, narrow)) return false;
  std::string utf8;
  if (!Utf8FromNarrow(narrow, utf8)) return false;
  return FromSystemPath(utf8, path);
}

void SetBinaryOutput() {}

}  // namespace tqp
