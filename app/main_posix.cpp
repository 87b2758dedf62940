// The Linux updater: the same flow as update.exe, with message boxes on the
// terminal and a progress bar on stderr.
#include <clocale>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "app/Updater.h"
#include "copy/tqFileCopy.h"

namespace {

// Drawn by the main thread from the engine's status record while the loop
// waits; the copy callback never touches the terminal for this.
void DrawProgress(void*) {
  static int lastPermille = -1;
  tqFileCopy* copy = TheCopyEngine();
  if (!copy || !isatty(2)) return;
  const tqFileCopyStatus& status = copy->Status();
  uint64_t total = status.total_size, done = status.total_done;
  int permille = total ? (int)(done * 1000 / total) : 0;
  if (permille > 1000) permille = 1000;
  if (permille == lastPermille) return;
  lastPermille = permille;
  char bar[41];
  int filled = permille * 40 / 1000;
  for (int i = 0; i < 40; ++i) bar[i] = i < filled ? '#' : '.';
  bar[40] = 0;
  fprintf(stderr, "\r[%s] %3d.%d%%  %llu / %llu bytes", bar, permille / 10, permille % 10,
          (unsigned long long)done, (unsigned long long)total);
  if (permille == 1000) fputc('\n', stderr);
  fflush(stderr);
}

void Usage() {
  fprintf(stderr,
          "usage: update [--yes] [--ui-log FILE]\n"
          "Applies the update package in the current folder to the installed game.\n"
          "  --yes          answer the confirmation with OK\n"
          "  --ui-log FILE  also append every message box to FILE\n"
          "A game installed in a Wine prefix is found through WINEPREFIX.\n");
}

}  // namespace

int main(int argc, char** argv) {
  setlocale(LC_ALL, "");
  for (int i = 1; i < argc; ++i) {
    if (!strcmp(argv[i], "--yes") || !strcmp(argv[i], "-y")) {
      tqp::SetMessageBoxAnswer(1);
    } else if (!strcmp(argv[i], "--ui-log") && i + 1 < argc) {
      SetUiLog(argv[++i]);
    } else if (!strcmp(argv[i], "--help") || !strcmp(argv[i], "-h")) {
      Usage();
      return 0;
    } else {
      fprintf(stderr, "update: unknown argument %s\n", argv[i]);
      Usage();
      return 2;
    }
  }
  tqp::SetIdleHook(DrawProgress, nullptr, 100);
  return RunUpdater(tqp::ModuleInstance());
}
