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
        if (e.relative.empty() || e.relative[0] == '\\' || e.relative.find("..") == 0) abort();
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
