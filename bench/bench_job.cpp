// A whole render job: a model of about 20,000 triangles in 8 frames (8 shapes, each its
// own file) from 8 angles, saved as KXZ. Reports the wall time of the job and the share
// of it spent outside OpenGL (loading, read-back conversion, gap removal, palettes,
// saving): the time inside RenderView (drawing and read-back) counts as OpenGL.
//
//   ./build/bench/bench_job
#include "gl/GLView.h"
#include "jobs/JobRunner.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace quarvel;

namespace {

// A lumpy sphere of rings x segments quads (2 triangles each), wobbling with `phase`;
// the upper cap uses the side material, the rest two painted materials.
void WriteModel(const fs::path& file, int rings, int segments, double phase) {
  std::ofstream o(file);
  o << "mtllib lump.mtl\n";
  for (int r = 0; r <= rings; ++r) {
    const double th = M_PI * r / rings;
    for (int s = 0; s < segments; ++s) {
      const double ph = 2 * M_PI * s / segments;
      const double rad = 1.6 + 0.15 * std::sin(5 * th + phase) * std::cos(3 * ph - phase);
      o << "v " << rad * std::sin(th) * std::cos(ph) * 1.3 << " " << rad * std::cos(th) << " "
        << rad * std::sin(th) * std::sin(ph) << "\n";
    }
  }
  for (int r = 0; r < rings; ++r) {
    o << "usemtl " << (r < rings / 6 ? "side" : (r % 8 < 4 ? "red" : "blue")) << "\n";
    for (int s = 0; s < segments; ++s) {
      const int a = r * segments + s + 1, b = r * segments + (s + 1) % segments + 1;
      const int c = a + segments, d = b + segments;
      o << "f " << a << " " << b << " " << d << "\n";
      o << "f " << a << " " << d << " " << c << "\n";
    }
  }
}

void BM_RenderJob(benchmark::State& state) {
  const fs::path root =
      fs::temp_directory_path() / ("quarvel-bench-job-" + std::to_string(::getpid()));
  fs::create_directories(root);
  std::ofstream(root / "lump.mtl") << "newmtl red\nKa 0.2 0.1 0.1\nKd 0.8 0.3 0.2\n"
                                      "newmtl blue\nKa 0.1 0.1 0.2\nKd 0.2 0.4 0.9\n"
                                      "newmtl side\nKd 1 1 1\n";
  std::ofstream settings(root / "lump.settings");
  for (int a = 0; a < 8; ++a)
    settings << "angle " << a << " " << a * 45 << "\n";
  for (int f = 0; f < 8; ++f) {
    WriteModel(root / ("lump" + std::to_string(f) + ".obj"), 100, 100, f * 0.7);
    settings << "frame " << f + 1 << " lump" << f << ".obj\n";
  }
  settings.close();

  const TShaderSet shaders = PrepareGL(root.string());
  TRenderInputs inputs;
  inputs.Shaders = &shaders;
  double total = 0, gl = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    T2P5D_Manager job(nullptr);
    job.Multisampled = GLView->Multisampled();
    job.RootDir = root.string();
    job.OutputDir = (root / "out").string();
    job.LoadSettings("lump");
    job.RenderAll(inputs);
    job.SaveKXZ();
    total = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    gl = job.GLSeconds;
  }
  state.counters["job_s"] = total;
  state.counters["gl_s"] = gl;
  state.counters["outside_gl_share"] = (total - gl) / total;
  std::printf("job %.2f s, OpenGL %.2f s, outside OpenGL %.1f%% (%s, %d samples)\n", total, gl,
              100 * (total - gl) / total,
              GLView->Multisampled() ? "multisampled" : "single-sampled", GLView->Samples());
  fs::remove_all(root);
}

BENCHMARK(BM_RenderJob)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
