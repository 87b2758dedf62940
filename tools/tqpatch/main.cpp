// tqpatch: make, check and plan update packages.
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/tqPlatform.h"
#include "tools/tqpatch/tqPatch.h"
#include "tqClassBase/tqClassBase.h"

namespace {

const char kUsage[] =
    "usage: tqpatch COMMAND ... (tqpatch COMMAND --help for each)\n"
    "  tqpatch make OLD NEW OUT --brand B --app A --install-path PATH --mutex M --config-mutex M [...]\n"
    "  tqpatch check PKG\n"
    "  tqpatch plan PKG [--install DIR]\n"
    "  tqpatch texts OUT.xml\n"
    "Exit status: 0 done (package sound, update would run), 1 a problem (one line\n"
    "each on stderr), 2 wrong arguments.\n";

// Debug lines and error boxes of the library go to stderr.
struct StderrSink : tqLogSink {
  void Line(const char* text) override { fprintf(stderr, "tqpatch: %s\n", tqpatch::Show(text).c_str()); }
};
struct StderrPresenter : tqErrorPresenter {
  void Show(const char*, const char* text) override {
    fprintf(stderr, "tqpatch: %s\n", tqpatch::Show(text).c_str());
  }
};

}  // namespace

int main(int argc, char** argv) {
  setlocale(LC_ALL, "");
  if (argc < 2 || !strcmp(argv[1], "--help") || !strcmp(argv[1], "-h")) {
    fputs(kUsage, argc < 2 ? stderr : stdout);
    return argc < 2 ? tqpatch::EXIT_USAGE : tqpatch::EXIT_OK;
  }
  const std::string command = argv[1];
  int (*run)(int, const char* const*) = command == "make"    ? tqpatch::Make
                                        : command == "check" ? tqpatch::Check
                                        : command == "plan"  ? tqpatch::Plan
                                        : command == "texts" ? tqpatch::Texts
                                                             : nullptr;
  if (!run) {
    fprintf(stderr, "tqpatch: unknown command %s\n%s", command.c_str(), kUsage);
    return tqpatch::EXIT_USAGE;
  }
  CreatePrivateHeap(10485760);
  // The library's debug lines are traces for developers; TQPATCH_DEBUG shows them.
  if (getenv("TQPATCH_DEBUG")) AttachLogSink(new StderrSink);
  StderrPresenter presenter;
  SetErrorPresenter(&presenter);
  int status = run(argc, argv);
  CloseLogSink();
  SetErrorPresenter(nullptr);
  DestroyPrivateHeap();
  return status;
}
