// The shared loading sequence: file lookup, libraries, located errors, line ends,
// progress, and the preview's fit of a freshly opened model.
#include "ModelTestUtil.h"

#include "common/Error.h"
#include "models/Geometry.h"
#include "models/ModelLoader.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace quarvel {
namespace {

using test::ExpectVec;
using test::ScratchDir;

std::unique_ptr<TOBJFile> Load(const ScratchDir& dir, const std::string& name,
                               const TModelLoadCallbacks& callbacks = {}) {
  return LoadOBJModel(dir.Path(), name, name, callbacks);
}

std::string LoadError(const ScratchDir& dir, const std::string& name) {
  try {
    Load(dir, name);
  } catch (const Error& e) {
    return e.what();
  }
  return "no error";
}

TEST(ModelLoader, FindsFilesAndLibraries) {
  ScratchDir dir;
  dir.Write("Units/Tank.OBJ", "mtllib ./Mat/Tank.mtl\nv 0 0 0\nusemtl Hull\nf 1 1 1\n");
  dir.Write("Units/MAT/tank.MTL", "newmtl hull\nKd 1 0 0\n");
  auto tank = Load(dir, "units\\tank");
  EXPECT_EQ(tank->FileName, "units\\tank");
  EXPECT_EQ(tank->TextureDir, dir.Path() + "/units/") << "textures are looked for beside the model";
  ASSERT_EQ(tank->MaterialFile->Count(), 1) << "mtllib ./mat/ is read below the model's folder";
  EXPECT_EQ(tank->Groups[0].Faces[0].MaterialIndex, 0);
  ExpectVec(tank->MaterialFile->Materials[0].Kd, 1, 0, 0);

  // Without mtllib the library of the same name beside the model is read.
  dir.Write("units/jeep.obj", "v 0 0 0\nusemtl a\nf 1 1 1\n");
  dir.Write("units/jeep.mtl", "newmtl default\n");
  auto jeep = Load(dir, "units/jeep");
  EXPECT_EQ(jeep->MaterialFile->Count(), 1);
  EXPECT_EQ(jeep->Groups[0].Faces[0].MaterialIndex, 0);

  // A missing library is no error: an empty one, faces unbound.
  dir.Write("lone.obj", "mtllib nowhere.mtl\nv 0 0 0\nusemtl a\nf 1 1 1\n");
  auto lone = Load(dir, "lone");
  ASSERT_NE(lone->MaterialFile, nullptr);
  EXPECT_EQ(lone->MaterialFile->Count(), 0);
  EXPECT_EQ(lone->Groups[0].Faces[0].MaterialIndex, -1);

  EXPECT_EQ(ModelMaterialPath("root", "units\\tank", ".\\tank.mtl"), "root/units/tank.mtl");
  EXPECT_EQ(ModelMaterialPath("root", "units\\tank", "mats\\tank.mtl"), "root/units/mats/tank.mtl");
  EXPECT_EQ(ModelMaterialPath("root", "units\\tank", ""), "root/units/tank.mtl");
  EXPECT_EQ(ModelMaterialPath("root", "tank", "a.mtl"), "root/a.mtl");
  EXPECT_EQ(ModelTextureDir("root", "tank"), "root/");
  EXPECT_EQ(ModelTextureDir("", "tank"), "") << "a bare name: the current folder, not /";
  EXPECT_EQ(ModelTextureDir("/", "tank"), "/");
}

TEST(ModelLoader, ErrorsNameFileAndLine) {
  ScratchDir dir;
  dir.Write("units/tank.obj", "# a tank\nv 1 2 3\nv 1 abc 3\n");
  EXPECT_EQ(LoadError(dir, "units\\tank"),
            "units/tank.obj:3: 'abc' is not a valid floating point value");
  dir.Write("units/cr.obj", "v 1 2 3\rf 1 x 1\r");
  EXPECT_EQ(LoadError(dir, "units/cr"), "units/cr.obj:2: 'x' is not a valid integer value");
  std::string bigFace = "v 0 0 0\n\nf";
  for (int i = 0; i <= 65536; ++i)
    bigFace += " 1";
  dir.Write("units/big.obj", bigFace + "\n");
  EXPECT_EQ(LoadError(dir, "units/big"), "units/big.obj:3: a face with more than 65536 corners");
  dir.Write("units/m.obj", "mtllib mats/m.mtl\n");
  dir.Write("units/mats/m.mtl", "newmtl a\r\nNs 10 20\r\n");
  EXPECT_EQ(LoadError(dir, "units/m"),
            "units/mats/m.mtl:2: '10 20' is not a valid floating point value");
  const std::string missing = LoadError(dir, "units/none");
  EXPECT_NE(missing.find("units/none.obj"), std::string::npos) << missing;
}

TEST(ModelLoader, LineEndsAndOddFiles) {
  ScratchDir dir;
  const std::pair<const char*, std::string> files[] = {
      {"lf", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n"},
      {"crlf", "v 0 0 0\r\nv 1 0 0\r\nv 0 1 0\r\nf 1 2 3\r\n"},
      {"cr", "v 0 0 0\rv 1 0 0\rv 0 1 0\rf 1 2 3"},
      {"mixed", "\xEF\xBB\xBFv 0 0 0\r\n\nv 1 0 0\rv 0 1 0\n\r\n  f 1 2 3  "},
  };
  for (const auto& [name, text] : files) {
    dir.Write(std::string(name) + ".obj", text);
    auto m = Load(dir, name);
    EXPECT_EQ(m->VertexCount(), 3) << name;
    EXPECT_EQ(m->TotalFaceCount(), 1) << name;
    ExpectVec(m->Normals.at(0), 0, 0, 1, name);
  }
  dir.Write("empty.obj", "");
  dir.Write("comments.obj", "# one\n#two\n\n   \n");
  for (const char* name : {"empty", "comments"}) {
    auto m = Load(dir, name);
    EXPECT_EQ(m->VertexCount(), 0);
    ASSERT_EQ(m->Groups.size(), 1u);
    EXPECT_EQ(m->Groups[0].Name, "g default");
  }
  // Binary bytes: lines that are no statement are ignored; nothing breaks.
  std::string garbage;
  for (int i = 0; i < 4096; ++i)
    garbage.push_back(static_cast<char>((i * 7919 + 13) % 256));
  dir.Write("garbage.obj", garbage);
  try {
    Load(dir, "garbage");
  } catch (const Error&) {
    // A located conversion error is an acceptable outcome.
  }
  // Hundreds of corners and indices far out of range.
  std::string big = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf";
  for (int i = 0; i < 600; ++i)
    big += " " + std::to_string(i % 3 + 1) + "/" + std::to_string(2000000000) + "/-" +
           std::to_string(i + 1);
  dir.Write("big.obj", big);
  auto m = Load(dir, "big");
  EXPECT_EQ(m->Groups[0].Faces[0].CornerCount, 600);

  EXPECT_EQ(CountLines(""), 0);
  EXPECT_EQ(CountLines("a"), 1);
  EXPECT_EQ(CountLines("a\n"), 1);
  EXPECT_EQ(CountLines("a\n\n"), 2);
  EXPECT_EQ(CountLines("a\r\nb\rc\n"), 3);
  EXPECT_EQ(CountLines("\r\r\n\n"), 3);
}

TEST(ModelLoader, ProgressReportsLinesThenMaterials) {
  ScratchDir dir;
  std::string fifty;
  for (int i = 0; i < 50; ++i)
    fifty += "v 0 0 0\n";
  dir.Write("fifty.obj", fifty);
  std::vector<std::pair<int, int>> reports; // (percent, line number) when the percent changes
  int last = 0;
  int lines = 0;
  bool materialsAfterLines = false;
  TModelLoadCallbacks callbacks;
  callbacks.OnLine = [&](int32_t index, int32_t count) {
    EXPECT_EQ(count, 50);
    EXPECT_EQ(index, lines);
    ++lines;
    const int p = LinePercent(index, count);
    if (p != last) {
      last = p;
      reports.emplace_back(p, index + 1);
    }
  };
  callbacks.OnMaterials = [&] { materialsAfterLines = (lines == 50); };
  Load(dir, "fifty", callbacks);
  EXPECT_TRUE(materialsAfterLines);
  ASSERT_EQ(reports.size(), 49u);
  for (size_t i = 0; i < reports.size(); ++i) {
    EXPECT_EQ(reports[i].first, int(2 * (i + 1)));
    EXPECT_EQ(reports[i].second, int(i + 2));
  }
  // 1000 lines: 1 to 99 at the line numbers 11, 21, ... 991.
  last = 0;
  std::vector<int> at;
  for (int i = 0; i < 1000; ++i) {
    const int p = LinePercent(i, 1000);
    if (p != last) {
      EXPECT_EQ(p, last + 1);
      last = p;
      at.push_back(i + 1);
    }
  }
  ASSERT_EQ(at.size(), 99u);
  EXPECT_EQ(at.front(), 11);
  EXPECT_EQ(at.back(), 991);
  // 250 lines: Trunc(I / 2.5).
  EXPECT_EQ(LinePercent(249, 250), 99);
  EXPECT_EQ(LinePercent(3, 250), 1);
}

} // namespace
} // namespace quarvel
