// Places where the readers used to lose data without a word: a number's '+' sign, the
// current-folder prefix of a material library, a line that failed half-way, and a
// material library that is missing.
#include "ModelTestUtil.h"
#include "common/Error.h"
#include "models/ModelLoader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quarvel {
namespace {

using test::ParseOBJ;

struct TSignCase {
  const char* Line;
  float X, Y, Z;
};

TEST(NumberSigns, APlusStandsWhereASignMayStand) {
  const std::vector<TSignCase> cases = {
      {"v +1 2 3", 1, 2, 3},
      {"v 1.5e+3 -2.5E+1 +.5", 1500, -25, 0.5f},
      {"v 1E+2 +1e-1 3e0", 100, 0.1f, 3},
      {"v .5e+1 5.e+0 +0", 5, 5, 0},
      // Anywhere else '+' still separates tokens, as it did.
      {"v 1+2 3", 1, 2, 3},
      {"v 1e5+2 3", 1e5f, 2, 3},
  };
  for (const TSignCase& c : cases) {
    SCOPED_TRACE(c.Line);
    auto model = ParseOBJ({c.Line});
    ASSERT_EQ(model->VertexCount(), 1);
    test::ExpectVec(model->Vertices[0], c.X, c.Y, c.Z, c.Line);
  }
  auto model = ParseOBJ(
      {"v 0 0 0", "v 1 0 0", "v 0 1 0", "vn +0 -0 +1", "vt +0.25 1.0E+0", "f +1//1 +2//1 +3//1"});
  ASSERT_EQ(model->Normals.size(), 1u);
  test::ExpectVec(model->Normals[0], 0, 0, 1);
  EXPECT_FLOAT_EQ(model->TexCoords.at(0).U, 0.25f);
  EXPECT_FLOAT_EQ(model->TexCoords.at(0).V, 1.0f);
  ASSERT_EQ(model->Corners.size(), 3u);
  EXPECT_EQ(model->Corners[2].VertexIndex, 3);
  EXPECT_EQ(model->Corners[2].NormalIndex, 1);
}

TEST(NumberSigns, NotNumbersAreStillRefused) {
  for (const char* line : {"v nan 0 0", "v inf 0 0", "v +inf 0 0", "v 0x10 0 0", "v -1.#IND 0 0",
                           "v 1e+ 0 0", "v + 1 2", "v ++1 0 0", "f +x 2 3"}) {
    SCOPED_TRACE(line);
    EXPECT_THROW(ParseOBJ({line}), Error);
  }
}

// The lists and groups of a model, to compare before and after a line.
struct TModelState {
  size_t Vertices, Normals, TexCoords, Corners, Groups;
  std::vector<size_t> Faces;
  std::vector<int32_t> FaceCounts;
  int32_t CurrentGroup;
  bool operator==(const TModelState& o) const {
    return Vertices == o.Vertices && Normals == o.Normals && TexCoords == o.TexCoords &&
           Corners == o.Corners && Groups == o.Groups && Faces == o.Faces &&
           FaceCounts == o.FaceCounts && CurrentGroup == o.CurrentGroup;
  }
};

TModelState StateOf(const TOBJFile& m) {
  TModelState s{m.Vertices.size(),
                m.Normals.size(),
                m.TexCoords.size(),
                m.Corners.size(),
                m.Groups.size(),
                {},
                {},
                m.CurrentGroup};
  for (const TOBJGroup& g : m.Groups) {
    s.Faces.push_back(g.Faces.size());
    s.FaceCounts.push_back(g.FaceCount);
  }
  return s;
}

TEST(FailedLines, LeaveTheModelAsItWasBeforeTheLine) {
  struct TCase {
    std::vector<std::string> Before;
    const char* Line;
  };
  const std::vector<TCase> cases = {
      {{"v 1 2 3"}, "v 1 2 x"},
      {{"vn 0 0 1"}, "vn 0 x 1"},
      {{"vt 0 0"}, "vt 0.5 x"},
      {{"v 0 0 0", "v 1 0 0", "v 0 1 0", "g hull", "f 1 2 3"}, "f 1 2 x"},
      // The face would open the group "Untitled": that goes too.
      {{"v 0 0 0", "v 1 0 0", "v 0 1 0"}, "f 1 2 3/x"},
      {{"v 0 0 0", "g a", "usemtl red"}, "f 1 1 1//q"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Line);
    TOBJFile model("m");
    for (const std::string& line : c.Before)
      model.ParseLine(line);
    const TModelState before = StateOf(model);
    EXPECT_THROW(model.ParseLine(c.Line), Error);
    EXPECT_TRUE(StateOf(model) == before);
  }

  // The face after a full group of 5000 would open "hull1": refused, no group stays.
  TOBJFile model("m");
  for (const char* line : {"v 0 0 0", "v 1 0 0", "v 0 1 0", "g hull"})
    model.ParseLine(line);
  for (int i = 0; i < TOBJFile::MaxGroupFaces; ++i)
    model.ParseLine("f 1 2 3");
  const TModelState before = StateOf(model);
  EXPECT_THROW(model.ParseLine("f 1 2 x"), Error);
  EXPECT_TRUE(StateOf(model) == before);
  model.ParseLine("f 1 2 3");
  ASSERT_EQ(model.Groups.size(), 2u);
  EXPECT_EQ(model.Groups[1].Name, "hull1");
}

TEST(MaterialLibraryNames, OnlyALeadingCurrentFolderPrefixIsDropped) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {".\\x.mtl", "r/units/x.mtl"},
      {"..\\x.mtl", "r/units/../x.mtl"},
      {"..\\mats\\.\\x.mtl", "r/units/../mats/./x.mtl"},
      {"mats\\.\\x.mtl", "r/units/mats/./x.mtl"},
      {"a.\\x.mtl", "r/units/a./x.mtl"},
  };
  for (const auto& [lib, path] : cases)
    EXPECT_EQ(ModelMaterialPath("r", "units/tank", lib), path) << lib;
}

TEST(MaterialLibraryNames, ALibraryInTheParentFolderIsRead) {
  test::ScratchDir dir;
  dir.Write("units/tank.obj", "mtllib ../shared.mtl\nv 0 0 0\nusemtl red\nf 1 1 1\n");
  dir.Write("shared.mtl", "newmtl red\nKd 1 0 0\n");
  auto model = LoadOBJModel(dir.Path(), "units/tank", "units/tank");
  ASSERT_TRUE(model->MaterialFile);
  ASSERT_EQ(model->MaterialFile->Materials.size(), 1u);
  EXPECT_EQ(model->Groups.at(0).Faces.at(0).MaterialIndex, 0);
}

TEST(MaterialLibraryWarnings, AMissingOrUnreadableLibraryIsNamedWithItsLine) {
  test::ScratchDir dir;
  const std::string r = dir.Path();
  struct TCase {
    std::string Obj;
    std::vector<std::string> Warnings;
  };
  std::filesystem::create_directories(dir.path / "units/folder.mtl");
  const std::vector<TCase> cases = {
      {"v 0 0 0\nmtllib gone.mtl\nf 1 1 1\n",
       {"units/m.obj:2: material library " + r +
        "/units/gone.mtl not found; faces use the default material"}},
      // The last "mtllib" line counts, and is the one named.
      {"mtllib a.mtl\n# c\nmtllib ../nothere.mtl\n",
       {"units/m.obj:3: material library " + r +
        "/units/../nothere.mtl not found; faces use the default material"}},
      {"mtllib folder.mtl\n",
       {"units/m.obj:1: material library " + r +
        "/units/folder.mtl is not a file; faces use the default material"}},
      // Without an "mtllib" line a missing m.mtl is the normal case of a model without
      // materials.
      {"v 0 0 0\nf 1 1 1\n", {}},
      {"mtllib there.mtl\n", {}},
      // The name is the model's own text: it comes back escaped, never as raw bytes.
      {"mtllib g\x1b[31m\x01.mtl\n",
       {"units/m.obj:1: material library " + r +
        "/units/g\\x1b[31m\\x01.mtl not found; faces use the default material"}},
  };
  dir.Write("units/there.mtl", "newmtl a\n");
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Obj);
    dir.Write("units/m.obj", c.Obj);
    std::vector<std::string> warnings;
    TModelLoadCallbacks callbacks;
    callbacks.OnWarning = [&](const std::string& w) { warnings.push_back(w); };
    auto model = LoadOBJModel(r, "units/m", "units/m", callbacks);
    EXPECT_EQ(warnings, c.Warnings);
  }
}

} // namespace
} // namespace quarvel
