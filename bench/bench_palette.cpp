// Palette building, sheet finishing and output encoding on a realistic sheet: 16 frames
// of 200 x 250 pixels with background, shaded model colours (about 40,000 distinct) and
// side pixels. Afterwards the literal algorithms (a linear search of the colour list per
// pixel, a scan of all 65,536 RGB565 colours per colour to snap, a palette scan per
// pixel) run once on the same sheet, and the last line printed is
// "speedup_vs_literal=<literal time / fast time>".
//
// Run: build/bench/bench_palette [--skip-literal] [google benchmark flags]
#include "colour/Palette.h"
#include "output/Finishing.h"
#include "output/KXFile.h"
#include "output/Palette16.h"

#include "../tests/colour/LiteralPalette.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace quarvel;

constexpr int Frames = 16;
constexpr int FrameW = 200;
constexpr int FrameH = 250;

// A lit, textured blob per frame: an ellipse that turns a little from frame to frame,
// shaded by a light from the upper left, with texture noise; a band of side faces at
// its lower edge; background elsewhere.
TAngleSheet MakeRealisticSheet() {
  TAngleSheet s;
  s.FrameWidth = FrameW;
  s.SheetWidth = Frames * FrameW;
  s.Height = FrameH;
  s.ColourPlane.assign(s.PixelCount() * 3, 0);
  s.DepthPlane.assign(s.PixelCount(), 0);
  s.SidePlane.assign(s.PixelCount(), 0);
  std::mt19937 rng(2024);
  for (int f = 0; f < Frames; ++f) {
    const double rx = 80 + 10 * std::sin(f * 0.4), ry = 105;
    for (int y = 0; y < FrameH; ++y)
      for (int x = 0; x < FrameW; ++x) {
        const size_t i = static_cast<size_t>(y) * s.SheetWidth + f * FrameW + x;
        uint8_t* c = &s.ColourPlane[3 * i];
        const double dx = (x - FrameW / 2) / rx, dy = (y - FrameH / 2) / ry;
        const double r2 = dx * dx + dy * dy;
        if (r2 > 1) {
          c[0] = 255, c[1] = 0, c[2] = 255;
          continue;
        }
        const double nz = std::sqrt(1 - r2);
        s.DepthPlane[i] = static_cast<uint8_t>(1 + nz * 120);
        if (dy > 0.75 && (x / 9 + f) % 3 == 0) { // side faces
          c[0] = 255, c[1] = 0, c[2] = 255;
          s.SidePlane[i] = static_cast<uint8_t>(30 + 150 * nz);
          continue;
        }
        const double light = std::max(0.15, (-dx * 0.5 - dy * 0.5 + nz * 0.7));
        // Two materials with a texture pattern and noise.
        const bool metal = ((x + f * 3) / 25 + y / 30) % 2 == 0;
        const double base[3] = {metal ? 150.0 : 90.0, metal ? 150.0 : 120.0, metal ? 160.0 : 60.0};
        const int noise = static_cast<int>(rng() % 16);
        for (int k = 0; k < 3; ++k) {
          const double v = base[k] * light + noise + static_cast<int>(rng() % 4) +
                           ((x * 7 + y * 3 + k * 11) % 13);
          c[k] = static_cast<uint8_t>(std::clamp(v, 0.0, 254.0));
        }
      }
  }
  return s;
}

const TAngleSheet& Sheet() {
  static const TAngleSheet sheet = MakeRealisticSheet();
  return sheet;
}

// What a render job does for one angle between rendering and writing, plus the bytes of
// both output formats.
size_t FastPipeline(std::vector<TAngleSheet>& sheets) {
  BuildSheetPalettes(sheets, false, nullptr);
  size_t bytes = 0;
  for (TAngleSheet& sheet : sheets) {
    FinishSheet(sheet);
    bytes += Make2P5D(sheet).size();
    bytes += SheetToKXZ(sheet).size();
    bytes += Palette16Bytes(sheet.Palette).size();
  }
  return bytes;
}

size_t LiteralPipeline(std::vector<TAngleSheet>& sheets) {
  literal::MakePalettes(sheets, false);
  size_t bytes = 0;
  for (TAngleSheet& sheet : sheets) {
    literal::FinishSheet(sheet);
    bytes += Make2P5D(sheet).size();
    bytes += SheetToKXZ(sheet).size();
    bytes += Palette16Bytes(sheet.Palette).size();
  }
  return bytes;
}

void BM_PaletteFinishEncode(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<TAngleSheet> sheets{Sheet()};
    state.ResumeTiming();
    benchmark::DoNotOptimize(FastPipeline(sheets));
  }
  state.counters["distinct_colours"] =
      static_cast<double>(DistinctColours(Sheet()).size() - ReservedEntries);
}
BENCHMARK(BM_PaletteFinishEncode)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The same with the three files written through the atomic writer.
void BM_PaletteFinishWriteFiles(benchmark::State& state) {
  const std::string dir =
      (std::filesystem::temp_directory_path() / "quarvel_bench_palette").string();
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<TAngleSheet> sheets{Sheet()};
    state.ResumeTiming();
    BuildSheetPalettes(sheets, false, nullptr);
    FinishSheet(sheets[0]);
    Write2P5D(SheetFileName(dir + "/bench", 0, "2p5d"), sheets[0]);
    WriteKXZ(SheetFileName(dir + "/bench", 0, "kxz"), sheets[0]);
  }
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_PaletteFinishWriteFiles)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_BuildSheetPalettes(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<TAngleSheet> sheets{Sheet()};
    state.ResumeTiming();
    BuildSheetPalettes(sheets, false, nullptr);
  }
}
BENCHMARK(BM_BuildSheetPalettes)->Unit(benchmark::kMillisecond);

void BM_FinishSheet(benchmark::State& state) {
  std::vector<TAngleSheet> built{Sheet()};
  BuildSheetPalettes(built, false, nullptr);
  for (auto _ : state) {
    state.PauseTiming();
    TAngleSheet sheet = built[0];
    state.ResumeTiming();
    FinishSheet(sheet);
  }
}
BENCHMARK(BM_FinishSheet)->Unit(benchmark::kMillisecond);

void BM_FindNearestRGB565(benchmark::State& state) {
  std::mt19937 rng(1);
  std::vector<TRGBTriple> colours(4096);
  for (TRGBTriple& c : colours)
    c = MakeTriple(static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()),
                   static_cast<uint8_t>(rng()));
  size_t k = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(FindNearestRGB565(colours[k++ & 4095]));
  }
}
BENCHMARK(BM_FindNearestRGB565);

// CPU time of this process: the machine is shared, and wall time under load says more
// about the neighbours than about this code.
double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double WallSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

} // namespace

int main(int argc, char** argv) {
  bool skipLiteral = false;
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--skip-literal") == 0)
      skipLiteral = true;
    else
      args.push_back(argv[i]);
  }
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data()))
    return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (skipLiteral)
    return 0;

  // Best of five fast runs against one literal run, same sheet, same outputs; CPU time.
  double fast = 1e30, fastWall = 1e30;
  std::vector<TAngleSheet> fastSheets;
  for (int run = 0; run < 5; ++run) {
    fastSheets.assign(1, Sheet());
    const double cpu = CpuSeconds(), wall = WallSeconds();
    benchmark::DoNotOptimize(FastPipeline(fastSheets));
    fast = std::min(fast, CpuSeconds() - cpu);
    fastWall = std::min(fastWall, WallSeconds() - wall);
  }
  std::vector<TAngleSheet> slowSheets{Sheet()};
  const double cpu = CpuSeconds(), wall = WallSeconds();
  benchmark::DoNotOptimize(LiteralPipeline(slowSheets));
  const double slow = CpuSeconds() - cpu, slowWall = WallSeconds() - wall;
  const bool same = Make2P5D(fastSheets[0]) == Make2P5D(slowSheets[0]) &&
                    SheetToKXZ(fastSheets[0]) == SheetToKXZ(slowSheets[0]);
  std::printf("fast_cpu_ms=%.2f fast_wall_ms=%.2f literal_cpu_ms=%.1f literal_wall_ms=%.1f "
              "identical_output=%s\n",
              fast * 1e3, fastWall * 1e3, slow * 1e3, slowWall * 1e3, same ? "yes" : "NO");
  std::printf("speedup_vs_literal=%.1f\n", slow / fast);
  return same ? 0 : 1;
}
