// The Linux updater: the same flow as update.exe, with message boxes on the
// terminal and a progress bar on stderr.
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "app/ExitCodes.h"
#include "app/Updater.h"

namespace {

// Drawn by the main thread while the loop waits; the copy callback never
// touches the terminal for this.
struct ProgressBar {
  const Updater* updater = nullptr;
  int lastPermille = -1;
};

void DrawProgress(void* user) {
  auto* bar = static_cast<ProgressBar*>(user);
  uint64_t done = 0, total = 0;
  if (!bar->updater || !isatty(2) || !bar->updater->Progress(&done, &total)) return;
  int permille = total ? (int)(done * 1000 / total) : 0;
  if (permille > 1000) permille = 1000;
  if (permille == bar->lastPermille) return;
  bar->lastPermille = permille;
  char cells[41];
  int filled = permille * 40 / 1000;
  for (int i = 0; i < 40; ++i) cells[i] = i < filled ? '#' : '.';
  cells[40] = 0;
  fprintf(stderr, "\r[%s] %3d.%d%%  %llu / %llu bytes", cells, permille / 10, permille % 10,
          (unsigned long long)done, (unsigned long long)total);
  if (permille == 1000) fputc('\n', stderr);
  fflush(stderr);
}

// Interrupt, terminate and hang-up (the player closing the terminal or
// logging off) ask the update to stop; until the swap begins, stopping leaves
// the installation as it was.
std::atomic<int> g_cancel{0};

void OnStopSignal(int) { g_cancel.store(1); }

void CatchStopSignals() {
  struct sigaction action = {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

void Usage() {
  fprintf(stderr,
          "usage: update [--yes] [--ui-log FILE] [--dry-run]\n"
          "Applies the update package in the current folder to the installed game.\n"
          "  --yes          answer the confirmation with OK\n"
          "  --ui-log FILE  also append every message box to FILE\n"
          "  --dry-run      print the plan and the result of every check; write nothing\n"
          "A game installed in a Wine prefix is found through WINEPREFIX.\n"
          "Exit status: 0 updated, 2 usage, 3 refused, 4 cancelled, 5 failed (the game\n"
          "is then as it was before).\n");
}

}  // namespace

int main(int argc, char** argv) {
  setlocale(LC_ALL, "");
  UpdaterOptions options;
  for (int i = 1; i < argc; ++i) {
    if (!strcmp(argv[i], "--yes") || !strcmp(argv[i], "-y")) {
      tqp::SetMessageBoxAnswer(1);
    } else if (!strcmp(argv[i], "--ui-log") && i + 1 < argc) {
      options.uiLog = argv[++i];
    } else if (!strcmp(argv[i], "--dry-run")) {
      options.dryRun = true;
    } else if (!strcmp(argv[i], "--help") || !strcmp(argv[i], "-h")) {
      Usage();
      return TQ_EXIT_SUCCESS;
    } else {
      fprintf(stderr, "update: unknown argument %s\n", argv[i]);
      Usage();
      return TQ_EXIT_USAGE;
    }
  }
  options.ReadTestHooks(getenv("TQ_TEST_POINT"), getenv("TQ_TEST_IO_FAULT"));
  options.cancelRequest = &g_cancel;
  CatchStopSignals();
  Updater updater(tqp::ModuleInstance(), options);
  ProgressBar bar;
  bar.updater = &updater;
  tqp::SetIdleHook(DrawProgress, &bar, 100);
  int status = updater.Run();
  tqp::SetIdleHook(nullptr, nullptr, 100);
  return status;
}
