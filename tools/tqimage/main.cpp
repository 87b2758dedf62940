// tqimage: inspect pictures, convert them between formats and dump their
// decoded pixels.
#include <string>

#include "platform/tqPlatform.h"
#include "tqClassBase/tqClassBase.h"
#include "tools/tqimage/tqImageTool.h"

namespace {

// Library text (code page 932) for the terminal.
std::string Show(const char* narrow) {
#ifdef _WIN32
  return narrow;
#else
  std::string utf8;
  return tqp::Utf8FromNarrow(narrow, utf8) ? utf8 : std::string(narrow);
#endif
}

// The library's debug lines and error boxes go to stderr.
struct StderrSink : tqLogSink {
  void Line(const char* text) override { fprintf(stderr, "tqimage: %s\n", Show(text).c_str()); }
};
struct StderrPresenter : tqErrorPresenter {
  void Show(const char*, const char* text) override { fprintf(stderr, "tqimage: %s\n", ::Show(text).c_str()); }
};

}  // namespace

int main(int argc, char** argv) {
  CreatePrivateHeap(10485760);  // before the sink: its debug line is not for users
  AttachLogSink(new StderrSink);
  StderrPresenter presenter;
  SetErrorPresenter(&presenter);
  int status = tqImageTool(argc, argv, stdout, stderr);
  SetErrorPresenter(nullptr);
  CloseLogSink();
  DestroyPrivateHeap();
  return status;
}
