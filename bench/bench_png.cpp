// The cost of PNG sheets against the rest of a job: each example job (units/tank,
// units/walker) is loaded and rendered with every map (depth, mask, normal: the normal
// pass included), then its PNG set is encoded at several zlib levels. Reports per job and
// level the time of encoding every sheet, the time of the whole PNG save (sheets,
// atlases, writing the files; beside it the same job's KXZ save) and the encoding's share
// of the job (load + passes + PNG save), which must stay under 10 % at the level the
// program uses (T2P5D_Manager::PNGLevel).
//
//   ./build/bench/bench_png
#include "gl/GLView.h"
#include "image/Image.h"
#include "jobs/JobRunner.h"
#include "output/SpriteSheet.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace quarvel;

namespace {

double Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_PngSheets(benchmark::State& state) {
  const std::string root = std::string(QUARVEL_SOURCE_DIR) + "/examples";
  const fs::path out =
      fs::temp_directory_path() / ("quarvel-bench-png-" + std::to_string(::getpid()));
  const TShaderSet shaders = PrepareGL(root);
  TRenderInputs inputs;
  inputs.Shaders = &shaders;
  for (auto _ : state)
    for (const char* name : {"units/tank", "units/walker"}) {
      T2P5D_Manager job(nullptr);
      TJobOptions options;
      options.RootDir = root;
      options.OutputDir = out.string();
      options.Format = TOutputFormat::PNG;
      options.Sheets.Maps = MapDepth | MapMask | MapNormal;
      job.Multisampled = GLView->Multisampled();
      const auto started = std::chrono::steady_clock::now();
      LoadJob(job, options, name);
      job.RenderAll(inputs);
      const double passes = Since(started);
      // The same sheets as KXZ, for what the program's own format costs to save (this
      // save also finishes the sheets, as any first save does).
      const auto kxzStarted = std::chrono::steady_clock::now();
      job.SaveSheets(TOutputFormat::KXZ);
      const double kxz = Since(kxzStarted);
      const int used = job.PNGLevel;
      for (const int level : {1, 3, 6, 9}) {
        job.PNGLevel = level;
        const auto saveStarted = std::chrono::steady_clock::now();
        job.SaveSheets(TOutputFormat::PNG);
        const double save = Since(saveStarted);
        // The encoding alone, the best of three runs (the machine may be busy).
        double encode = 1e9;
        size_t bytes = 0;
        for (int run = 0; run < 3; ++run) {
          const auto encodeStarted = std::chrono::steady_clock::now();
          bytes = 0;
          for (const TAngleSheet& sheet : job.Sheets) {
            const TSheetGrid grid =
                SheetGridOf(sheet.FrameCount(), sheet.FrameWidth, sheet.Height, 4096);
            for (const TOutputKind kind : {TOutputKind::ColourSheet, TOutputKind::DepthSheet,
                                           TOutputKind::MaskSheet, TOutputKind::NormalSheet}) {
              const std::vector<uint8_t> pixels = SheetPixels(sheet, grid, kind, job.SheetOptions);
              bytes += EncodePNG("bench", grid.Width(), grid.Height(), SheetChannels(kind),
                                 pixels.data(), level)
                           .size();
            }
          }
          encode = std::min(encode, Since(encodeStarted));
        }
        std::printf("%-12s level %d%s: encoding %6.1f ms, PNG save %6.1f ms (KXZ %5.1f ms), "
                    "load and passes %6.1f ms, encoding / job %4.1f%%, %zu bytes\n",
                    name, level, level == used ? " (used)" : "       ", encode * 1000, save * 1000,
                    kxz * 1000, passes * 1000, 100 * encode / (passes + save), bytes);
        if (level == used)
          state.counters[std::string(name) + " encoding/job"] = encode / (passes + save);
      }
      job.PNGLevel = used;
    }
  fs::remove_all(out);
}

BENCHMARK(BM_PngSheets)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
