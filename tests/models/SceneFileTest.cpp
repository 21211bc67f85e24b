// Scene files through Assimp: the file gate every read goes through, the bundled example,
// a real FBX file against the same model as OBJ, and every scene file of Debian's
// assimp-testmodels (read in place, skipped when the package is absent).
#include "models/SceneFile.h"
#include "ErrorMessage.h"
#include "TempFolder.h"
#include "common/Error.h"
#include "models/Geometry.h"
#include "models/ModelLoader.h"
#include "models/OBJFile.h"
#include "support/TestSystem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <map>

using namespace quarvel;
using quarvel::test::TempFolder;
namespace fs = std::filesystem;

namespace {

const std::string TestModels = "/usr/share/assimp/models";

using quarvel::test::Message;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A glTF file of one triangle whose buffer is the file `bufferUri`.
std::string TriangleGLTF(const std::string& bufferUri) {
  return R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],
"nodes":[{"mesh":0}],"meshes":[{"primitives":[{"attributes":{"POSITION":0}}]}],
"accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3",
"min":[0,0,0],"max":[1,1,0]}],
"bufferViews":[{"buffer":0,"byteOffset":0,"byteLength":36}],
"buffers":[{"byteLength":36,"uri":")" +
         bufferUri + R"("}]})";
}

std::string TriangleBuffer() {
  const float v[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
  return std::string(reinterpret_cast<const char*>(v), sizeof v);
}

} // namespace

TEST(SceneFile, TheGateRefusesWhatLiesOutsideTheRoot) {
  TempFolder tmp("scene-gate");
  tmp.Write("root/a/b.bin", "inside");
  tmp.Write("outside.bin", "secret");
  fs::create_directories(tmp.path / "root" / "folder");
  if (test::HasSymbolicLinks) {
    fs::create_symlink(tmp.path / "outside.bin", tmp.path / "root" / "link.bin");
    fs::create_symlink(tmp.path / "root" / "a" / "b.bin", tmp.path / "root" / "inner-link.bin");
  }
  const bool pipe = test::MakeNamedPipe(tmp / "root/pipe");
  ASSERT_TRUE(pipe || !test::HasNamedPipes);
  const std::string root = tmp / "root";

  EXPECT_EQ(ReadSceneInput(root, "a/b.bin"), "inside");
  EXPECT_EQ(ReadSceneInput(root, "a\\B.BIN"), "inside"); // the file lookup's rules
  EXPECT_EQ(ReadSceneInput(root, "a/../a/./b.bin"), "inside");
  if (test::HasSymbolicLinks) {
    EXPECT_EQ(ReadSceneInput(root, "inner-link.bin"), "inside");
  }

  struct Case {
    std::string Path;
    std::string Says;
  };
  const Case refused[] = {
      {tmp / "outside.bin", "is outside the root folder"},
      {"/etc/passwd", "is outside the root folder"},
      {"../outside.bin", "is outside the root folder"},
      {"a/../../outside.bin", "is outside the root folder"},
      {"link.bin", "is outside the root folder"},
      {"folder", "is a folder, not a file"},
      {"pipe", "is not a regular file"}, // opening never blocks on it
      {"missing.bin", "no such file"},
      {"", "empty name"},
  };
  for (const Case& c : refused) {
    if ((c.Path == "link.bin" && !test::HasSymbolicLinks) || (c.Path == "pipe" && !pipe))
      continue; // none here
    const std::string said = Message([&] { ReadSceneInput(root, c.Path); });
    EXPECT_TRUE(Contains(said, c.Says)) << c.Path << ": " << said;
  }
}

TEST(SceneFile, AssimpReadsBuffersThroughTheGate) {
  TempFolder tmp("scene-io");
  tmp.Write("root/scenes/ok.gltf", TriangleGLTF("ok.bin"));
  tmp.Write("root/scenes/ok.bin", TriangleBuffer());
  tmp.Write("root/scenes/up.gltf", TriangleGLTF("../../outside.bin"));
  tmp.Write("root/scenes/abs.gltf", TriangleGLTF(tmp / "outside.bin"));
  tmp.Write("outside.bin", TriangleBuffer());
  const std::string root = tmp / "root";
  std::vector<std::string> warnings;
  const auto scene = ReadSceneFile(root, "scenes/ok.gltf", warnings);
  ASSERT_EQ(scene->Meshes.size(), 1u);
  EXPECT_EQ(scene->Meshes[0].Positions.size(), 3u);

  for (const char* name : {"scenes/up.gltf", "scenes/abs.gltf"}) {
    const std::string said = Message([&] { ReadSceneFile(root, name, warnings); });
    EXPECT_TRUE(Contains(said, std::string(name) + ": cannot read the scene")) << said;
    EXPECT_TRUE(Contains(said, "root folder")) << said;
  }
  const std::string missing = Message([&] { ReadSceneFile(root, "scenes/none.glb", warnings); });
  EXPECT_TRUE(Contains(missing, "scenes/none.glb: 'scenes/none.glb': no such file")) << missing;
  tmp.Write("root/broken.gltf", TriangleGLTF("ok.bin").substr(0, 90));
  const std::string broken = Message([&] { ReadSceneFile(root, "broken.gltf", warnings); });
  EXPECT_TRUE(Contains(broken, "broken.gltf: cannot read the scene")) << broken;
  // Only the importers of the formats named stay: an OBJ file is no scene, under its own
  // name or another.
  const std::string obj = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
  tmp.Write("root/tri.obj", obj);
  tmp.Write("root/tri.gltf", obj);
  for (const char* name : {"tri.obj", "tri.gltf"}) {
    const std::string said = Message([&] { ReadSceneFile(root, name, warnings); });
    EXPECT_TRUE(Contains(said, std::string(name) + ": cannot read the scene")) << said;
  }
}

TEST(SceneFile, TheExampleWalkerHasClipsASkinAndItsEmbeddedTexture) {
  std::vector<std::string> warnings;
  const auto scene =
      ReadSceneFile(std::string(QUARVEL_SOURCE_DIR) + "/examples", "units/walker.gltf", warnings);
  EXPECT_TRUE(warnings.empty()) << warnings.front();
  ASSERT_EQ(scene->Clips.size(), 2u);
  EXPECT_EQ(scene->Clips[0].Name, "walk");
  EXPECT_DOUBLE_EQ(scene->Clips[0].Duration, 1.0);
  EXPECT_EQ(FindClip(*scene, "idle"), 1);
  ASSERT_EQ(scene->Meshes.size(), 1u);
  EXPECT_EQ(scene->Meshes[0].Bones.size(), 2u);
  EXPECT_EQ(scene->Meshes[0].MostWeights, 2);
  const auto body = std::find_if(scene->Materials.begin(), scene->Materials.end(),
                                 [](const TSceneMaterial& m) { return m.Colours.Name == "body"; });
  ASSERT_NE(body, scene->Materials.end());
  ASSERT_NE(body->Texture, nullptr);
  EXPECT_EQ(body->Texture->Width, 16);
  // The picture's top row is red; glTF's V = 0 (the top) arrives as V = 1, as in OBJ files.
  EXPECT_EQ(body->Texture->Pixels[0], 200);
  float topV = 0;
  for (size_t v = 0; v < scene->Meshes[0].Positions.size(); ++v)
    if (scene->Meshes[0].Positions[v].Y == 2.0f)
      topV = scene->Meshes[0].TexCoords[v].V;
  EXPECT_FLOAT_EQ(topV, 1.0f);

  // Poses along the walk differ; the rest pose is the bind pose.
  float restMinY = 0, restMaxY = 0, midMinY = 0, midMaxY = 0;
  const auto rest = PosedSceneModel(*scene, -1, 0, "rest");
  const auto mid = PosedSceneModel(*scene, 0, 0.25, "mid");
  MeasureHeight(*rest, restMinY, restMaxY);
  MeasureHeight(*mid, midMinY, midMaxY);
  EXPECT_FLOAT_EQ(restMinY, 0.0f);
  EXPECT_FLOAT_EQ(restMaxY, 2.0f);
  EXPECT_NE(rest->Vertices[44].X, mid->Vertices[44].X);
  EXPECT_FLOAT_EQ(midMinY, 0.15f); // the hip bobs up by 0.15 at a quarter
}

TEST(SceneFile, TheFBXSpiderMeasuresAsTheOBJSpider) {
  const std::string objDir = std::string(QUARVEL_SHARED_TESTDATA) + "/real-obj/assimp-spider";
  if (!fs::exists(TestModels + "/FBX/spider.fbx") || !fs::exists(objDir + "/spider.obj"))
    GTEST_SKIP() << "assimp-testmodels or the shared spider OBJ is absent";
  std::vector<std::string> warnings;
  const auto scene = ReadSceneFile(TestModels, "FBX/spider.fbx", warnings);
  const auto fbx = PosedSceneModel(*scene, -1, 0, "spider.fbx");
  const auto obj = LoadOBJModel(objDir, "spider", "spider");
  // Bounds on every axis: alike in size and in orientation (a model turned or lying on
  // its side would swap or mirror them).
  auto bounds = [](const TOBJFile& m, TVec3& lo, TVec3& hi) {
    lo = hi = m.Vertices.front();
    for (const TVec3& v : m.Vertices) {
      lo = Vec3(std::min(lo.X, v.X), std::min(lo.Y, v.Y), std::min(lo.Z, v.Z));
      hi = Vec3(std::max(hi.X, v.X), std::max(hi.Y, v.Y), std::max(hi.Z, v.Z));
    }
  };
  TVec3 fl, fh, ol, oh;
  bounds(*fbx, fl, fh);
  bounds(*obj, ol, oh);
  float fbxMin = 0, fbxMax = 0, objMin = 0, objMax = 0;
  MeasureHeight(*fbx, fbxMin, fbxMax);
  MeasureHeight(*obj, objMin, objMax);
  const float height = objMax - objMin;
  EXPECT_NEAR(fbxMin, objMin, 0.005 * height);
  EXPECT_NEAR(fbxMax, objMax, 0.005 * height);
  const float width = oh.X - ol.X, depth = oh.Z - ol.Z;
  EXPECT_NEAR(fl.X, ol.X, 0.005 * width);
  EXPECT_NEAR(fh.X, oh.X, 0.005 * width);
  EXPECT_NEAR(fl.Z, ol.Z, 0.005 * depth);
  EXPECT_NEAR(fh.Z, oh.Z, 0.005 * depth);
  std::cout << "spider: OBJ y " << objMin << " .. " << objMax << ", FBX y " << fbxMin << " .. "
            << fbxMax << "\n";
}

// Every file of the formats the program names (glTF 2.0, FBX, COLLADA, 3DS, PLY, STL)
// in assimp-testmodels loads, or fails with a message that names the file and says
// what failed. Files above 20 MB would be skipped (and named) to bound the time; the
// package has none.
TEST(SceneFile, EveryTestModelLoadsOrFailsClearly) {
  if (!fs::exists(TestModels))
    GTEST_SKIP() << TestModels << " is absent (Debian package assimp-testmodels)";
  const std::map<std::string, std::string> folders = {{"glTF2", "glTF 2.0"},  {"FBX", "FBX"},
                                                      {"Collada", "COLLADA"}, {"3DS", "3DS"},
                                                      {"PLY", "PLY"},         {"STL", "STL"}};
  std::map<std::string, std::pair<int, int>> counts; // format -> loaded, failed
  std::vector<std::string> files;
  for (const auto& [folder, format] : folders)
    for (const auto& e : fs::recursive_directory_iterator(TestModels + "/" + folder))
      if (e.is_regular_file() && IsSceneFileName(e.path().filename().string()))
        files.push_back(fs::relative(e.path(), TestModels).generic_string());
  std::sort(files.begin(), files.end());
  ASSERT_FALSE(files.empty());
  for (const std::string& name : files) {
    const std::string format = folders.at(name.substr(0, name.find('/')));
    if (fs::file_size(TestModels + "/" + name) > (uintmax_t{20} << 20)) {
      std::cout << "skipped (over 20 MB): " << name << "\n";
      continue;
    }
    std::vector<std::string> warnings;
    try {
      const auto scene = ReadSceneFile(TestModels, name, warnings);
      const auto model = PosedSceneModel(*scene, -1, 0, name);
      // Every clip can be posed half-way.
      for (size_t c = 0; c < scene->Clips.size() && c < 4; ++c)
        PosedSceneModel(*scene, static_cast<int32_t>(c), scene->Clips[c].Duration / 2, name);
      ++counts[format].first;
    } catch (const Error& e) {
      const std::string said = e.what();
      EXPECT_EQ(said.rfind(name + ": ", 0), 0u) << said;
      EXPECT_GT(said.size(), name.size() + 12) << said;
      EXPECT_LT(said.size(), 1200u) << said;
      std::cout << "failed: " << said << "\n";
      ++counts[format].second;
    }
  }
  for (const auto& [format, c] : counts)
    std::cout << format << ": " << c.first << " loaded, " << c.second << " failed clearly\n";
  // The files the issue names load.
  std::vector<std::string> warnings;
  EXPECT_NO_THROW(ReadSceneFile(TestModels, "glTF2/simple_skin/simple_skin.gltf", warnings));
  EXPECT_NO_THROW(ReadSceneFile(TestModels, "FBX/animation_with_skeleton.fbx", warnings));
}

// PLY headers are checked before Assimp reads them: its reader loops for ever on some
// broken ones and reserves whatever an element count asks for.
TEST(SceneFile, BrokenPLYHeadersAreRefusedBeforeAssimpReadsThem) {
  const std::string head = "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\n"
                           "property float y\nproperty float z\n";
  const std::string faces = "element face 1\nproperty list uchar int vertex_indices\n";
  const std::string data = "0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n";
  struct Case {
    std::string Bytes;
    std::string Says; // "" = read
  };
  const Case cases[] = {
      {head + faces + "end_header\n" + data, ""},
      {head + "comment made by hand\r\n" + faces + "end_header\r\n" + data, ""},
      {head + "Created by hand\n" + faces + "end_header\n" + data, ""},
      {head + "property float\n" + faces + "end_header\n" + data,
       "line 7 of the PLY header is not a PLY header statement"},
      {head + "property\n" + data, "the PLY header has no end_header line within its first 1 MiB"},
      {"ply\nformat ascii 1.0\nelement vertex 99999999999\nproperty float x\nend_header\n1\n",
       "line 3 of the PLY header counts 99999999999 elements, more than the file holds"},
      {"ply\nformat ascii 1.0\nelement 4444444444444vertex 3\nproperty float x\nend_header\n" +
           data,
       "line 3 of the PLY header names an element '4444444444444vertex' that starts with a "
       "digit, which Assimp would read as its count"},
      {"plyx\nend_header\n", "line 1 of the PLY header is not 'ply'"},
      {head + faces + "end_header{\"asset\": 1}\n" + data,
       "the PLY header's end_header line holds more"},
      {head + faces + "end_header\n" + data + "{\"asset\": 1}\n",
       "the PLY text data holds something that is not a number"},
      {head + "\n" + faces + "end_header\n" + data, "line 7 of the PLY header is empty"},
      {"ply\nformat ascii 1.0\n\x01\r" + head.substr(21) + faces + "end_header\n" + data,
       "the PLY header holds a carriage return or form feed inside a line"},
      // Assimp reserves a list's values once it has read the count. A face a few values
      // short is still read; a count no line could hold is refused, also the one read from
      // the last line again, which Assimp does for every instance past the end.
      {head + faces + "end_header\n0 0 0\n1 0 0\n0 1 0\n4 0 1 2\n", ""},
      {head + faces + "end_header\r\n0 0 0\r\n1 0 0\r\n0 1 0\r\n3 0 1 2", ""},
      {"ply\nformat binary_big_endian 1.0\nelement vertex 3\nproperty uchar x\n" + faces +
           "end_header\n" + std::string("\0\1\2\3\0\0\0\0\0\0\0\1\0\0\0\2", 16),
       ""},
      {head + faces + "end_header\n0 0 0\n1 0 0\n0 1 0\n999999999 0 1 2\n",
       "the lists of the PLY data count 999999999 values by line 4, more than a file of 188 bytes "
       "holds"},
      {head + faces + "end_header\n0 0 0\n1 0 0\n700000000 0 0\n",
       "the lists of the PLY data count 700000000 values by line 3, more than a file of 180 bytes "
       "holds"},
      {"ply\nformat binary_little_endian 1.0\nelement vertex 1\nproperty float x\n" + faces +
           "end_header\n" + std::string("\0\0\0\0\xff\xff\xff\x7f", 8),
       "a list in the PLY data counts 255 values, more than the file holds"},
  };
  std::vector<std::string> warnings;
  for (const Case& c : cases) {
    const std::string said =
        Message([&] { ReadSceneBytes("/nonexistent", "t.ply", c.Bytes, warnings); });
    if (c.Says.empty())
      EXPECT_EQ(said, "(no error)");
    else
      EXPECT_EQ(said, "t.ply: cannot read the scene: " + c.Says);
  }
  // The name comes from a settings file that is not ours: it is shown escaped.
  EXPECT_EQ(Message([&] {
              ReadSceneBytes("/nonexistent", "t\x7f\xff.ply", "plyx\nend_header\n", warnings);
            }),
            "t\\x7f\\xff.ply: cannot read the scene: line 1 of the PLY header is not 'ply'");
}

// glTF documents Assimp would crash on or read past its arrays are refused first, and so is
// JSON that Assimp's parser and ours would read differently (bytes that are not UTF-8, a
// key given twice), since the checks see what ours reads.
TEST(SceneFile, GLTFSkinsAssimpCannotReadAreRefusedFirst) {
  const std::string buffer = "data:application/octet-stream;base64,AAAAAAAAAAAAAAAAAACAPwAAAAAAAAAA"
                             "AAAAAAAAgD8AAAAA";
  auto gltf = [&](const std::string& skin, const std::string& extra = "") {
    return R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0,1]}],
"nodes":[{"mesh":0,"skin":0},{"name":"bone")" +
           extra + R"(}],"meshes":[{"primitives":[{"attributes":{"POSITION":0}}]}],
"skins":[)" +
           skin +
           R"(],"accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3",
"min":[0,0,0],"max":[1,1,0]},{"bufferView":0,"componentType":5126,"count":0,"type":"MAT4"}],
"bufferViews":[{"buffer":0,"byteLength":36}],"buffers":[{"byteLength":36,"uri":")" +
           buffer + R"("}]})";
  };
  struct Case {
    std::string Bytes;
    std::string Says;
  };
  const Case cases[] = {
      {gltf(R"({"joints":[1]})"), "skin 0 has no inverseBindMatrices, which this program's "
                                  "Assimp cannot read"},
      {gltf(R"({"joints":[1],"inverseBindMatrices":1.0})"),
       "skin 0 has no inverseBindMatrices, which this program's Assimp cannot read"},
      {gltf(R"({"joints":[1],"inverseBindMatrices":4294967297})"),
       "skin 0 has no inverseBindMatrices, which this program's Assimp cannot read"},
      {gltf(R"({"joints":[1],"inverseBindMatrices":1})"),
       "skin 0 has 1 joints but 0 inverse bind matrices"},
      // rapidjson would take the first of the two, which the check would not have seen.
      {gltf(R"({"joints":[1],"inverseBindMatrices":"x","inverseBindMatrices":0})"),
       "the glTF JSON gives a key twice in one object"},
      {gltf("{\"joints\":[1],\"\xff\xfe\":1}"),
       "the glTF JSON does not parse: parse error at line 3, column 25: syntax error while "
       "parsing object key - invalid string: ill-formed UTF-8 byte; last read: '\"\\xff'; "
       "expected string literal"},
  };
  std::vector<std::string> warnings;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Bytes.substr(c.Bytes.find("\"skins\"")));
    EXPECT_EQ(Message([&] { ReadSceneBytes("/nonexistent", "t.gltf", c.Bytes, warnings); }),
              "t.gltf: cannot read the scene: " + c.Says);
  }
  // A skin whose matrices cover its joints is read; trailing NULs end the JSON, as in
  // some binary glTF writers' padding.
  std::string good = gltf(R"({"joints":[1],"inverseBindMatrices":0})");
  EXPECT_EQ(Message([&] { ReadSceneBytes("/nonexistent", "t.gltf", good, warnings); }),
            "(no error)");
  good += std::string(3, '\0');
  EXPECT_EQ(Message([&] { ReadSceneBytes("/nonexistent", "t.gltf", good, warnings); }),
            "(no error)");
}

// Assimp runs first in a child process: a file it crashes on or never finishes is refused
// with a message, and the program goes on. (How the child's end is told apart is
// tests/platform's.)
TEST(SceneFile, WhatCrashesOrHangsAssimpIsRefusedAndTheProgramGoesOn) {
  std::vector<std::string> warnings;
  const std::string triangle = TriangleGLTF("data:application/octet-stream;base64,"
                                            "AAAAAAAAAAAAAAAAAACAPwAAAAAAAAAAAAAAAAAAgD8AAAAA");
  auto read = [&](const std::string& name, const std::string& bytes) {
    return Message([&] { ReadSceneBytes("/nonexistent", name, bytes, warnings); });
  };
  // A COLLADA file the fuzzer made, on which Assimp 5.2 reads through a null pointer.
  const std::string crash =
      ReadSceneInput(QUARVEL_SOURCE_DIR, "fuzz/corpus/scene/collada_crash.dae");
  ASSERT_FALSE(crash.empty());
  EXPECT_EQ(read("c.dae", crash),
            "c.dae: cannot read the scene: Assimp crashed reading it (Segmentation fault); the "
            "file is damaged or uses something this program's Assimp cannot read");

  if (!test::TrialHooksReachTheChild)
    return;
  SetSceneTrial(0.5, [] { test::WaitForever(); });
  EXPECT_EQ(read("t.gltf", triangle),
            "t.gltf: cannot read the scene: Assimp did not finish reading it within 0.5 s; the "
            "file is damaged or too large for this program");
  // A file the trial refuses is not imported again here: its refusal is the answer.
  // (The triangle itself reads; only the trial's hook refuses it.)
  SetSceneTrial(DefaultSceneTrialSeconds,
                [] { throw Error("t.gltf: cannot read the scene: refused by the trial"); });
  EXPECT_EQ(read("t.gltf", triangle), "t.gltf: cannot read the scene: refused by the trial");
  SetSceneTrial(DefaultSceneTrialSeconds);
  EXPECT_EQ(read("t.gltf", triangle), "(no error)");
}
