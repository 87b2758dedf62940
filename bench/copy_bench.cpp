// The copy engine against `cp -r --reflink=never` on the same disk, both
// from a cold page cache: one 2 GiB file, 200 files of 5 MiB, and 4,000 files
// of 4 KiB in 40 folders. Every timed run of either side starts with the
// sources dropped from the cache and all dirty data written out; only the
// copy itself is timed (ours: walking the source tree, queueing and copying;
// the peer: its whole process). Prints each median and one ratio line per set.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "caps/tqCaps.h"
#include "copy/tqFileCopy.h"
#include "platform/tqCopyIo.h"
#include "platform/tqPlatform.h"
#include "platform/tqProcess.h"
#include "platform/tqSysInfo.h"

namespace {

constexpr uint64_t MiB = 1048576;

struct DataSet {
  const char* name;     // ratio name: copy_<name>_vs_cp
  int folders;          // 0: files directly in the set's folder
  int files;            // in all
  uint64_t size;        // of each file
  int repetitions;
};
const DataSet SETS[] = {
    {"large", 0, 1, 2048 * MiB, 3},
    {"medium", 0, 200, 5 * MiB, 5},
    {"small", 40, 4000, 4096, 5},
};

std::string g_root;  // library path form
std::map<std::string, std::vector<double>> g_seconds;

double Now() {
  int64_t c = 0, f = 1;
  tqp::PerformanceCounter(&c);
  tqp::PerformanceFrequency(&f);
  return (double)c / (double)f;
}

std::string Source(const DataSet& s) { return g_root + "\\src_" + s.name; }
std::string Target(const DataSet& s) { return g_root + "\\dst_" + s.name; }

void RemoveTree(const std::string& path) {
  uint32_t a = tqp::GetAttributes(path.c_str());
  if (a == tqp::ATTR_INVALID) return;
  if (!(a & tqp::ATTR_DIRECTORY)) {
    tqp::DeleteFile(path.c_str());
    return;
  }
  std::vector<std::string> children;
  tqp::FindData d;
  tqp::FindHandle h = tqp::FindFirst((path + "\\*").c_str(), d);
  if (h) {
    do {
      if (strcmp(d.name, ".") && strcmp(d.name, "..")) children.push_back(path + "\\" + d.name);
    } while (tqp::FindNext(h, d));
    tqp::FindClose(h);
  }
  for (const auto& c : children) RemoveTree(c);
  tqp::RemoveDirectory(path.c_str());
}

// Every file below a folder, with its path relative to it.
void Walk(const std::string& folder, const std::string& relative, std::vector<std::string>& out) {
  tqp::FindData d;
  const std::string base = relative.empty() ? folder : folder + "\\" + relative;
  tqp::FindHandle h = tqp::FindFirst((base + "\\*").c_str(), d);
  if (!h) return;
  std::vector<std::string> folders;
  do {
    if (!strcmp(d.name, ".") || !strcmp(d.name, "..")) continue;
    std::string r = relative.empty() ? std::string(d.name) : relative + "\\" + d.name;
    if (d.attributes & tqp::ATTR_DIRECTORY) folders.push_back(r);
    else out.push_back(r);
  } while (tqp::FindNext(h, d));
  tqp::FindClose(h);
  for (const auto& f : folders) Walk(folder, f, out);
}

bool MakeSet(const DataSet& s) {
  const std::string root = Source(s);
  RemoveTree(root);
  if (!tqp::CreateDirectory(root.c_str())) return false;
  std::vector<char> block(4 * MiB);
  uint32_t x = 12345;
  for (char& c : block) {
    x = x * 1103515245u + 12345u;
    c = (char)(x >> 16);
  }
  for (int i = 0; i < s.files; ++i) {
    std::string folder = root;
    if (s.folders) {
      char sub[32];
      snprintf(sub, sizeof sub, "\\d%02d", i % s.folders);
      folder += sub;
      tqp::CreateDirectory(folder.c_str());
    }
    char name[32];
    snprintf(name, sizeof name, "\\f%05d.bin", i);
    tqp::FileHandle h = tqp::FileOpen((folder + name).c_str(), tqp::ACCESS_WRITE, 0,
                                      tqp::DISP_CREATE_ALWAYS, tqp::ATTR_NORMAL);
    if (h == tqp::INVALID_FILE) return false;
    for (uint64_t done = 0; done < s.size;) {
      uint32_t n = (uint32_t)std::min<uint64_t>(block.size(), s.size - done);
      // Each file and each block differ a little.
      memcpy(block.data(), &i, sizeof i);
      memcpy(block.data() + 4, &done, sizeof done);
      uint32_t written = 0;
      if (!tqp::FileWrite(h, block.data(), n, &written) || written != n) return false;
      done += n;
    }
    tqp::FileClose(h);
  }
  return true;
}

// Untimed: the destination gone, dirty data written out, the sources cold.
void Prepare(const DataSet& s) {
  RemoveTree(Target(s));
  tqp::FlushFileSystems();
  std::vector<std::string> files;
  Walk(Source(s), "", files);
  for (const auto& f : files) tqp::FileDropCache((Source(s) + "\\" + f).c_str());
}

struct Done {
  tqp::EventHandle event = tqp::CreateEvent(true, false);
  int error = 0;
};

int32_t OnStatus(void* user, tqFileCopyStatus* status) {
  Done* d = static_cast<Done*>(user);
  if (status->finished) {
    d->error = status->error;
    tqp::SetEvent(d->event);
  }
  return 1;
}

double RunOurs(const DataSet& s) {
  Done done;
  const double start = Now();
  tqFileCopy engine(3, 0);
  std::vector<std::string> files;
  Walk(Source(s), "", files);
  for (const auto& f : files)
    engine.AddJob((Source(s) + "\\" + f).c_str(), (Target(s) + "\\" + f).c_str(), 0);
  engine.Start(OnStatus, &done, nullptr);
  tqp::WaitEvent(done.event, tqp::INFINITE_WAIT);
  const double seconds = Now() - start;
  tqp::CloseEvent(done.event);
  if (done.error) fprintf(stderr, "copy of %s failed\n", s.name);
  return seconds;
}

double RunPeer(const DataSet& s) {
  std::string cp, src, dst;
  tqp::FromSystemPath("/usr/bin/cp", cp);
  tqp::ToSystemPath(Source(s).c_str(), src);
  tqp::ToSystemPath(Target(s).c_str(), dst);
  const double start = Now();
  tqp::ProcessHandle p = tqp::StartProcess(cp.c_str(), {"-r", "--reflink=never", src, dst});
  uint32_t code = 1;
  if (p) tqp::WaitProcess(p, tqp::INFINITE_WAIT, &code);
  const double seconds = Now() - start;
  tqp::CloseProcess(p);
  if (code != 0) fprintf(stderr, "cp of %s failed\n", s.name);
  return seconds;
}

void Copy(benchmark::State& state, const DataSet* s, bool ours) {
  for (auto _ : state) {
    Prepare(*s);
    const double seconds = ours ? RunOurs(*s) : RunPeer(*s);
    state.SetIterationTime(seconds);
    g_seconds[std::string(s->name) + (ours ? "/ours" : "/cp")].push_back(seconds);
  }
  state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)(s->size * (uint64_t)s->files));
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string env;
  if (tqp::GetEnvironment("TQ_BENCH_DIR", env)) {
    tqp::FromSystemPath(env, g_root);
  } else {
    char folder[1024];
    tqp::GetModuleFileName(folder, sizeof folder);
    *strrchr(folder, '\\') = 0;
    g_root = std::string(folder) + "\\copy-bench-data";
  }
  tqp::CreateDirectory(g_root.c_str());
  CreatePrivateHeap(10485760);
  // The probe runs before any timing: it decides the reading mode.
  tqCaps* caps = new tqCaps;
  caps->Probe(TQCAPS_OS, TQCAPS_DDE_NONE);

  benchmark::Initialize(&argc, argv);
  for (const DataSet& s : SETS) {
    if (!MakeSet(s)) {
      fprintf(stderr, "cannot make the %s set under %s\n", s.name, g_root.c_str());
      return 1;
    }
    // Ours and the peer alternate within the set, so that a drift of the
    // disk hits both alike.
    for (int r = 0; r < s.repetitions; ++r) {
      benchmark::RegisterBenchmark((std::string("copy_") + s.name + "/ours").c_str(), Copy, &s, true)
          ->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
      benchmark::RegisterBenchmark((std::string("copy_") + s.name + "/cp").c_str(), Copy, &s, false)
          ->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
    }
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  for (const DataSet& s : SETS) {
    const double ours = Median(g_seconds[std::string(s.name) + "/ours"]);
    const double peer = Median(g_seconds[std::string(s.name) + "/cp"]);
    printf("median copy_%s ours %.3f s, cp %.3f s\n", s.name, ours, peer);
  }
  for (const DataSet& s : SETS) {
    const double ours = Median(g_seconds[std::string(s.name) + "/ours"]);
    const double peer = Median(g_seconds[std::string(s.name) + "/cp"]);
    if (peer > 0) printf("ratio copy_%s_vs_cp %.3f\n", s.name, ours / peer);
  }
  for (const DataSet& s : SETS) {
    RemoveTree(Source(s));
    RemoveTree(Target(s));
  }
  tqp::RemoveDirectory(g_root.c_str());
  delete caps;
  return 0;
}
