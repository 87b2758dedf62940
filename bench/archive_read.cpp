// Reads a 256 MiB enciphered archive entry through tqBigFile in 1 MiB reads,
// and deciphers the same bytes in memory with OpenSSL's Blowfish (ECB, the
// legacy provider through EVP, else the low-level calls). Prints MB/s of both
// and "ratio archive_read_vs_openssl_bf <ours/OpenSSL>" from the medians of
// the CPU time of the measuring thread (system time of the reads included),
// which a machine shared with other work disturbs far less than wall time.
#include <benchmark/benchmark.h>
#include <openssl/blowfish.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "file/tqArchive.h"
#include "file/tqBigFile.h"
#include "platform/tqPlatform.h"
#include "tqClassBase/tqClassBase.h"

namespace {

constexpr uint32_t kEntrySize = 256u << 20;
constexpr uint32_t kReadSize = 1u << 20;
const uint8_t kSalt[16] = {0x5A, 0x17, 0x90, 0x3C, 0xE4, 0x21, 0x08, 0x6B,
                           0xD2, 0x4F, 0xA9, 0x33, 0x7E, 0x11, 0xC5, 0x62};

struct Fixture {
  std::string path;
  std::vector<uint8_t> plain;       // the entry's bytes
  std::vector<uint8_t> peerCipher;  // the stored blocks with big-endian halves
  std::vector<uint8_t> peerOut;
  uint8_t key[16];
  EVP_CIPHER* evp = nullptr;
  bool ok = false;
};

Fixture& Data() {
  static Fixture f;
  return f;
}

void SwapHalves(uint8_t* p, size_t size) {
  for (size_t i = 0; i + 8 <= size; i += 8) {
    std::swap(p[i], p[i + 3]);
    std::swap(p[i + 1], p[i + 2]);
    std::swap(p[i + 4], p[i + 7]);
    std::swap(p[i + 5], p[i + 6]);
  }
}

bool PeerDecipher(Fixture& f) {
  if (f.evp) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int n = 0, tail = 0;
    bool ok = EVP_DecryptInit_ex2(ctx, f.evp, nullptr, nullptr, nullptr) &&
              EVP_CIPHER_CTX_set_key_length(ctx, 16) &&
              EVP_DecryptInit_ex2(ctx, nullptr, f.key, nullptr, nullptr) &&
              EVP_CIPHER_CTX_set_padding(ctx, 0) &&
              EVP_DecryptUpdate(ctx, f.peerOut.data(), &n, f.peerCipher.data(), (int)kEntrySize) &&
              EVP_DecryptFinal_ex(ctx, f.peerOut.data() + n, &tail);
    EVP_CIPHER_CTX_free(ctx);
    return ok && (uint32_t)(n + tail) == kEntrySize;
  }
  BF_KEY key;
  BF_set_key(&key, 16, f.key);
  for (uint32_t i = 0; i < kEntrySize; i += 8)
    BF_ecb_encrypt(f.peerCipher.data() + i, f.peerOut.data() + i, &key, BF_DECRYPT);
  return true;
}

bool Prepare() {
  Fixture& f = Data();
  CreatePrivateHeap(10485760);
  char temp[1024] = {};
  tqp::GetTempPath(temp, sizeof temp);
  f.path = std::string(temp);
  if (!f.path.empty() && f.path.back() != '\\') f.path += '\\';
  f.path += "tq-bench-archive.arc";

  f.plain.resize(kEntrySize);
  uint64_t x = 0x9E3779B97F4A7C15ull;
  for (uint32_t i = 0; i < kEntrySize; i += 8) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    memcpy(&f.plain[i], &x, 8);
  }
  tqArchiveWriter writer;
  if (!writer.Begin(f.path.c_str(), true, 4, kSalt) ||
      !writer.Add("BIG.BIN", f.plain.data(), kEntrySize) || !writer.Finish()) {
    fprintf(stderr, "cannot write %s: %s\n", f.path.c_str(), writer.Error());
    return false;
  }
  tqArchive::DeriveKey(kSalt, nullptr, 0, f.key);

  // The peer gets the stored bytes straight from the file.
  f.peerCipher.resize(kEntrySize);
  f.peerOut.resize(kEntrySize);
  tqp::FileHandle h = tqp::FileOpen(f.path.c_str(), tqp::ACCESS_READ, tqp::SHARE_READ,
                                    tqp::DISP_OPEN_EXISTING, 0);
  uint32_t done = 0;
  bool read = h != tqp::INVALID_FILE && tqp::FileSeek(h, TQARC_HEADER_SIZE, 0) == TQARC_HEADER_SIZE &&
              tqp::FileRead(h, f.peerCipher.data(), kEntrySize, &done) && done == kEntrySize;
  if (h != tqp::INVALID_FILE) tqp::FileClose(h);
  if (!read) return false;
  SwapHalves(f.peerCipher.data(), kEntrySize);

  if (OSSL_PROVIDER_load(nullptr, "legacy") && OSSL_PROVIDER_load(nullptr, "default"))
    f.evp = EVP_CIPHER_fetch(nullptr, "BF-ECB", nullptr);
  printf("peer: OpenSSL %s\n", f.evp ? "EVP BF-ECB (legacy provider)" : "BF_ecb_encrypt");

  // Both sides must give the plain bytes back before anything is timed.
  if (!PeerDecipher(f)) return false;
  SwapHalves(f.peerOut.data(), kEntrySize);
  if (memcmp(f.peerOut.data(), f.plain.data(), kEntrySize) != 0) {
    fprintf(stderr, "the peer's output differs from the plain bytes\n");
    return false;
  }
  return true;
}

void BM_ArchiveRead(benchmark::State& state) {
  Fixture& f = Data();
  tqArchive archive;
  if (!archive.Open(f.path.c_str())) {
    state.SkipWithError("cannot open the archive");
    return;
  }
  std::vector<uint8_t> buffer(kReadSize);
  bool checked = false;
  for (auto _ : state) {
    tqBigFile file(&archive);
    file.Open("big.bin", TQFILE_READ | TQFILE_EXISTING);
    uint32_t total = 0;
    int n;
    while ((n = file.Read(buffer.data(), kReadSize)) > 0) {
      if (!checked && memcmp(buffer.data(), f.plain.data() + total, (size_t)n) != 0) {
        state.SkipWithError("deciphered bytes differ");
        return;
      }
      total += (uint32_t)n;
    }
    checked = true;
    benchmark::DoNotOptimize(buffer.data());
    if (total != kEntrySize) {
      state.SkipWithError("short read");
      return;
    }
  }
  state.SetBytesProcessed((int64_t)state.iterations() * kEntrySize);
}

void BM_OpenSslBlowfish(benchmark::State& state) {
  Fixture& f = Data();
  for (auto _ : state) {
    if (!PeerDecipher(f)) {
      state.SkipWithError("OpenSSL failed");
      return;
    }
    benchmark::DoNotOptimize(f.peerOut.data());
  }
  state.SetBytesProcessed((int64_t)state.iterations() * kEntrySize);
}

BENCHMARK(BM_ArchiveRead)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(7);
BENCHMARK(BM_OpenSslBlowfish)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(7);

// Keeps the median CPU time of each benchmark.
class MedianReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.aggregate_name != "median") continue;
      double seconds = run.GetAdjustedCPUTime() / 1e3;  // milliseconds
      if (run.run_name.function_name == "BM_ArchiveRead") ours = seconds;
      if (run.run_name.function_name == "BM_OpenSslBlowfish") peer = seconds;
    }
  }
  double ours = 0, peer = 0;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (!Prepare()) {
    tqp::DeleteFile(Data().path.c_str());
    return 1;
  }
  MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  tqp::DeleteFile(Data().path.c_str());
  if (reporter.ours > 0 && reporter.peer > 0) {
    double mb = kEntrySize / 1e6;
    printf("archive_read (tqBigFile, 1 MiB reads): %.1f MB/s\n", mb / reporter.ours);
    printf("OpenSSL Blowfish ECB in memory:        %.1f MB/s\n", mb / reporter.peer);
    printf("ratio archive_read_vs_openssl_bf %.3f\n", reporter.ours / reporter.peer);
  }
  benchmark::Shutdown();
  return 0;
}
