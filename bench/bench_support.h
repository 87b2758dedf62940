// Shared by the benchmark programs: the median reporter and a photographic
// test picture.
#pragma once

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "image/tqImage.h"

namespace bench {

// Keeps the console table and remembers the median CPU time of each
// benchmark: every one runs on one thread, and on a machine shared with
// other work the CPU time is the steadier measure of it.
class MedianReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> medians;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.aggregate_name == "median") medians[run.run_name.function_name] = run.GetAdjustedCPUTime();
    ConsoleReporter::ReportRuns(runs);
  }
};

// Prints "ratio NAME ours/peer" from two medians when both were measured.
inline void PrintRatio(std::map<std::string, double>& medians, const char* name, const char* ours, const char* peer) {
  if (medians.count(ours) && medians.count(peer) && medians[peer] > 0)
    printf("ratio %s %.3f\n", name, medians[ours] / medians[peer]);
}

// Smooth shapes and gradients with sensor-like noise, fully opaque, 4 bytes
// per pixel.
inline tqImage* MakePhoto(int w, int h) {
  tqImage* image = new tqImage;
  image->create(w, h, 4);
  uint32_t seed = 12345;
  for (int y = 0; y < h; ++y) {
    uint8_t* row = image->pixels() + (size_t)y * image->pitch();
    for (int x = 0; x < w; ++x) {
      double fx = x / (double)w, fy = y / (double)h;
      double base[3] = {120 + 90 * std::sin(fx * 5.1 + fy * 2.3), 110 + 80 * std::cos(fx * 3.7 - fy * 4.1),
                        100 + 70 * std::sin(fx * fy * 9.0 + 1.0)};
      if ((x - w * 15 / 32) * (x - w * 15 / 32) + (y - h * 25 / 54) * (y - h * 25 / 54) < (h * 10 / 54) * (h * 10 / 54))
        base[0] = base[1] = 230;
      for (int c = 0; c < 3; ++c) {
        seed = seed * 1103515245u + 12345u;
        int noise = (int)((seed >> 16) % 9) - 4;
        int v = (int)base[c] + noise;
        row[x * 4 + c] = (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : v);
      }
      row[x * 4 + 3] = 255;
    }
  }
  return image;
}

}  // namespace bench
