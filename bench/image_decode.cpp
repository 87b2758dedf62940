// Decoding and saving a 1920 x 1080 32-bit photographic-like picture: HG-3
// (one slice and 8 slices) and HG-2 against libpng at zlib level 9 and against
// bare zlib inflate of the same two compressed areas, plus the peak memory of
// an HG-3 decode.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <png.h>
#include <zlib.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_png.h"
#include "bench/bench_support.h"
#include "image/tqHgCodec.h"
#include "image/tqImageHg2.h"
#include "image/tqImageHg3.h"

// ------------------------------------------------------------ heap meter
// Every allocation of the process goes through these, so the peak of live
// bytes during one decode can be read off.
extern "C" {
void* __libc_malloc(size_t);
void __libc_free(void*);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
}
namespace {
std::atomic<int64_t> g_live{0}, g_peak{0};
inline void Count(void* p) {
  if (!p) return;
  int64_t now = g_live += (int64_t)malloc_usable_size(p);
  int64_t peak = g_peak.load();
  while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
  }
}
inline void Uncount(void* p) {
  if (p) g_live -= (int64_t)malloc_usable_size(p);
}
}  // namespace
extern "C" {
void* malloc(size_t n) {
  void* p = __libc_malloc(n);
  Count(p);
  return p;
}
void free(void* p) {
  Uncount(p);
  __libc_free(p);
}
void* calloc(size_t n, size_t m) {
  void* p = __libc_calloc(n, m);
  Count(p);
  return p;
}
void* realloc(void* old, size_t n) {
  Uncount(old);
  void* p = __libc_realloc(old, n);
  Count(p ? p : (n ? nullptr : nullptr));
  if (!p && n) Count(old);
  return p;
}
void* memalign(size_t a, size_t n) {
  void* p = __libc_memalign(a, n);
  Count(p);
  return p;
}
void* aligned_alloc(size_t a, size_t n) { return memalign(a, n); }
int posix_memalign(void** out, size_t a, size_t n) {
  void* p = memalign(a, n);
  if (!p) return 12;
  *out = p;
  return 0;
}
}

namespace {

constexpr int kW = 1920, kH = 1080;
using Bytes = std::vector<uint8_t>;

void Put32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back((uint8_t)(v >> (8 * i)));
}

tqImage* MakePhoto() { return bench::MakePhoto(kW, kH); }

// One band of rows of the picture as a picture of its own.
tqImage* Band(const tqImage& picture, int top, int rows) {
  tqImage* band = new tqImage;
  band->create(kW, rows, 4);
  for (int y = 0; y < rows; ++y)
    memcpy(band->pixels() + (size_t)y * band->pitch(), picture.pixels() + (size_t)(top + y) * picture.pitch(), kW * 4);
  return band;
}

struct Slice {
  uint32_t firstRow, rows;
  Bytes data;  // slice tag data
  Bytes byteZ, bitZ;
  uint32_t byteRaw, bitRaw;
};

Slice EncodeSlice(const tqImage& picture, int top, int rows) {
  tqImage* band = Band(picture, top, rows);
  Bytes out((size_t)kW * rows * 8 + 100000);
  tqHgEncoded e;
  int64_t n = tqHgEncode(*band, out.data(), (uint32_t)out.size(), &e);
  band->release();
  Slice s;
  s.firstRow = (uint32_t)(kH - top - rows);
  s.rows = (uint32_t)rows;
  s.byteZ.assign(out.begin(), out.begin() + e.byteAreaLength);
  s.bitZ.assign(out.begin() + e.byteAreaLength, out.begin() + n);
  s.byteRaw = e.byteAreaRaw;
  s.bitRaw = e.bitAreaRaw;
  Put32(s.data, s.firstRow);
  Put32(s.data, s.rows);
  Put32(s.data, e.byteAreaLength);
  Put32(s.data, e.byteAreaRaw);
  Put32(s.data, e.bitAreaLength);
  Put32(s.data, e.bitAreaRaw);
  s.data.insert(s.data.end(), out.begin(), out.begin() + n);
  return s;
}

Bytes Hg3File(const std::vector<Slice>& slices) {
  std::vector<std::pair<std::string, Bytes>> tags;
  Bytes info;
  for (uint32_t v : {(uint32_t)kW, (uint32_t)kH, 32u, 0u, 0u, 0u, 0u, 0u, 0u, 0u}) Put32(info, v);
  tags.push_back({"stdinfo", info});
  for (size_t i = 0; i < slices.size(); ++i) {
    char name[16];
    snprintf(name, sizeof name, "img%04d", (int)i);
    tags.push_back({name, slices[i].data});
  }
  Bytes f = {'H', 'G', '-', '3'};
  Put32(f, 12);
  Put32(f, 0x300);
  Put32(f, 0);
  Put32(f, 0);
  for (size_t t = 0; t < tags.size(); ++t) {
    Bytes name(8, 0);
    memcpy(name.data(), tags[t].first.data(), tags[t].first.size());
    f.insert(f.end(), name.begin(), name.end());
    Put32(f, t + 1 < tags.size() ? 16 + (uint32_t)tags[t].second.size() : 0);
    Put32(f, (uint32_t)tags[t].second.size());
    f.insert(f.end(), tags[t].second.begin(), tags[t].second.end());
  }
  return f;
}

// ------------------------------------------------------------ libpng peer

using bench::PngEncode;

struct PngReader {
  const Bytes* data;
  size_t at;
};
void PngRead(png_structp png, png_bytep dst, png_size_t n) {
  auto* r = static_cast<PngReader*>(png_get_io_ptr(png));
  if (r->at + n > r->data->size()) png_error(png, "eof");
  memcpy(dst, r->data->data() + r->at, n);
  r->at += n;
}

bool PngDecode(const Bytes& file, Bytes& pixels) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  PngReader reader{&file, 0};
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_read_fn(png, &reader, PngRead);
  png_read_info(png, info);
  png_set_bgr(png);
  png_read_update_info(png, info);
  std::vector<png_bytep> rows(kH);
  for (int y = 0; y < kH; ++y) rows[y] = pixels.data() + (size_t)y * kW * 4;
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

// ------------------------------------------------------------ fixtures

struct Fixture {
  tqImage* photo = nullptr;
  Bytes hg3One, hg3Eight, hg2, png;
  Slice one;
  Fixture() {
    CreatePrivateHeap(10485760);
    photo = MakePhoto();
    one = EncodeSlice(*photo, 0, kH);
    hg3One = Hg3File({one});
    std::vector<Slice> eight;
    for (int i = 0; i < 8; ++i) eight.push_back(EncodeSlice(*photo, kH - (i + 1) * (kH / 8), kH / 8));
    hg3Eight = Hg3File(eight);
    tqImageHg2 saver;
    saver.copyFrom(*photo);
    tqMemBlock out;
    saver.save(out, 0, 0, 0, 0);
    hg2.assign(out.data, out.data + out.size);
    png = PngEncode(*photo);
  }
};

Fixture& F() {
  static Fixture f;
  return f;
}

bool SamePixels(const tqImage& a, const tqImage& b) {
  for (int y = 0; y < kH; ++y)
    if (memcmp(a.pixels() + (size_t)y * a.pitch(), b.pixels() + (size_t)y * b.pitch(), kW * 4)) return false;
  return true;
}

void DecodeHg3(benchmark::State& state, const Bytes& file) {
  for (auto _ : state) {
    tqImageHg3 image;
    tqMemBlock block(file.data(), (uint32_t)file.size());
    if (!image.load(block, 0)) state.SkipWithError("HG-3 decode failed");
    benchmark::DoNotOptimize(image.pixels());
  }
  state.SetBytesProcessed(state.iterations() * (int64_t)kW * kH * 4);
}

void BM_hg3_decode(benchmark::State& state) { DecodeHg3(state, F().hg3One); }
void BM_hg3_8slices_decode(benchmark::State& state) { DecodeHg3(state, F().hg3Eight); }

void BM_hg2_decode(benchmark::State& state) {
  for (auto _ : state) {
    tqImageHg2 image;
    tqMemBlock block(F().hg2.data(), (uint32_t)F().hg2.size());
    if (!image.load(block, 0)) state.SkipWithError("HG-2 decode failed");
    benchmark::DoNotOptimize(image.pixels());
  }
  state.SetBytesProcessed(state.iterations() * (int64_t)kW * kH * 4);
}

void BM_libpng_decode(benchmark::State& state) {
  for (auto _ : state) {
    Bytes pixels((size_t)kW * kH * 4);
    if (!PngDecode(F().png, pixels)) state.SkipWithError("PNG decode failed");
    benchmark::DoNotOptimize(pixels.data());
  }
  state.SetBytesProcessed(state.iterations() * (int64_t)kW * kH * 4);
}

// The floor: only inflating the two areas of the one-slice file.
void BM_inflate_areas(benchmark::State& state) {
  const Slice& s = F().one;
  for (auto _ : state) {
    Bytes a(s.byteRaw), b(s.bitRaw);
    uLongf na = s.byteRaw, nb = s.bitRaw;
    if (uncompress(a.data(), &na, s.byteZ.data(), (uLong)s.byteZ.size()) != Z_OK ||
        uncompress(b.data(), &nb, s.bitZ.data(), (uLong)s.bitZ.size()) != Z_OK)
      state.SkipWithError("inflate failed");
    benchmark::DoNotOptimize(a.data());
    benchmark::DoNotOptimize(b.data());
  }
}

void BM_hg2_save(benchmark::State& state) {
  tqImageHg2 image;
  image.copyFrom(*F().photo);
  for (auto _ : state) {
    tqMemBlock out;
    if (!image.save(out, 0, 0, 0, 0)) state.SkipWithError("HG-2 save failed");
    benchmark::DoNotOptimize(out.data);
  }
}

void BM_libpng_save(benchmark::State& state) {
  for (auto _ : state) {
    Bytes out = PngEncode(*F().photo);
    benchmark::DoNotOptimize(out.data());
  }
}

BENCHMARK(BM_hg3_decode)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_hg3_8slices_decode)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_hg2_decode)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_libpng_decode)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_inflate_areas)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_hg2_save)->Unit(benchmark::kMillisecond)->Repetitions(3)->Iterations(2)->ReportAggregatesOnly(true);
BENCHMARK(BM_libpng_save)->Unit(benchmark::kMillisecond)->Repetitions(3)->Iterations(2)->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Fixture& f = F();
  // The files must decode to the picture before their times mean anything.
  {
    tqImageHg3 a, b;
    tqImageHg2 c;
    tqMemBlock one(f.hg3One.data(), (uint32_t)f.hg3One.size()), eight(f.hg3Eight.data(), (uint32_t)f.hg3Eight.size()),
        two(f.hg2.data(), (uint32_t)f.hg2.size());
    if (!a.load(one, 0) || !b.load(eight, 0) || !c.load(two, 0) || !SamePixels(a, *f.photo) ||
        !SamePixels(b, *f.photo) || !SamePixels(c, *f.photo)) {
      fprintf(stderr, "decoded pictures differ from the source\n");
      return 1;
    }
  }
  printf("sizes: pixels %d, hg3 %zu (byte area %u raw, bit area %u raw), hg3/8 %zu, hg2 %zu, png %zu\n", kW * kH * 4,
         f.hg3One.size(), f.one.byteRaw, f.one.bitRaw, f.hg3Eight.size(), f.hg2.size(), f.png.size());

  // Peak memory of one HG-3 decode, the file itself not counted.
  int64_t before = g_live.load();
  g_peak = before;
  {
    tqImageHg3 image;
    tqMemBlock block(f.hg3One.data(), (uint32_t)f.hg3One.size());
    image.load(block, 0);
  }
  double peakRatio = (double)(g_peak.load() - before) / ((double)kW * kH * 4);

  bench::MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto& m = reporter.medians;
  // The console table may end in a colour reset without a line break: the
  // ratio lines start on lines of their own.
  printf("\n");
  auto ratio = [&](const char* name, const char* ours, const char* peer) { bench::PrintRatio(m, name, ours, peer); };
  ratio("hg3_decode_vs_libpng", "BM_hg3_decode", "BM_libpng_decode");
  ratio("hg3_8slices_decode_vs_libpng", "BM_hg3_8slices_decode", "BM_libpng_decode");
  ratio("hg3_decode_vs_inflate", "BM_hg3_decode", "BM_inflate_areas");
  ratio("hg2_decode_vs_libpng", "BM_hg2_decode", "BM_libpng_decode");
  ratio("hg2_save_vs_libpng_save", "BM_hg2_save", "BM_libpng_save");
  printf("ratio hg3_decode_peak_memory_vs_pixels %.3f\n", peakRatio);
  return 0;
}
