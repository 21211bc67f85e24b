#include "common/FileLookup.h"
#include "common/Error.h"

#include "TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using namespace quarvel;

namespace {

struct TempDir : test::TempFolder {
  TempDir() : TempFolder("lookup") {}
};

} // namespace

TEST(FileLookup, FindsPathsIgnoringCaseAndBackslashes) {
  TempDir dir;
  dir.Touch("Models/Tank.PNG", "png");
  const std::string root = dir.path.string();

  // The asset names a file with "\" and another letter case than the one on disk.
  auto found = FindPath(root + "\\models\\tank.png");
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(*found, root + "/Models/Tank.PNG");
  EXPECT_TRUE(FileExists(root + "/MODELS/tank.png"));
  EXPECT_FALSE(FileExists(root + "/Models")); // a folder is not a file
  EXPECT_FALSE(FindPath(root + "/models/tank.bmp").has_value());
  EXPECT_EQ(ResolvePath(root + "\\none\\x.png"), root + "/none/x.png");
  EXPECT_EQ(ReadWholeFile(root + "/models/TANK.png"), "png");
}

TEST(FileLookup, ExactNameWinsOverCaseInsensitiveMatch) {
  TempDir dir;
  dir.Touch("a/Tex.png", "upper");
  dir.Touch("a/tex.png", "lower");
  dir.Touch("a/TEX.png", "all");
  const std::string root = dir.path.string();
  EXPECT_EQ(ReadWholeFile(root + "/a/tex.png"), "lower");
  // No exact match: the first in byte order ("TEX.png" < "Tex.png" < "tex.png").
  EXPECT_EQ(*FindPath(root + "/A/tEx.png"), root + "/a/TEX.png");
}

TEST(FileLookup, JoinAndErrors) {
  EXPECT_EQ(JoinPath("units", "tank.obj"), "units/tank.obj");
  EXPECT_EQ(JoinPath("units\\", "sub\\tank.obj"), "units/sub/tank.obj");
  EXPECT_EQ(JoinPath("", "tank.obj"), "tank.obj");
  try {
    ReadWholeFile("/nonexistent-quarvel/missing.obj");
    FAIL() << "expected an error";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("/nonexistent-quarvel/missing.obj"), std::string::npos);
  }
}
