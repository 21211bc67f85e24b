// What the trial import costs: a scene file read with Assimp tried first in a child
// process (as the program reads it) against the same read without the trial. Files: the
// bundled walker (7.6 KB glTF) and, when Debian's assimp-testmodels is installed, the FBX
// spider (a real exported model). Prints the ratio with / without for each file.
#include "models/SceneFile.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace quarvel;

struct TFile {
  std::string Root, Name;
};

const std::vector<TFile>& Files() {
  static const std::vector<TFile> files = [] {
    std::vector<TFile> found = {
        {std::string(QUARVEL_SOURCE_DIR) + "/examples", "units/walker.gltf"}};
    if (std::filesystem::exists("/usr/share/assimp/models/FBX/spider.fbx"))
      found.push_back({"/usr/share/assimp/models", "FBX/spider.fbx"});
    return found;
  }();
  return files;
}

void Read(benchmark::State& state, bool trial) {
  const TFile& file = Files()[static_cast<size_t>(state.range(0))];
  SetSceneTrial(trial ? DefaultSceneTrialSeconds : 0);
  std::vector<std::string> warnings;
  for (auto _ : state) {
    warnings.clear();
    benchmark::DoNotOptimize(ReadSceneFile(file.Root, file.Name, warnings));
  }
  SetSceneTrial(DefaultSceneTrialSeconds);
  state.SetLabel(file.Name);
}

void BM_ReadDirect(benchmark::State& state) {
  Read(state, false);
}
void BM_ReadWithTrial(benchmark::State& state) {
  Read(state, true);
}

void Args(benchmark::internal::Benchmark* b) {
  for (size_t i = 0; i < Files().size(); ++i)
    b->Arg(static_cast<int64_t>(i));
  b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_ReadDirect)->Apply(Args);
BENCHMARK(BM_ReadWithTrial)->Apply(Args);

// Keeps each run's time per read, to print the ratios once all have run.
class TRatioReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration)
        Times[run.benchmark_name()] = run.GetAdjustedRealTime();
  }
  std::map<std::string, double> Times;
};

} // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (size_t i = 0; i < Files().size(); ++i) {
    const std::string arg = "/" + std::to_string(i);
    const auto direct = reporter.Times.find("BM_ReadDirect" + arg);
    const auto trial = reporter.Times.find("BM_ReadWithTrial" + arg);
    if (direct != reporter.Times.end() && trial != reporter.Times.end() && direct->second > 0)
      std::printf("%s: with the trial %.2f x the time without (%.2f ms against %.2f ms)\n",
                  Files()[i].Name.c_str(), trial->second / direct->second, trial->second,
                  direct->second);
  }
  benchmark::Shutdown();
}
