// Scale: memory of a job with many views, and a very large model.
//
// 1. A job of 32 angles x 64 frames of a small model (a few hundred triangles per frame),
//    rendered and saved as KXZ. Reports the peak resident memory of the process after
//    the job, next to what full-size planes for every view would have needed.
// 2. A model of 1,000,000 triangles (a finely divided sphere), loaded and rendered from
//    one angle in one frame. Reports load and render times and the peak afterwards.
//
//   ./build/bench/bench_scale            # both
//   ./build/bench/bench_scale views      # only the first
//   ./build/bench/bench_scale triangles  # only the second
#include "gl/GLView.h"
#include "jobs/JobRunner.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace quarvel;

namespace {

double PeakResidentMB() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0; // ru_maxrss is in KiB on Linux
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A sphere of rings x segments quads (two triangles each), wobbling with `phase`; the top
// rings use the side material.
void WriteSphere(const fs::path& file, int rings, int segments, double phase) {
  std::ofstream o(file);
  o << "mtllib ball.mtl\n";
  char line[96];
  for (int r = 0; r <= rings; ++r) {
    const double th = M_PI * r / rings;
    for (int s = 0; s < segments; ++s) {
      const double ph = 2 * M_PI * s / segments;
      const double rad = 1.0 + 0.12 * std::sin(4 * th + phase) * std::cos(3 * ph - phase);
      std::snprintf(line, sizeof line, "v %.5f %.5f %.5f\n", rad * std::sin(th) * std::cos(ph),
                    rad * std::cos(th), rad * std::sin(th) * std::sin(ph));
      o << line;
    }
  }
  for (int r = 0; r < rings; ++r) {
    if (r == 0 || r == rings / 6)
      o << "usemtl " << (r == 0 ? "side" : "paint") << "\n";
    for (int s = 0; s < segments; ++s) {
      const int a = r * segments + s + 1, b = r * segments + (s + 1) % segments + 1;
      const int c = a + segments, d = b + segments;
      std::snprintf(line, sizeof line, "f %d %d %d\nf %d %d %d\n", a, b, d, a, d, c);
      o << line;
    }
  }
}

void WriteMaterials(const fs::path& root) {
  std::ofstream(root / "ball.mtl") << "newmtl paint\nKa 0.2 0.1 0.1\nKd 0.8 0.4 0.2\n"
                                      "newmtl side\nKd 1 1 1\n";
}

// A job reading from and writing below `root`, drawn into the program's GL view.
void SetUpJob(T2P5D_Manager& job, const fs::path& root) {
  job.Multisampled = GLView->Multisampled();
  job.RootDir = root.string();
  job.OutputDir = (root / "out").string();
}

void ManyViews(const fs::path& root, const TRenderInputs& inputs) {
  constexpr int Angles = 32, Frames = 64;
  std::ofstream settings(root / "many.settings");
  settings << "scale 0.9\n";
  for (int a = 0; a < Angles; ++a)
    settings << "angle " << a << " " << a * 360 / Angles << "\n";
  for (int f = 0; f < Frames; ++f) {
    const std::string model = "ball" + std::to_string(f) + ".obj";
    WriteSphere(root / model, 12, 16, f * 0.1);
    settings << "frame " << f + 1 << " " << model << "\n";
  }
  settings.close();

  const auto start = std::chrono::steady_clock::now();
  const double before = PeakResidentMB();
  T2P5D_Manager job(nullptr);
  SetUpJob(job, root);
  job.LoadSettings("many");
  job.RenderAll(inputs);
  job.SaveKXZ();
  const double seconds = SecondsSince(start);
  const TAngleSheet& sheet = job.Sheets.front();
  const double fullPlanesMB =
      static_cast<double>(Angles) * Frames * job.ViewWidth * job.ViewHeight * 5 / (1024.0 * 1024.0);
  std::printf("views: %d angles x %d frames of %dx%d, frames cropped to %dx%d, %.1f s\n", Angles,
              Frames, job.ViewWidth, job.ViewHeight, sheet.FrameWidth, sheet.Height, seconds);
  std::printf("views: peak resident %.0f MB (%.0f MB before the job; full-size planes for "
              "every view would be %.0f MB)\n",
              PeakResidentMB(), before, fullPlanesMB);
}

void MillionTriangles(const fs::path& root, const TRenderInputs& inputs) {
  // 1000 rings x 500 segments x 2 = 1,000,000 triangles.
  WriteSphere(root / "huge.obj", 1000, 500, 0.0);
  std::ofstream(root / "huge.settings") << "scale 1.5\nangle 0 30\nframe 1 huge.obj\n";
  const auto start = std::chrono::steady_clock::now();
  T2P5D_Manager job(nullptr);
  SetUpJob(job, root);
  job.LoadSettings("huge");
  const double loaded = SecondsSince(start);
  job.RenderAll(inputs);
  job.SaveKXZ();
  std::printf("triangles: 1,000,000-triangle model (%.0f MB of OBJ) loaded in %.1f s, one view "
              "rendered and saved in %.1f s (frame %dx%d); peak resident %.0f MB\n",
              static_cast<double>(fs::file_size(root / "huge.obj")) / (1024.0 * 1024.0), loaded,
              SecondsSince(start) - loaded, job.Sheets.front().FrameWidth,
              job.Sheets.front().Height, PeakResidentMB());
}

} // namespace

int main(int argc, char** argv) {
  const std::string only = argc > 1 ? argv[1] : "";
  const fs::path root =
      fs::temp_directory_path() / ("quarvel-bench-scale-" + std::to_string(::getpid()));
  fs::create_directories(root);
  WriteMaterials(root);
  int status = 0;
  try {
    const TShaderSet shaders = PrepareGL(root.string());
    TRenderInputs inputs;
    inputs.Shaders = &shaders;
    std::printf("GL: %s, %d samples\n", GLView->Multisampled() ? "multisampled" : "single-sampled",
                GLView->Samples());
    if (only.empty() || only == "views")
      ManyViews(root, inputs);
    if (only.empty() || only == "triangles")
      MillionTriangles(root, inputs);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_scale: %s\n", e.what());
    status = 1;
  }
  fs::remove_all(root);
  return status;
}
