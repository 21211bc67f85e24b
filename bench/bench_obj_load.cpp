// Loading speed of the OBJ reader against tinyobjloader on one generated model: 200,000
// triangles with positions, texture coordinates and normals (about 15 MB of text).
// Both read the same file from the page cache; both build their whole model. Prints the
// ratio tinyobjloader time / our time (above 1: ours is faster).
#include "models/ModelLoader.h"

#define TINYOBJLOADER_IMPLEMENTATION
#include <tiny_obj_loader.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

const fs::path& ModelDir() {
  static const fs::path dir =
      fs::temp_directory_path() / ("quarvel-bench-obj-" + std::to_string(getpid()));
  return dir;
}

// A wavy grid of 317 x 317 quads, each two triangles: 200,978 faces.
void WriteModel() {
  fs::create_directories(ModelDir());
  std::ofstream out(ModelDir() / "grid.obj", std::ios::binary);
  const int n = 317;
  char line[256];
  out << "# generated grid\nmtllib grid.mtl\ng grid\nusemtl surface\n";
  for (int y = 0; y <= n; ++y)
    for (int x = 0; x <= n; ++x) {
      std::snprintf(line, sizeof line, "v %.4f %.4f %.4f\n", x * 0.1, 0.25 * ((x * 7 + y * 3) % 11),
                    y * -0.1);
      out << line;
    }
  for (int y = 0; y <= n; ++y)
    for (int x = 0; x <= n; ++x) {
      std::snprintf(line, sizeof line, "vt %.4f %.4f\n", x / double(n), y / double(n));
      out << line;
    }
  for (int y = 0; y <= n; ++y)
    for (int x = 0; x <= n; ++x) {
      std::snprintf(line, sizeof line, "vn %.4f %.4f %.4f\n", 0.1 * (x % 3), 0.98, 0.1 * (y % 3));
      out << line;
    }
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) {
      const int a = y * (n + 1) + x + 1, b = a + 1, c = a + n + 1, d = c + 1;
      std::snprintf(line, sizeof line,
                    "f %d/%d/%d %d/%d/%d %d/%d/%d\nf %d/%d/%d %d/%d/%d %d/%d/%d\n", a, a, a, b, b,
                    b, d, d, d, a, a, a, d, d, d, c, c, c);
      out << line;
    }
  std::ofstream(ModelDir() / "grid.mtl") << "newmtl surface\nKd 0.8 0.8 0.8\n";
}

void BM_QuarvelReader(benchmark::State& state) {
  size_t faces = 0;
  for (auto _ : state) {
    auto model = quarvel::LoadOBJModel(ModelDir().string(), "grid", "grid");
    faces = static_cast<size_t>(model->TotalFaceCount());
    benchmark::DoNotOptimize(model->Vertices.data());
  }
  state.counters["faces"] = static_cast<double>(faces);
}

void BM_TinyObjLoader(benchmark::State& state) {
  const std::string file = (ModelDir() / "grid.obj").string();
  const std::string dir = ModelDir().string() + "/";
  size_t faces = 0;
  for (auto _ : state) {
    tinyobj::attrib_t attrib;
    std::vector<tinyobj::shape_t> shapes;
    std::vector<tinyobj::material_t> materials;
    std::string warn, err;
    // No triangulation: our reader keeps faces as written, so neither side splits them.
    if (!tinyobj::LoadObj(&attrib, &shapes, &materials, &warn, &err, file.c_str(), dir.c_str(),
                          false)) {
      state.SkipWithError(err.c_str());
      return;
    }
    faces = 0;
    for (const auto& shape : shapes)
      faces += shape.mesh.num_face_vertices.size();
    benchmark::DoNotOptimize(attrib.vertices.data());
  }
  state.counters["faces"] = static_cast<double>(faces);
}

BENCHMARK(BM_QuarvelReader)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_TinyObjLoader)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Keeps the mean time per iteration of each run to print the ratio at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
  RatioReporter() : benchmark::ConsoleReporter(OO_None) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.iterations > 0 && run.run_type == Run::RT_Iteration)
        Seconds[run.benchmark_name().substr(0, run.benchmark_name().find('/'))] =
            run.real_accumulated_time / double(run.iterations);
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> Seconds;
};

} // namespace

int main(int argc, char** argv) {
  WriteModel();
  std::printf("model: %s, %.1f MB\n", (ModelDir() / "grid.obj").c_str(),
              double(fs::file_size(ModelDir() / "grid.obj")) / 1e6);
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto ours = reporter.Seconds.find("BM_QuarvelReader");
  const auto theirs = reporter.Seconds.find("BM_TinyObjLoader");
  if (ours != reporter.Seconds.end() && theirs != reporter.Seconds.end())
    std::printf("ratio tinyobjloader / quarvel: %.2f (%.1f ms / %.1f ms)%s\n",
                theirs->second / ours->second, theirs->second * 1e3, ours->second * 1e3,
                theirs->second >= ours->second ? "" : "  SLOWER THAN TINYOBJLOADER");
  std::error_code ec;
  fs::remove_all(ModelDir(), ec);
  return 0;
}
