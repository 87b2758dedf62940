// Saving the 1920 x 1080 photographic picture of the decode benchmark as HG-3
// (one slice, and slices of 135 rows) against libpng at zlib level 9 (the HG
// codec deflates at level 9 too), with the compressed sizes.
#include <benchmark/benchmark.h>
#include <png.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "bench/bench_png.h"
#include "bench/bench_support.h"
#include "image/tqImageHg3.h"

namespace {

constexpr int kW = 1920, kH = 1080;
using Bytes = std::vector<uint8_t>;

using bench::PngEncode;

tqImageHg3& Picture() {
  static tqImageHg3* picture = [] {
    CreatePrivateHeap(10485760);
    tqImage* photo = bench::MakePhoto(kW, kH);
    auto* p = new tqImageHg3;
    p->copyFrom(*photo);
    photo->release();
    return p;
  }();
  return *picture;
}

void SaveHg3(benchmark::State& state, int sliceRows) {
  for (auto _ : state) {
    tqMemBlock out;
    if (!Picture().saveSlices(out, 0, 0, 0, 0, sliceRows)) state.SkipWithError("HG-3 save failed");
    benchmark::DoNotOptimize(out.data);
  }
}
void BM_hg3_save(benchmark::State& state) { SaveHg3(state, 0); }
void BM_hg3_8slices_save(benchmark::State& state) { SaveHg3(state, kH / 8); }

void BM_libpng_save(benchmark::State& state) {
  for (auto _ : state) {
    Bytes out = PngEncode(Picture());
    benchmark::DoNotOptimize(out.data());
  }
}

BENCHMARK(BM_hg3_save)->Unit(benchmark::kMillisecond)->Repetitions(3)->Iterations(2)->ReportAggregatesOnly(true);
BENCHMARK(BM_hg3_8slices_save)->Unit(benchmark::kMillisecond)->Repetitions(3)->Iterations(2)->ReportAggregatesOnly(true);
BENCHMARK(BM_libpng_save)->Unit(benchmark::kMillisecond)->Repetitions(3)->Iterations(2)->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  tqImageHg3& picture = Picture();
  // The saved file must decode to the picture before its time means anything.
  tqMemBlock one, eight;
  if (!picture.saveSlices(one, 0, 0, 0, 0, 0) || !picture.saveSlices(eight, 0, 0, 0, 0, kH / 8)) {
    fprintf(stderr, "HG-3 save failed\n");
    return 1;
  }
  for (tqMemBlock* file : {&one, &eight}) {
    tqImageHg3 back;
    if (!back.load(*file, 0)) {
      fprintf(stderr, "the saved HG-3 does not decode\n");
      return 1;
    }
    for (int y = 0; y < kH; ++y)
      if (memcmp(back.pixels() + (size_t)y * back.pitch(), picture.pixels() + (size_t)y * picture.pitch(), kW * 4)) {
        fprintf(stderr, "the saved HG-3 decodes to other pixels\n");
        return 1;
      }
  }
  Bytes png = PngEncode(picture);
  printf("sizes: pixels %d, hg3 %u, hg3/8 slices %u, png %zu (level 9)\n", kW * kH * 4, one.size, eight.size,
         png.size());

  bench::MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto& m = reporter.medians;
  printf("\n");
  bench::PrintRatio(m, "hg3_save_vs_libpng_save", "BM_hg3_save", "BM_libpng_save");
  bench::PrintRatio(m, "hg3_8slices_save_vs_libpng_save", "BM_hg3_8slices_save", "BM_libpng_save");
  if (!png.empty()) printf("ratio hg3_size_vs_png_size %.3f\n", (double)one.size / (double)png.size());
  return 0;
}
