// The tools' progress bar on stderr: shown only for work of at least 8 MiB
// and not when asked to be quiet, redrawn when the percentage changes.
#pragma once

#include <cstdint>
#include <cstdio>

class tqProgressBar {
 public:
  static constexpr uint64_t kShownFrom = 8u << 20;

  // what: a word before the bar, or empty.
  tqProgressBar(const char* what, uint64_t total, bool quiet)
      : what_(what), total_(total), shown_(!quiet && total >= kShownFrom) {}
  ~tqProgressBar() {
    if (shown_ && last_ >= 0) fprintf(stderr, "\n");
  }
  tqProgressBar(const tqProgressBar&) = delete;
  tqProgressBar& operator=(const tqProgressBar&) = delete;

  void Add(uint64_t bytes) {
    done_ += bytes;
    if (!shown_) return;
    int percent = total_ ? (int)(done_ * 100 / total_) : 100;
    if (percent > 100) percent = 100;
    if (percent == last_) return;
    last_ = percent;
    char bar[41];
    const int filled = percent * 40 / 100;
    for (int i = 0; i < 40; ++i) bar[i] = i < filled ? '#' : ' ';
    bar[40] = 0;
    fprintf(stderr, "\r%s%s%3d%% [%s] %.1f/%.1f MiB", what_, *what_ ? " " : "", percent, bar,
            (double)done_ / 1048576.0, (double)total_ / 1048576.0);
    fflush(stderr);
  }

 private:
  const char* what_;
  uint64_t total_, done_ = 0;
  bool shown_;
  int last_ = -1;
};
