// Helpers for the model tests: models parsed from literal lines, and scratch folders.
#pragma once

#include "models/OBJFile.h"
#include "models/OBJText.h"

#include "TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <string>


namespace quarvel::test {

// A model fed with the given lines (trimmed, as the loader does), not finished.
inline std::unique_ptr<TOBJFile> ParseOBJ(std::initializer_list<const char*> lines) {
  auto model = std::make_unique<TOBJFile>("test");
  for (const char* line : lines)
    model->ParseLine(TrimBlanks(line));
  return model;
}

inline std::unique_ptr<TOBJMaterialFile> ParseMTL(std::initializer_list<const char*> lines) {
  auto materials = std::make_unique<TOBJMaterialFile>();
  for (const char* line : lines)
    materials->ParseLine(TrimBlanks(line));
  return materials;
}

// A fresh folder below the system's temporary folder, removed at the end of the test.
struct ScratchDir : TempFolder {
  ScratchDir() : TempFolder("models") {}
  std::string Path() const { return str(); }
};

inline void ExpectVec(const TVec3& v, float x, float y, float z, const char* what = "") {
  EXPECT_FLOAT_EQ(v.X, x) << what;
  EXPECT_FLOAT_EQ(v.Y, y) << what;
  EXPECT_FLOAT_EQ(v.Z, z) << what;
}

} // namespace quarvel::test
