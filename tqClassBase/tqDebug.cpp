// Debug lines and error boxes.
#include "tqClassBase/tqDebug.h"

#include <atomic>
#include <cstdio>
#include <mutex>

#include "platform/tqPlatform.h"

namespace {

class DefaultPresenter : public tqErrorPresenter {
 public:
  void Show(const char* caption, const char* text) override {
    tqp::MessageBox(nullptr, text, caption, tqp::MB_OK_ | tqp::MB_ICONSTOP_);
  }
};

std::mutex g_sinkLock;
tqLogSink* g_sink = nullptr;
bool g_enabled = false;
DefaultPresenter g_defaultPresenter;
std::atomic<tqErrorPresenter*> g_presenter{&g_defaultPresenter};

// Formats into a buffer of the call's own, cut to the first 500 bytes.
void Format(char (&buffer)[TQ_DEBUG_MAX + 1], const char* format, va_list args) {
  buffer[0] = 0;
  if (!format) return;
  vsnprintf(buffer, sizeof buffer, format, args);
}

void Forward(const char* text) {
  std::lock_guard<std::mutex> lock(g_sinkLock);
  if (g_sink && g_enabled) g_sink->Line(text);
}

}  // namespace

void DebugPrintV(const char* format, va_list args) {
  char buffer[TQ_DEBUG_MAX + 1];
  Format(buffer, format, args);
  Forward(buffer);
}

void DebugPrint(const char* format, ...) {
  va_list args;
  va_start(args, format);
  DebugPrintV(format, args);
  va_end(args);
}

void ErrorBox(const char* format, ...) {
  char buffer[TQ_DEBUG_MAX + 1];
  va_list args;
  va_start(args, format);
  Format(buffer, format, args);
  va_end(args);
  Forward(buffer);
  g_presenter.load()->Show("Assert message...", buffer);
}

void AttachLogSink(tqLogSink* sink) {
  std::lock_guard<std::mutex> lock(g_sinkLock);
  if (g_sink != sink) delete g_sink;
  g_sink = sink;
  g_enabled = sink != nullptr;
}

void CloseLogSink() {
  std::lock_guard<std::mutex> lock(g_sinkLock);
  g_enabled = false;
  delete g_sink;
  g_sink = nullptr;
}

tqErrorPresenter* SetErrorPresenter(tqErrorPresenter* presenter) {
  tqErrorPresenter* previous = g_presenter.exchange(presenter ? presenter : &g_defaultPresenter);
  return previous == &g_defaultPresenter ? nullptr : previous;
}
