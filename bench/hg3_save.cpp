// Saving the 1920 x 1080 photographic picture of the decode benchmark as HG-3
// (one slice, and slices of 135 rows) against libpng at zlib level 9 (the HG
// codec deflates at level 9 too), with the compressed sizes.
#include <benchmark/benchmark.h>
#include <png.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "bench/bench_support.h"
#include "image/tqImageHg3.h"

namespace {

constexpr int kW = 1920, kH = 1080;
using Bytes = std::vector<uint8_t>;

void PngWrite(png_structp png, png_bytep data, png_size_t n) {
  auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + n);
}
void PngFlush(png_structp) {}

Bytes PngEncode(const tqImage& image) {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(png, &out, PngWrite, PngFlush);
  png_set_compression_level(png, 9);
  png_set_IHDR(png, info, kW, kH, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_set_bgr(png);
  std::vector<png_bytep> rows(kH);
  for (int y = 0; y < kH; ++y) rows[y] = image.pixels() + (size_t)y * image.pitch();
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

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
