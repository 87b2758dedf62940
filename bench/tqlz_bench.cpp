// TQLZ compress and decompress speed and size on the pixel buffer of a
// 1920 x 1080 32-bit photographic-like picture, against zlib levels 6 and 9
// on the same bytes. TQLZ runs in the mode a TQF save keeps (the shortest
// stream); the whole TQF save (five sizings and the real pass) is timed too.
// Last, 64 MiB of one repeated byte against 64 MiB of random bytes: a chain
// walk that degraded on long runs would show here.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "bench/bench_support.h"
#include "image/tqImageTqf.h"
#include "image/tqLz.h"
#include "tqClassBase/tqClassBase.h"

namespace {

constexpr int kW = 1920, kH = 1080;
constexpr uint32_t kRunLength = 64u << 20;
using Bytes = std::vector<uint8_t>;

struct Fixture {
  tqImage* photo = nullptr;
  Bytes pixels, stream, z6, z9, sameByte, random;
  int mode = 0;
  uint32_t modeSizes[5] = {};
  Fixture() {
    CreatePrivateHeap(10485760);
    photo = bench::MakePhoto(kW, kH);
    pixels.assign(photo->pixels(), photo->pixels() + photo->bufferSize());
    for (int m = 0; m < 5; ++m) {
      modeSizes[m] = tqLzCompress(pixels.data(), (uint32_t)pixels.size(), nullptr, m);
      if (modeSizes[m] < modeSizes[mode]) mode = m;
    }
    stream.resize(modeSizes[mode]);
    tqLzCompress(pixels.data(), (uint32_t)pixels.size(), stream.data(), mode);
    z6 = Deflate(6);
    z9 = Deflate(9);
    sameByte.assign(kRunLength, 0x41);
    random.resize(kRunLength);
    uint64_t s = 88172645463325252ull;
    for (auto& b : random) {
      s ^= s << 13;
      s ^= s >> 7;
      s ^= s << 17;
      b = (uint8_t)(s >> 24);
    }
  }
  Bytes Deflate(int level) const {
    uLongf n = compressBound((uLong)pixels.size());
    Bytes out(n);
    compress2(out.data(), &n, pixels.data(), (uLong)pixels.size(), level);
    out.resize(n);
    return out;
  }
};

Fixture& F() {
  static Fixture f;
  return f;
}

void BM_tqlz_compress(benchmark::State& state) {
  Bytes out(F().stream.size());
  for (auto _ : state) {
    uint32_t n = tqLzCompress(F().pixels.data(), (uint32_t)F().pixels.size(), out.data(), F().mode);
    if (n != out.size()) state.SkipWithError("TQLZ compress gave another length");
  }
  state.SetBytesProcessed(state.iterations() * (int64_t)F().pixels.size());
}

void BM_tqf_save(benchmark::State& state) {
  tqImageTqf image;
  image.copyFrom(*F().photo);
  for (auto _ : state) {
    tqMemBlock out;
    if (!image.save(out, 0, 0, 0, 0)) state.SkipWithError("TQF save failed");
  }
  state.SetBytesProcessed(state.iterations() * (int64_t)F().pixels.size());
}

void BM_tqlz_decompress(benchmark::State& state) {
  Bytes out(F().pixels.size());
  for (auto _ : state) {
    if (tqLzDecompress(F().stream.data(), (uint32_t)F().stream.size(), out.data()) != out.size())
      state.SkipWithError("TQLZ decompress failed");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * (int64_t)F().pixels.size());
}

void ZlibCompress(benchmark::State& state, int level) {
  Bytes out(compressBound((uLong)F().pixels.size()));
  for (auto _ : state) {
    uLongf n = (uLongf)out.size();
    if (compress2(out.data(), &n, F().pixels.data(), (uLong)F().pixels.size(), level) != Z_OK)
      state.SkipWithError("zlib compress failed");
  }
  state.SetBytesProcessed(state.iterations() * (int64_t)F().pixels.size());
}
void BM_zlib6_compress(benchmark::State& state) { ZlibCompress(state, 6); }
void BM_zlib9_compress(benchmark::State& state) { ZlibCompress(state, 9); }

void ZlibDecompress(benchmark::State& state, const Bytes& z) {
  Bytes out(F().pixels.size());
  for (auto _ : state) {
    uLongf n = (uLongf)out.size();
    if (uncompress(out.data(), &n, z.data(), (uLong)z.size()) != Z_OK) state.SkipWithError("inflate failed");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * (int64_t)F().pixels.size());
}
void BM_zlib6_decompress(benchmark::State& state) { ZlibDecompress(state, F().z6); }
void BM_zlib9_decompress(benchmark::State& state) { ZlibDecompress(state, F().z9); }

void CompressAll(benchmark::State& state, const Bytes& input) {
  const int mode = (int)state.range(0);
  for (auto _ : state) benchmark::DoNotOptimize(tqLzCompress(input.data(), (uint32_t)input.size(), nullptr, mode));
  state.SetBytesProcessed(state.iterations() * (int64_t)input.size());
}
void BM_tqlz_same_byte(benchmark::State& state) { CompressAll(state, F().sameByte); }
void BM_tqlz_random(benchmark::State& state) { CompressAll(state, F().random); }

#define PICTURE_BENCH(fn, reps) \
  BENCHMARK(fn)->Unit(benchmark::kMillisecond)->Repetitions(reps)->ReportAggregatesOnly(true)
PICTURE_BENCH(BM_tqlz_compress, 5);
PICTURE_BENCH(BM_zlib6_compress, 5);
PICTURE_BENCH(BM_zlib9_compress, 3)->Iterations(1);
PICTURE_BENCH(BM_tqlz_decompress, 5);
PICTURE_BENCH(BM_zlib6_decompress, 5);
PICTURE_BENCH(BM_zlib9_decompress, 5);
PICTURE_BENCH(BM_tqf_save, 3)->Iterations(1);
BENCHMARK(BM_tqlz_same_byte)->DenseRange(0, 4)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_tqlz_random)->DenseRange(0, 4)->Unit(benchmark::kMillisecond)->Iterations(1);

// CPU time of each run of the 64 MiB benchmarks, by name with its mode.
class Reporter : public bench::MedianReporter {
 public:
  std::map<std::string, double> single;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration) single[run.benchmark_name()] = run.GetAdjustedCPUTime();
    MedianReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Fixture& f = F();
  {
    Bytes back(f.pixels.size());
    if (tqLzDecompress(f.stream.data(), (uint32_t)f.stream.size(), back.data()) != back.size() || back != f.pixels) {
      fprintf(stderr, "the TQLZ stream does not give the picture back\n");
      return 1;
    }
  }
  const double mb = (double)f.pixels.size() / 1e6;
  printf("picture: %d x %d x 4 = %zu bytes; TQLZ sizes by mode:", kW, kH, f.pixels.size());
  for (uint32_t s : f.modeSizes) printf(" %u", s);
  printf(" (mode %d kept); zlib 6 %zu, zlib 9 %zu\n", f.mode, f.z6.size(), f.z9.size());

  Reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto& m = reporter.medians;
  printf("\n");
  for (const char* name : {"BM_tqlz_compress", "BM_zlib6_compress", "BM_zlib9_compress", "BM_tqlz_decompress",
                           "BM_zlib6_decompress", "BM_zlib9_decompress", "BM_tqf_save"})
    if (m.count(name) && m[name] > 0) printf("speed %s %.1f MB/s\n", name + 3, mb / (m[name] / 1e3));
  printf("size tqlz %.4f, zlib6 %.4f, zlib9 %.4f of the raw bytes\n", f.stream.size() / (double)f.pixels.size(),
         f.z6.size() / (double)f.pixels.size(), f.z9.size() / (double)f.pixels.size());
  auto ratio = [&](const char* name, const char* ours, const char* peer) { bench::PrintRatio(m, name, ours, peer); };
  ratio("tqlz_compress_vs_zlib9", "BM_tqlz_compress", "BM_zlib9_compress");
  ratio("tqlz_compress_vs_zlib6", "BM_tqlz_compress", "BM_zlib6_compress");
  ratio("tqlz_decompress_vs_zlib9", "BM_tqlz_decompress", "BM_zlib9_decompress");
  ratio("tqlz_decompress_vs_zlib6", "BM_tqlz_decompress", "BM_zlib6_decompress");
  ratio("tqf_save_vs_zlib9", "BM_tqf_save", "BM_zlib9_compress");
  printf("ratio tqlz_size_vs_zlib9 %.3f\n", f.stream.size() / (double)f.z9.size());
  printf("ratio tqlz_size_vs_zlib6 %.3f\n", f.stream.size() / (double)f.z6.size());
  // One repeated byte against random bytes, the worst mode; it must stay
  // well under 10.
  double worst = 0;
  for (int mode = 0; mode < 5; ++mode) {
    std::string same = "BM_tqlz_same_byte/" + std::to_string(mode) + "/iterations:1";
    std::string random = "BM_tqlz_random/" + std::to_string(mode) + "/iterations:1";
    auto& s = reporter.single;
    if (s.count(same) && s.count(random) && s[random] > 0) {
      printf("64 MiB mode %d: one byte %.0f ms, random %.0f ms\n", mode, s[same], s[random]);
      worst = std::max(worst, s[same] / s[random]);
    }
  }
  printf("ratio tqlz_one_byte_vs_random_64mib %.3f\n", worst);
  return 0;
}
