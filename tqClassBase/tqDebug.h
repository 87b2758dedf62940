// The library's diagnostic channels: debug lines for traces and environment
// failures, and the modal error box for misuse.
#pragma once

#include <cstdarg>
#include <cstddef>

// Longest debug line or error-box text, in bytes; longer output is cut.
constexpr size_t TQ_DEBUG_MAX = 500;

// Receives debug lines. The program attaches none; tools and tests may.
class tqLogSink {
 public:
  virtual ~tqLogSink() = default;
  virtual void Line(const char* text) = 0;
};

// Shows error boxes. The default one opens the platform's modal box (caption
// "Assert message...", stop icon, OK); tests install one that records.
class tqErrorPresenter {
 public:
  virtual ~tqErrorPresenter() = default;
  virtual void Show(const char* caption, const char* text) = 0;
};

void DebugPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));
void DebugPrintV(const char* format, va_list args);
void ErrorBox(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Attaches a sink (owned by the channel from then on; null detaches) and
// enables forwarding.
void AttachLogSink(tqLogSink* sink);
// Disables forwarding and releases the sink.
void CloseLogSink();
// Replaces the presenter (not owned); null restores the default. Returns the
// previous one.
tqErrorPresenter* SetErrorPresenter(tqErrorPresenter* presenter);
