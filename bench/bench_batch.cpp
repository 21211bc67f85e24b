// A batch of 1,000 jobs (one angle and one frame each) over 50 models of 1 to 5 MB:
// renders them all once for real with quarvel-cli, then times a `render --all` in which
// nothing changed, which must skip every job as up to date in under 2 seconds (a stat per
// input file against the manifests, and no GL context at all when the renderer
// fingerprint is cached). Prints both times.
//
//   ./build/bench/bench_batch [--jobs N] [--count JOBS] [--models M] [--keep DIR]
//
// --jobs: worker processes of the full render (default 1: one process keeps its GL context
// from job to job, where every worker would make its own); --keep: build the batch in DIR
// and leave it there (default: a temporary folder, removed at the end).
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// A lumpy sphere of 64 x 32 quads with normals and texture coordinates (the top rings
// use the side material), followed by vertices on the same surface sampled ever more
// densely, which no face uses, until the file holds about `bytes` of text. The full
// render's time is drawing, which an up-to-date check never does; what the check pays
// for is the size of the files it must vouch for, so the models have the sizes
// (1 to 5 MB) but not the millions of triangles such a size could hold, which would
// make the first render take hours.
void WriteModel(const fs::path& file, size_t bytes, double phase) {
  const int segments = 64, rings = 32;
  std::ostringstream o;
  o << "mtllib lump.mtl\n";
  o.setf(std::ios::fixed);
  o.precision(9);
  auto surface = [&](double th, double ph) {
    const double rad = 1.6 + 0.15 * std::sin(5 * th + phase) * std::cos(3 * ph - phase);
    o << "v " << rad * std::sin(th) * std::cos(ph) * 1.3 << " " << rad * std::cos(th) << " "
      << rad * std::sin(th) * std::sin(ph) << "\n";
  };
  for (int r = 0; r <= rings; ++r) {
    const double th = M_PI * r / rings;
    for (int s = 0; s < segments; ++s) {
      const double ph = 2 * M_PI * s / segments;
      surface(th, ph);
      o << "vt " << static_cast<double>(s) / segments << " " << static_cast<double>(r) / rings
        << "\n";
      o << "vn " << std::sin(th) * std::cos(ph) << " " << std::cos(th) << " "
        << std::sin(th) * std::sin(ph) << "\n";
    }
  }
  for (int r = 0; r < rings; ++r) {
    o << "usemtl " << (r < rings / 6 ? "side" : "skin") << "\n";
    for (int s = 0; s < segments; ++s) {
      const int a = r * segments + s + 1, b = r * segments + (s + 1) % segments + 1;
      const int c = a + segments, d = b + segments;
      o << "f " << a << "/" << a << "/" << a << " " << b << "/" << b << "/" << b << " " << d << "/"
        << d << "/" << d << " " << c << "/" << c << "/" << c << "\n";
    }
  }
  for (long i = 0; static_cast<size_t>(o.tellp()) < bytes; ++i)
    surface(M_PI * std::fmod(i * 0.618033988749895, 1.0),
            2 * M_PI * std::fmod(i * 0.7548776662, 1.0));
  std::ofstream(file, std::ios::binary) << o.str();
}

// A 2 x 2 uncompressed 24-bit BMP.
void WriteTexture(const fs::path& file) {
  const unsigned char bmp[] = {
      'B', 'M', 70, 0, 0,  0, 0,   0,  0,  0,  54,  0,  0, 0, 40, 0,  0,   0,   2,   0,  0, 0, 2, 0,
      0,   0,   1,  0, 24, 0, 0,   0,  0,  0,  16,  0,  0, 0, 0,  0,  0,   0,   0,   0,  0, 0, 0, 0,
      0,   0,   0,  0, 0,  0, 200, 40, 40, 40, 200, 40, 0, 0, 40, 40, 200, 200, 200, 40, 0, 0};
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bmp), sizeof bmp);
}

double Run(const std::string& command) {
  const auto start = std::chrono::steady_clock::now();
  const int status = std::system(command.c_str());
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::cerr << "bench_batch: failed: " << command << "\n";
    std::exit(1);
  }
  return seconds;
}

} // namespace

int main(int argc, char** argv) {
  int workers = 1, count = 1000, models = 50;
  std::string keep;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    if (a == "--jobs")
      workers = std::atoi(argv[i + 1]);
    else if (a == "--count")
      count = std::atoi(argv[i + 1]);
    else if (a == "--models")
      models = std::atoi(argv[i + 1]);
    else if (a == "--keep")
      keep = argv[i + 1];
  }
  const fs::path root = keep.empty() ? fs::temp_directory_path() /
                                           ("quarvel-bench-batch-" + std::to_string(::getpid()))
                                     : fs::path(keep);
  fs::create_directories(root / "models");
  size_t modelBytes = 0;
  for (int m = 0; m < models; ++m) {
    char name[32];
    std::snprintf(name, sizeof name, "m%02d.obj", m);
    // 1 MB to 5 MB, spread evenly.
    const size_t bytes = (1u << 20) + static_cast<size_t>(m) * (4u << 20) / std::max(1, models - 1);
    if (!fs::exists(root / "models" / name))
      WriteModel(root / "models" / name, bytes, m * 0.37);
    modelBytes += fs::file_size(root / "models" / name);
  }
  std::ofstream(root / "models" / "lump.mtl")
      << "newmtl skin\nKa 0.2 0.2 0.2\nKd 0.8 0.7 0.6\nmap_Kd lump.bmp\n"
      << "newmtl side\nKa 0.3 0.3 0.3\nKd 0.9 0.9 0.9\n";
  WriteTexture(root / "models" / "lump.bmp");
  for (int j = 0; j < count; ++j) {
    char name[48];
    std::snprintf(name, sizeof name, "jobs/g%02d/j%04d.settings", j % 20, j);
    fs::create_directories((root / name).parent_path());
    std::ofstream(root / name) << "angle 0 " << (j * 7) % 360 << "\nframe 1 models/m"
                               << (j % models < 10 ? "0" : "") << j % models << ".obj\n";
  }
  std::printf("batch: %d jobs over %d models (%.1f MB of OBJ) in %s\n", count, models,
              static_cast<double>(modelBytes) / (1 << 20), root.c_str());
  std::fflush(stdout);

  // A fingerprint cache of its own, so that other programs' runs in between (which
  // replace the cached measurement with theirs) cannot change what is measured here.
  const std::string cache = (root / "cache").string();
  ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);
  const std::string cli = QUARVEL_CLI;
  const std::string args = " render --all --root '" + root.string() + "' --out '" +
                           (root / "out").string() + "' --quiet";
  const double full = Run(cli + args + " --jobs " + std::to_string(workers));
  std::printf("first full render (--jobs %d): %.1f s\n", workers, full);
  std::fflush(stdout);
  const double again = Run(cli + args);
  std::printf("no-change render --all: %.3f s (%s 2 s)\n", again,
              again < 2.0 ? "under" : "NOT under");
  if (keep.empty())
    fs::remove_all(root);
  return again < 2.0 ? 0 : 1;
}
