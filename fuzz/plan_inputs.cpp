// What the update plan reads from an installation: a journal left by an
// interrupted swap (first byte even) and an old install.log (odd). A journal
// that parses must format back to the same text and name only paths inside
// the installation; a log that passes the line check must merge into one
// that passes it too.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/plan/tqUpdatePlan.h"
#include "app/plan/tqUpdateSwap.h"
#include "tqClassBase/tqClassBase.h"
#include "util/tqUtil.h"

namespace {

// No part of the path is empty, "." or ".." (a trail byte 0x5C is no separator).
bool InsideInstallation(const std::string& relative) {
  std::string part;
  for (size_t i = 0; i <= relative.size(); ++i) {
    if (i < relative.size() && tqIsLeadByte((unsigned char)relative[i]) && i + 1 < relative.size()) {
      part += relative.substr(i++, 2);
    } else if (i == relative.size() || relative[i] == '\\') {
      if (part.empty() || part == "." || part == "..") return false;
      part.clear();
    } else {
      part += relative[i];
    }
  }
  return relative.find(':') == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool heap = CreatePrivateHeap(10485760) != 0;
  (void)heap;
  if (size < 1) return 0;
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  if (data[0] % 2 == 0) {
    Journal journal;
    if (ParseJournal(text, &journal)) {
      if (FormatJournal(journal) != text) abort();
      for (const JournalEntry& e : journal.entries)
        if (!InsideInstallation(e.relative)) abort();
      for (const std::string& folder : journal.newFolders)
        if (!InsideInstallation(folder)) abort();
    }
    return 0;
  }
  int bad = 0;
  if (LogTextIsLines(text, &bad)) {
    std::string merged = MergeInstallLog(text, {"a.txt", "sub\\b.txt"});
    if (!LogTextIsLines(merged, &bad)) abort();
  }
  return 0;
}
