// What the safe update costs: the demo package and a 1 GiB package (16 files
// of 64 MiB, half of them replacing installed files) applied to a small old
// installation, once as the updater does it now (plan, checks, copy into the
// staging folder, flush, journal, swap, new install.log) and once as a plain
// copy straight over the installation after rewriting install.log. Each
// timed run starts from the same old installation with dirty data written
// out; wall time is measured, since the difference is waiting for the disk.
// Prints the medians and "ratio update_safe_vs_plain" (the larger package).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "app/FileList.h"
#include "app/plan/tqUpdatePlan.h"
#include "app/plan/tqUpdateSwap.h"
#include "caps/tqCaps.h"
#include "copy/tqFileCopy.h"
#include "platform/tqCopyIo.h"
#include "platform/tqPlatform.h"
#include "platform/tqSysInfo.h"
#include "util/tqUtil.h"

namespace {

constexpr uint64_t MiB = 1048576;

struct Package {
  const char* name;
  int files;      // 0: the demo package
  uint64_t size;  // of each file
  int repetitions;
};
const Package PACKAGES[] = {
    {"demo", 0, 0, 9},
    {"1GiB", 16, 64 * MiB, 3},
};

std::string g_root, g_demo;  // library path form
std::map<std::string, std::vector<double>> g_seconds;

double Now() {
  int64_t c = 0, f = 1;
  tqp::PerformanceCounter(&c);
  tqp::PerformanceFrequency(&f);
  return (double)c / (double)f;
}

std::string Data(const Package& p) { return p.files ? g_root + "\\data_" + p.name : g_demo; }
std::string Install(const Package& p) { return g_root + "\\game_" + p.name; }

void RemoveTree(const std::string& path) {
  uint32_t a = tqp::GetAttributes(path.c_str());
  if (a == tqp::ATTR_INVALID) return;
  if (!(a & tqp::ATTR_DIRECTORY)) {
    tqp::DeleteFile(path.c_str());
    return;
  }
  tqp::FindData d;
  tqp::FindHandle h = tqp::FindFirst((path + "\\*").c_str(), d);
  std::vector<std::string> children;
  if (h) {
    do {
      if (strcmp(d.name, ".") && strcmp(d.name, "..")) children.push_back(path + "\\" + d.name);
    } while (tqp::FindNext(h, d));
    tqp::FindClose(h);
  }
  for (const auto& c : children) RemoveTree(c);
  tqp::RemoveDirectory(path.c_str());
}

bool WriteBytes(const std::string& path, uint64_t size, int seed) {
  tqp::FileHandle h = tqp::FileOpen(path.c_str(), tqp::ACCESS_WRITE, 0, tqp::DISP_CREATE_ALWAYS, tqp::ATTR_NORMAL);
  if (h == tqp::INVALID_FILE) return false;
  std::vector<char> block(4 * MiB, (char)seed);
  for (uint64_t done = 0; done < size;) {
    uint32_t n = (uint32_t)std::min<uint64_t>(block.size(), size - done), written = 0;
    memcpy(block.data(), &done, sizeof done);
    if (!tqp::FileWrite(h, block.data(), n, &written) || written != n) return false;
    done += n;
  }
  return tqp::FileClose(h);
}

// The package's data folder (the demo's is read where it is).
bool MakePackage(const Package& p) {
  if (!p.files) return tqp::GetAttributes(Data(p).c_str()) != tqp::ATTR_INVALID;
  std::string data = Data(p);
  RemoveTree(data);
  if (!tqp::CreateDirectory(data.c_str()) || !tqp::CreateDirectory((data + "\\pak").c_str())) return false;
  for (int i = 0; i < p.files; ++i)
    if (!WriteBytes(data + "\\pak\\p" + std::to_string(i) + ".pak", p.size, i)) return false;
  return true;
}

// Untimed: the old installation back, with every other package file
// installed in an old small version and an old log; dirty data written out.
void ResetInstallation(const Package& p, const std::vector<std::string>& files) {
  std::string install = Install(p);
  RemoveTree(install);
  tqCreateFolderTree((install + "\\config").c_str(), false);
  for (size_t i = 0; i < files.size(); i += 2) {
    std::string path = install + "\\" + files[i];
    char parent[1024];
    if (tqParentFolderOf(path.c_str(), parent)) tqCreateFolderTree(parent, false);
    WriteBytes(path, 4096, 1);
  }
  WriteBytes(install + "\\install.log", 0, 0);
  tqp::FlushFileSystems();
}

struct Done {
  tqp::EventHandle event = tqp::CreateEvent(true, false);
  int error = 0;
  const UpdatePlan* plan = nullptr;  // the safe way: staged files start to the disk
  int last = 0;
};

int32_t OnStatus(void* user, tqFileCopyStatus* status) {
  Done* d = static_cast<Done*>(user);
  // As the updater's own callback does.
  if (d->plan && status->value != d->last) {
    StagedFileDone(*d->plan, d->last);
    d->last = status->value;
  }
  if (status->finished) {
    d->error = status->error;
    tqp::SetEvent(d->event);
  }
  return 1;
}

bool RunEngine(tqFileCopy& engine, const UpdatePlan* plan = nullptr) {
  Done done;
  done.plan = plan;
  engine.Start(OnStatus, &done, nullptr);
  tqp::WaitEvent(done.event, tqp::INFINITE_WAIT);
  tqp::CloseEvent(done.event);
  return !done.error;
}

bool Plain(const Package& p, const std::vector<std::string>& files) {
  UpdateInstallLog(Install(p).c_str(), files);
  tqFileCopy engine(3, 0);
  engine.SetMode(1);
  for (const std::string& f : files)
    engine.AddJob((Data(p) + "\\" + f).c_str(), (Install(p) + "\\" + f).c_str(), 0);
  return RunEngine(engine);
}

bool Safe(const Package& p, const std::vector<std::string>& files) {
  UpdatePlan plan;
  PlanProblem problem;
  std::vector<CheckResult> results;
  if (!BuildPlan(Data(p).c_str(), Install(p).c_str(), files, &plan, &problem) || !CheckPlan(plan, &results))
    return false;
  tqFileCopy engine(3, 0);
  for (const PlanFile& f : plan.files)
    if (!f.keepInstalled) engine.AddJob(f.source.c_str(), plan.StagedPath(f.index).c_str(), f.index);
  SwapProblem swapProblem;
  return RunEngine(engine, &plan) && CommitStaged(plan, SwapHooks(), &swapProblem);
}

void Update(benchmark::State& state, const Package* p, bool safe) {
  FileList files;
  ScanFolder(Data(*p).c_str(), "", files);
  for (auto _ : state) {
    ResetInstallation(*p, files);
    const double start = Now();
    bool ok = safe ? Safe(*p, files) : Plain(*p, files);
    const double seconds = Now() - start;
    if (!ok) state.SkipWithError("the update failed");
    state.SetIterationTime(seconds);
    g_seconds[std::string(p->name) + (safe ? "/safe" : "/plain")].push_back(seconds);
  }
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  char folder[1024];
  tqp::GetModuleFileName(folder, sizeof folder);
  *strrchr(folder, '\\') = 0;
  g_root = std::string(folder) + "\\update-bench-data";
  RemoveTree(g_root);
  tqp::CreateDirectory(g_root.c_str());
#ifdef _WIN32
  g_demo = TQ_DEMO_DATA;
#else
  tqp::FromSystemPath(TQ_DEMO_DATA, g_demo);
#endif
  CreatePrivateHeap(10485760);
  tqCaps* caps = new tqCaps;
  caps->Probe(TQCAPS_OS, TQCAPS_DDE_NONE);
  benchmark::Initialize(&argc, argv);
  for (const Package& p : PACKAGES) {
    if (!MakePackage(p)) {
      fprintf(stderr, "cannot make the %s package under %s\n", p.name, g_root.c_str());
      return 1;
    }
    // The two ways alternate, so that a drift of the disk hits both alike.
    for (int r = 0; r < p.repetitions; ++r) {
      for (bool safe : {false, true})
        benchmark::RegisterBenchmark((std::string("update_") + p.name + (safe ? "/safe" : "/plain")).c_str(),
                                     Update, &p, safe)
            ->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
    }
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (const Package& p : PACKAGES) {
    double safe = Median(g_seconds[std::string(p.name) + "/safe"]);
    double plain = Median(g_seconds[std::string(p.name) + "/plain"]);
    printf("median update_%s safe %.3f s, plain %.3f s\n", p.name, safe, plain);
    if (plain > 0) printf("ratio update_safe_vs_plain_%s %.3f\n", p.name, safe / plain);
  }
  double safe = Median(g_seconds["1GiB/safe"]), plain = Median(g_seconds["1GiB/plain"]);
  if (plain > 0) printf("ratio update_safe_vs_plain %.3f\n", safe / plain);
  RemoveTree(g_root);
  delete caps;
  return 0;
}
