// The visual view drawn the literal way (50 enlarged copies on cleared depth buffers,
// then the model, from display lists that set and reset the material around every face)
// and the new way (smallest copy first, samples claimed in the stencil buffer, lists
// that send a material or texture only where it changes), in one run, on (a) the bundled example's
// tank and (b) a generated model of about 100,000 triangles. Every read-back of both ways is
// compared byte for byte (alpha included); a difference ends the program with status 1.
//
//   ./build/bench/bench_margin [REPEATS] [EXAMPLES_DIR] [tank|lump100k]
//
// Prints per model the median wall time of one visual view (drawing and read-back) each
// way and `visual_pass_speedup=` (literal / claimed), and how much of the claimed view is
// left when the rasteriser discards everything (the share the vertex side could save).
#include "gl/GLView.h"
#include "image/Image.h"
#include "jobs/JobRunner.h"
#include "models/OBJFile.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace quarvel;

namespace {

// A lumpy sphere of rings x segments quads (two triangles each) in three materials, one
// of them textured; groups of at most 5,000 faces, as the reader makes them.
void WriteBigModel(const fs::path& dir, int rings, int segments) {
  std::vector<uint8_t> pixels(64 * 64 * 3);
  for (size_t i = 0; i < pixels.size(); ++i)
    pixels[i] = static_cast<uint8_t>((i * 37) ^ (i / 192));
  WritePNG((dir / "lump.png").string(), 64, 64, 3, pixels.data());
  std::ofstream(dir / "lump.mtl")
      << "newmtl red\nKa 0.2 0.1 0.1\nKd 0.8 0.3 0.2\n"
         "newmtl skin\nKa 0.2 0.2 0.2\nKd 0.9 0.9 0.9\nmap_Kd lump.png\n"
         "newmtl side\nKd 1 1 1\n";
  std::ofstream o(dir / "lump.obj");
  o << "mtllib lump.mtl\n";
  for (int r = 0; r <= rings; ++r) {
    const double th = M_PI * r / rings;
    for (int s = 0; s < segments; ++s) {
      const double ph = 2 * M_PI * s / segments;
      const double rad = 1.6 + 0.15 * std::sin(5 * th) * std::cos(3 * ph);
      o << "v " << rad * std::sin(th) * std::cos(ph) * 1.3 << " " << rad * std::cos(th) << " "
        << rad * std::sin(th) * std::sin(ph) << "\n";
      o << "vt " << 4.0 * s / segments << " " << 2.0 * r / rings << "\n";
    }
  }
  int faces = 0;
  for (int r = 0; r < rings; ++r) {
    o << "usemtl " << (r < rings / 6 ? "side" : (r % 8 < 4 ? "red" : "skin")) << "\n";
    for (int s = 0; s < segments; ++s) {
      if (faces % 5000 == 0)
        o << "g part" << faces / 5000 << "\n";
      const int a = r * segments + s + 1, b = r * segments + (s + 1) % segments + 1;
      const int c = a + segments, d = b + segments;
      o << "f " << a << "/" << a << " " << b << "/" << b << " " << d << "/" << d << "\n";
      o << "f " << a << "/" << a << " " << d << "/" << d << " " << c << "/" << c << "\n";
      faces += 2;
    }
  }
  std::ofstream(dir / "lump.settings") << "scale 1\nzmax 127\nangle 0 30\nframe 1 lump.obj\n";
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

std::unique_ptr<T2P5D_Manager> LoadJob(const fs::path& root, const std::string& name,
                                       bool literal) {
  auto job = std::make_unique<T2P5D_Manager>(nullptr);
  job->RootDir = root.string();
  job->Multisampled = GLView->Multisampled();
  job->LiteralDrawing = literal;
  job->LoadSettings(name);
  job->PrepareModels();
  job->ViewWidth = GLView->Width();
  job->ViewHeight = GLView->Height();
  job->CurrentAngle = 0;
  job->CurrentFrame = 0;
  return job;
}

// Times one visual view each way, alternating; false when the read-backs differ. Each
// way has its own job and models, so that neither recompiles display lists while timed.
bool Measure(const char* label, const fs::path& root, const std::string& name, int repeats,
             const TRenderInputs& inputs) {
  const auto literalJob = LoadJob(root, name, true);
  const auto claimedJob = LoadJob(root, name, false);
  size_t triangles = 0;
  for (const auto& g : literalJob->Models[0]->Groups)
    triangles += g.Faces.size();

  std::vector<uint8_t> literal, claimed;
  std::vector<double> literalTimes, claimedTimes;
  bool same = true;
  for (int i = -1; i < repeats; ++i) { // the first round compiles the lists: not timed
    for (const bool useLiteral : {true, false}) {
      T2P5D_Manager& job = useLiteral ? *literalJob : *claimedJob;
      const auto start = std::chrono::steady_clock::now();
      job.RenderView(inputs, false, false, useLiteral ? literal : claimed);
      const double s =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      if (i >= 0)
        (useLiteral ? literalTimes : claimedTimes).push_back(s);
    }
    same = same && literal == claimed;
  }
  T2P5D_Manager& job = *claimedJob;
  // For scale: the depth view of the same model (clears, one draw, read-back).
  std::vector<double> depthTimes;
  std::vector<uint8_t> depth;
  for (int i = 0; i < repeats; ++i) {
    const auto start = std::chrono::steady_clock::now();
    job.RenderView(inputs, true, false, depth);
    depthTimes.push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  // Where the claimed view's time goes: the same view with the rasteriser discarding
  // every primitive (clears included) costs what the vertex side costs (display list
  // replay, vertex shading, clipping, state); the rest is rasterisation, fragment
  // shading and the depth and stencil tests, which only fewer samples could reduce.
  std::vector<double> vertexTimes;
  std::vector<uint8_t> discarded;
  for (int i = 0; i < repeats; ++i) {
    glEnable(GL_RASTERIZER_DISCARD);
    const auto start = std::chrono::steady_clock::now();
    job.RenderView(inputs, false, false, discarded);
    vertexTimes.push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    glDisable(GL_RASTERIZER_DISCARD);
  }
  const double l = Median(literalTimes), c = Median(claimedTimes), v = Median(vertexTimes);
  std::printf("%s: %zu faces, one visual view: literal %.1f ms, claimed %.1f ms, read-backs %s; "
              "depth view (one draw) %.1f ms\n",
              label, triangles, l * 1000, c * 1000, same ? "identical" : "DIFFERENT",
              Median(depthTimes) * 1000);
  std::printf("%s: claimed view with the rasteriser discarding everything (vertex side and "
              "read-back) %.1f ms, %.0f%% of the view\n",
              label, v * 1000, 100 * v / c);
  std::printf("%s visual_pass_speedup=%.2f\n", label, l / c);
  return same;
}

} // namespace

int main(int argc, char** argv) {
  const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const fs::path examples =
      argc > 2 ? fs::path(argv[2]) : fs::path(QUARVEL_SOURCE_DIR) / "examples";
  const fs::path big =
      fs::temp_directory_path() / ("quarvel-bench-margin-" + std::to_string(::getpid()));
  fs::create_directories(big);
  WriteBigModel(big, 224, 224);

  const TShaderSet shaders = PrepareGL(examples.string());
  TRenderInputs inputs;
  inputs.Shaders = &shaders;
  std::printf("%s, %s (%d samples), %d repeats, medians\n", TOGL::GLRenderer().c_str(),
              GLView->Multisampled() ? "multisampled" : "single-sampled", GLView->Samples(),
              repeats);
  const std::string only = argc > 3 ? argv[3] : "";
  bool same = true;
  if (only.empty() || only == "tank")
    same = Measure("tank", examples, "units/tank", repeats, inputs) && same;
  if (only.empty() || only == "lump100k")
    same = Measure("lump100k", big, "lump", std::max(1, repeats / 2), inputs) && same;
  fs::remove_all(big);
  return same ? 0 : 1;
}
