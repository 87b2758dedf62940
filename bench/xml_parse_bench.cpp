// Loading a 1 MiB settings-like Shift_JIS document: tqXml::OpenMem (parse and
// document model) against pugixml parsing the same bytes. Each iteration
// builds and releases a whole document on both sides; each side runs 7 times
// and the ratio is of the medians of their CPU times, with its spread.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "tqClassBase/tqClassBase.h"
#include "xml/tqXml.h"

namespace {

// Sections of a dozen keys with short texts (a third of them Japanese), an
// attribute here and there, a comment every tenth section; CR LF lines.
const std::string& Document() {
  static const std::string text = [] {
    // 設定 and 音量 in Shift_JIS.
    const std::string japanese[] = {"\x90\xdd\x92\xe8", "\x89\xb9\x97\xca",
                                    "\x83\x5c\x83\x74\x83\x67"};
    std::string s = "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\r\n<document>\r\n";
    for (int section = 0; s.size() < (1u << 20) - 512; ++section) {
      const std::string name = "SECTION" + std::to_string(section);
      if (section % 10 == 0) s += "  <!-- settings of " + name + " -->\r\n";
      s += "  <" + name +
           (section % 4 == 0 ? " mode=\"" + std::to_string(section % 3) + "\"" : "") + ">\r\n";
      for (int key = 0; key < 12; ++key) {
        const std::string k = "key" + std::to_string(key);
        std::string value = key % 3 == 0 ? japanese[(section + key) % 3]
                                         : "text " + std::to_string(section * 7 + key);
        s += "    <" + k + ">" + value + "</" + k + ">\r\n";
      }
      s += "  </" + name + ">\r\n";
    }
    s += "</document>\r\n";
    return s;
  }();
  return text;
}

void BM_TqXmlOpenMem(benchmark::State& state) {
  const std::string& text = Document();
  for (auto _ : state) {
    tqXml xml;
    if (!xml.OpenMem(text.data(), text.size())) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(xml.Top());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}

void BM_Pugixml(benchmark::State& state) {
  const std::string& text = Document();
  for (auto _ : state) {
    pugi::xml_document doc;
    if (!doc.load_buffer(text.data(), text.size())) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(doc.first_child());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}

BENCHMARK(BM_TqXmlOpenMem)->Unit(benchmark::kMillisecond)->Repetitions(7);
BENCHMARK(BM_Pugixml)->Unit(benchmark::kMillisecond)->Repetitions(7);

// Keeps every repetition's CPU time of the measuring thread (wall time on a
// machine shared with other work mostly measures the other work) while the
// console shows the table.
class RepetitionReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, std::vector<double>> times;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration) times[run.run_name.function_name].push_back(run.GetAdjustedCPUTime());
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  CreatePrivateHeap(10485760);
  // Repetitions of both sides interleave, so that a busy machine weighs on
  // both alike.
  std::vector<char*> args(argv, argv + argc);
  char interleave[] = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1, interleave);
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  RepetitionReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  std::vector<double>& ours = reporter.times["BM_TqXmlOpenMem"];
  std::vector<double>& peer = reporter.times["BM_Pugixml"];
  std::printf("document %zu bytes\n", Document().size());
  if (ours.empty() || peer.empty()) return 0;
  std::sort(ours.begin(), ours.end());
  std::sort(peer.begin(), peer.end());
  std::printf("median CPU tqXml::OpenMem %.3f ms (%.3f to %.3f), pugixml %.3f ms (%.3f to %.3f), %zu runs each\n",
              Median(ours), ours.front(), ours.back(), Median(peer), peer.front(), peer.back(), ours.size());
  // The spread of the ratio: repetition i of ours over repetition i of the
  // peer, both sorted.
  std::vector<double> ratios;
  for (size_t i = 0; i < ours.size() && i < peer.size(); ++i) ratios.push_back(ours[i] / peer[i]);
  std::sort(ratios.begin(), ratios.end());
  std::printf("spread of the ratio over the runs: %.3f to %.3f\n", ratios.front(), ratios.back());
  if (Median(peer) > 0) std::printf("ratio xml_parse_vs_pugixml %.3f\n", Median(ours) / Median(peer));
  DestroyPrivateHeap();
  return 0;
}
