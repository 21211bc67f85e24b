// Helpers for render job tests: a temporary root folder with settings and model files.
#pragma once

#include "TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace quarvel::test {

namespace fs = std::filesystem;

// The root folder of a test job.
struct TempRoot : TempFolder {
  explicit TempRoot(const std::string& tag = "job") : TempFolder(tag) {}
};

inline std::vector<uint8_t> ReadBytes(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// True for a job's manifest (".NAME.manifest"), which render writes beside the sprites.
inline bool IsManifest(const fs::path& path) {
  const std::string name = path.filename().string();
  return name.size() > 10 && name[0] == '.' && name.compare(name.size() - 9, 9, ".manifest") == 0;
}

// Every regular file below dir, relative, sorted; the jobs' manifests only when asked for.
inline std::vector<std::string> FilesBelow(const std::string& dir, bool withManifests = false) {
  std::vector<std::string> files;
  std::error_code ec;
  if (!fs::exists(dir, ec))
    return files;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file() && (withManifests || !IsManifest(e.path())))
      files.push_back(fs::relative(e.path(), dir).generic_string());
  std::sort(files.begin(), files.end());
  return files;
}

// A box of size sx x sy x sz centred at (cx, cy, cz): its +z face (towards the camera at
// angle 0) and its top use the material "side" when withSide, the other faces "paint".
// Written with the library "box.mtl" (BoxMTL).
inline std::string BoxOBJ(float sx, float sy, float sz, bool withSide, float cx = 0, float cy = 0,
                          float cz = 0) {
  std::ostringstream o;
  o << "mtllib box.mtl\n";
  for (int dx = -1; dx <= 1; dx += 2)
    for (int dy = -1; dy <= 1; dy += 2)
      for (int dz = -1; dz <= 1; dz += 2)
        o << "v " << cx + dx * sx / 2 << " " << cy + dy * sy / 2 << " " << cz + dz * sz / 2 << "\n";
  // Corner number = 1 + 4 * (dx > 0) + 2 * (dy > 0) + (dz > 0).
  o << "usemtl paint\n";
  o << "f 1 2 4 3\nf 5 7 8 6\nf 1 5 6 2\nf 1 3 7 5\n";
  o << "usemtl " << (withSide ? "side" : "paint") << "\n";
  o << "f 3 4 8 7\nf 2 6 8 4\n";
  return o.str();
}

inline std::string BoxMTL() {
  return "newmtl paint\nKa 0.2 0.2 0.2\nKd 0.8 0.3 0.2\n\nnewmtl side\nKa 0.3 0.3 0.3\nKd 0.9 0.9 "
         "0.9\n";
}

} // namespace quarvel::test
