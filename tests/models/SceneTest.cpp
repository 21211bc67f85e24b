// Scenes as data and their poses: key sampling, the node tree, linear blend skinning
// against positions worked out by hand, and the model data a posed scene becomes.
#include "models/Scene.h"
#include "common/Error.h"
#include "models/OBJFile.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace quarvel;

namespace {

constexpr double S45 = 0.70710678118654752440; // sin 45 degrees = cos 45 degrees

TQuat AboutZ(double degrees) {
  const double h = degrees * M_PI / 360.0;
  return TQuat{std::cos(h), 0, 0, std::sin(h)};
}

TSceneNode Node(const std::string& name, int32_t parent, TVec3d t) {
  TSceneNode n;
  n.Name = name;
  n.Parent = parent;
  n.Translation = t;
  n.Local = TranslationMatrix(t.X, t.Y, t.Z);
  return n;
}

// Two bones: "lower" at the origin, "upper" one unit above it (its child). One mesh of
// one triangle; corner 0 is bound 1/4 to the lower and 3/4 to the upper bone, corner 1
// to the lower bone only, corner 2 to the upper bone only (a weight of 2, renormalised).
// The node showing the mesh stands at (5, 5, 5), which skinning must ignore. Clip "bend"
// (2 s) moves the lower bone from x = 0 to x = 2 and turns the upper bone from 0 to 90
// degrees about Z.
TScene TwoBoneScene() {
  TScene s;
  s.FileName = "two-bones.gltf";
  s.Nodes.push_back(Node("root", -1, {0, 0, 0}));
  s.Nodes.push_back(Node("skin", 0, {5, 5, 5}));
  s.Nodes.push_back(Node("lower", 0, {0, 0, 0}));
  s.Nodes.push_back(Node("upper", 2, {0, 1, 0}));
  TSceneMesh mesh;
  mesh.Name = "arm";
  mesh.Positions = {Vec3(1.0f, 1.5f, 0.0f), Vec3(0.5f, 0.0f, 0.0f), Vec3(0.0f, 2.0f, 0.0f)};
  mesh.FaceSizes = {3};
  mesh.FaceIndices = {0, 1, 2};
  TSceneBone lower, upper;
  lower.Name = "lower";
  lower.Node = 2;
  upper.Name = "upper";
  upper.Node = 3;
  upper.Offset = TranslationMatrix(0, -1, 0); // the inverse of its rest transform
  mesh.Bones = {lower, upper};
  mesh.Influences = {LimitInfluences({{0, 0.25f}, {1, 0.75f}}), LimitInfluences({{0, 1.0f}}),
                     LimitInfluences({{1, 2.0f}})};
  s.Meshes.push_back(mesh);
  s.Instances.push_back({0, 1});
  TSceneClip bend;
  bend.Name = "bend";
  bend.Duration = 2;
  TSceneChannel moveLower;
  moveLower.Node = 2;
  moveLower.Positions = {{0, {0, 0, 0}}, {2, {2, 0, 0}}};
  TSceneChannel turnUpper;
  turnUpper.Node = 3;
  turnUpper.Rotations = {{0, AboutZ(0)}, {2, AboutZ(90)}};
  bend.Channels = {moveLower, turnUpper};
  s.Clips.push_back(bend);
  return s;
}

void ExpectNear(const TVec3& got, double x, double y, double z, const std::string& what) {
  EXPECT_NEAR(got.X, x, 1e-5) << what;
  EXPECT_NEAR(got.Y, y, 1e-5) << what;
  EXPECT_NEAR(got.Z, z, 1e-5) << what;
}

} // namespace

TEST(ScenePose, TwoBoneSkinningMatchesHandComputedPositions) {
  const TScene scene = TwoBoneScene();
  struct Case {
    int32_t Clip;
    double Seconds;
    double Expected[3][3];
  };
  // At t = 1 s: lower = T(1, 0, 0); upper = T(1, 0, 0) T(0, 1, 0) Rz(45).
  //   corner 0: lower gives (2, 1.5); upper gives (1 + 0.5 s, 1 + 1.5 s) with s = sin 45;
  //             1/4 and 3/4 of them.
  //   corner 1: (0.5 + 1, 0).      corner 2: (1 - s, 1 + s).
  const Case cases[] = {
      {-1, 0.0, {{1, 1.5, 0}, {0.5, 0, 0}, {0, 2, 0}}}, // rest pose = bind pose
      {0, 0.0, {{1, 1.5, 0}, {0.5, 0, 0}, {0, 2, 0}}},
      {0,
       1.0,
       {{0.25 * 2 + 0.75 * (1 + 0.5 * S45), 0.25 * 1.5 + 0.75 * (1 + 1.5 * S45), 0},
        {1.5, 0, 0},
        {1 - S45, 1 + S45, 0}}},
      // At and after the end: lower = T(2, 0, 0); upper turned 90 degrees.
      {0, 2.0, {{0.25 * 3 + 0.75 * 1.5, 0.25 * 1.5 + 0.75 * 2, 0}, {2.5, 0, 0}, {1, 1, 0}}},
      {0, 7.0, {{0.25 * 3 + 0.75 * 1.5, 0.25 * 1.5 + 0.75 * 2, 0}, {2.5, 0, 0}, {1, 1, 0}}},
  };
  for (const Case& c : cases) {
    const TScenePose pose = PoseScene(scene, c.Clip, c.Seconds);
    ASSERT_EQ(pose.Positions.size(), 1u);
    ASSERT_EQ(pose.Positions[0].size(), 3u);
    for (int v = 0; v < 3; ++v)
      ExpectNear(pose.Positions[0][v], c.Expected[v][0], c.Expected[v][1], c.Expected[v][2],
                 "clip " + std::to_string(c.Clip) + " at " + std::to_string(c.Seconds) +
                     " corner " + std::to_string(v));
  }
}

TEST(ScenePose, ConventionAndHierarchyApplyToUnskinnedMeshes) {
  TScene scene = TwoBoneScene();
  scene.Meshes[0].Bones.clear();
  scene.Meshes[0].Influences.clear();
  // The mesh hangs below the upper bone now; centimetres to metres above the root.
  scene.Instances[0].Node = 3;
  scene.Convention = ScaleMatrix(0.01, 0.01, 0.01);
  const TScenePose pose = PoseScene(scene, 0, 2.0);
  // upper global = S(0.01) T(2, 0, 0) T(0, 1, 0) Rz(90): (x, y) -> (2 - y, 1 + x), scaled.
  ExpectNear(pose.Positions[0][0], 0.01 * (2 - 1.5), 0.01 * (1 + 1), 0, "corner 0");
  ExpectNear(pose.Positions[0][1], 0.01 * 2, 0.01 * 1.5, 0, "corner 1");
}

TEST(ScenePose, KeysAreSampledLinearlyStepwiseAndTheShortWay) {
  TScene scene;
  scene.FileName = "keys.glb";
  scene.Nodes.push_back(Node("n", -1, {0, 0, 0}));
  TSceneClip clip;
  clip.Duration = 1;
  TSceneChannel ch;
  ch.Node = 0;
  ch.Positions = {{0, {0, 0, 0}}, {1, {2, 4, 0}}};
  // 90 degrees about Z stored with the opposite sign: the same rotation, the long way
  // round if taken literally.
  const TQuat q90 = AboutZ(90);
  ch.Rotations = {{0, AboutZ(0)}, {1, TQuat{-q90.W, -q90.X, -q90.Y, -q90.Z}}};
  clip.Channels = {ch};
  scene.Clips = {clip};

  struct Case {
    bool Step;
    double Seconds;
    double X, Y;    // the translation
    double Degrees; // the rotation about Z
  };
  const Case cases[] = {
      {false, -1.0, 0, 0, 0}, // before the first key: the first value
      {false, 0.25, 0.5, 1, 22.5}, {false, 0.5, 1, 2, 45},
      {false, 3.0, 2, 4, 90}, // after the last key: the last value
      {true, 0.75, 0, 0, 0},  // a step key holds until the next key
      {true, 1.0, 2, 4, 90},
  };
  for (const Case& c : cases) {
    scene.Clips[0].Channels[0].Step = c.Step;
    const TMat4 m = SampleLocals(scene, 0, c.Seconds)[0];
    const std::string what = (c.Step ? "step at " : "linear at ") + std::to_string(c.Seconds);
    EXPECT_NEAR(m.M[0][3], c.X, 1e-9) << what;
    EXPECT_NEAR(m.M[1][3], c.Y, 1e-9) << what;
    // The X axis turned by the rotation.
    EXPECT_NEAR(m.M[0][0], std::cos(c.Degrees * M_PI / 180), 1e-9) << what;
    EXPECT_NEAR(m.M[1][0], std::sin(c.Degrees * M_PI / 180), 1e-9) << what;
  }
}

TEST(ScenePose, InfluencesKeepTheFourLargestRenormalised) {
  struct Case {
    std::vector<std::pair<int32_t, float>> In;
    std::array<int32_t, 4> Bones;
    std::array<float, 4> Weights;
  };
  const Case cases[] = {
      {{}, {{-1, -1, -1, -1}}, {{0, 0, 0, 0}}},
      {{{3, 0.5f}}, {{3, -1, -1, -1}}, {{1, 0, 0, 0}}},
      // Five weights: the smallest goes; of two equal ones the lower bone stays.
      {{{0, 0.2f}, {1, 0.6f}, {2, 0.05f}, {3, 0.1f}, {4, 0.05f}},
       {{1, 0, 3, 2}},
       {{0.6f / 0.95f, 0.2f / 0.95f, 0.1f / 0.95f, 0.05f / 0.95f}}},
      // Zero, negative and NaN weights are no influence.
      {{{0, 0.0f}, {1, -1.0f}, {2, std::nanf("")}, {5, 0.25f}}, {{5, -1, -1, -1}}, {{1, 0, 0, 0}}},
  };
  for (const Case& c : cases) {
    const TSceneInfluences got = LimitInfluences(c.In);
    EXPECT_EQ(got.Bone, c.Bones);
    for (int k = 0; k < 4; ++k)
      EXPECT_NEAR(got.Weight[k], c.Weights[k], 1e-6);
  }
}

TEST(ScenePose, ClipsAreFoundByNameOrNumberAndUnknownOnesListed) {
  TScene scene = TwoBoneScene();
  TSceneClip unnamed;
  scene.Clips.push_back(unnamed);
  EXPECT_EQ(FindClip(scene, "bend"), 0);
  EXPECT_EQ(FindClip(scene, "#1"), 1);
  try {
    FindClip(scene, "walk");
    FAIL() << "an unknown clip was taken";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "two-bones.gltf: no clip 'walk'; the file has #0 'bend', #1");
  }
  // Clip names come from the scene file and are shown escaped.
  scene.Clips[1].Name = "a\x07"
                        "b";
  try {
    FindClip(scene, "x\x1b");
    FAIL() << "an unknown clip was taken";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(),
                 "two-bones.gltf: no clip 'x\\x1b'; the file has #0 'bend', #1 'a\\x07b'");
  }
  scene.Clips[1].Name.clear();
  EXPECT_THROW(FindClip(scene, "#2"), Error);
  EXPECT_THROW(FindClip(scene, "#-1"), Error);
  scene.Clips.clear();
  try {
    FindClip(scene, "#0");
    FAIL() << "a clip of a file without clips was taken";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "two-bones.gltf: no clip '#0'; the file has no clips");
  }
}

TEST(ScenePose, APosedSceneBecomesModelDataLikeAnOBJ) {
  TScene scene = TwoBoneScene();
  TSceneMaterial side;
  side.Colours.Name = "side";
  side.Colours.Kd = Vec3(0.9f, 0.8f, 0.7f);
  side.Colours.MapKd = "missing.png"; // not decoded: the material keeps its colour
  scene.Materials.push_back(side);
  scene.Meshes[0].Material = 0;
  scene.Meshes[0].TexCoords = {TexCoord(0, 0), TexCoord(1, 0), TexCoord(0, 1)};
  scene.Nodes[1].Name = "Arm Node";
  const auto model = MakeSceneModel(scene, PoseScene(scene, -1, 0), "two-bones.gltf");
  EXPECT_EQ(model->FileName, "two-bones.gltf");
  ASSERT_EQ(model->Groups.size(), 1u);
  EXPECT_EQ(model->Groups[0].Name, "arm node");
  ASSERT_EQ(model->Groups[0].Faces.size(), 1u);
  const TOBJFace& face = model->Groups[0].Faces[0];
  EXPECT_EQ(model->FaceMaterialName(face), "side");
  EXPECT_EQ(face.MaterialIndex, 0);
  EXPECT_EQ(model->MaterialFile->Materials[0].MapKd, "");
  EXPECT_EQ(model->VertexCount(), 3);
  EXPECT_EQ(model->TexCoords.size(), 3u);
  // No normals in the scene: one face normal generated as for an OBJ face (the sum of
  // the edges' unit Newell terms: two edges give +Z, one -Z).
  EXPECT_EQ(model->GeneratedNormalCount, 1);
  ASSERT_EQ(model->Normals.size(), 1u);
  EXPECT_NEAR(model->Normals[0].Z, 1.0f, 1e-6);
  const TOBJFaceVertex* corners = model->FaceCorners(face);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(corners[k].VertexIndex, k + 1);
    EXPECT_EQ(corners[k].TexCoordIndex, k + 1);
    EXPECT_EQ(corners[k].NormalIndex, 1);
  }
}
