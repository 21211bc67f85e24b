// The scene the trial import sends back: the same scene after the trip, and nothing from
// bytes cut short.
#include "models/SceneCodec.h"

#include <gtest/gtest.h>

namespace quarvel {
namespace {

TEST(SceneCodec, ASceneComesBackWholeAndCutBytesAreRefused) {
  // Every field set to something other than its default.
  TScene scene;
  scene.FileName = "units/walker.gltf";
  TSceneNode root;
  root.Name = "root";
  root.Local = TranslationMatrix(1, 2, 3);
  root.Translation = {1, 2, 3};
  root.Rotation = {0.5, 0.5, 0.5, 0.5};
  root.Scaling = {2, 2, 2};
  TSceneNode leg = root;
  leg.Name = "leg";
  leg.Parent = 0;
  scene.Nodes = {root, leg};
  TSceneMesh mesh;
  mesh.Name = "body";
  mesh.Material = 0;
  mesh.Positions = {Vec3(0, 0, 0), Vec3(1, 0, 0), Vec3(0, 1, 0)};
  mesh.Normals = {Vec3(0, 0, 1), Vec3(0, 0, 1), Vec3(0, 0, 1)};
  mesh.TexCoords = {TexCoord(0, 0), TexCoord(1, 0), TexCoord(0, 1)};
  mesh.FaceSizes = {3};
  mesh.FaceIndices = {0, 1, 2};
  mesh.Bones = {{"leg", 1, ScaleMatrix(1, 2, 3)}};
  mesh.Influences = {LimitInfluences({{0, 1.0f}}), {}, LimitInfluences({{0, 0.5f}})};
  mesh.MostWeights = 1;
  scene.Meshes = {mesh};
  scene.Instances = {{0, 1}};
  TSceneMaterial material;
  material.Colours.Name = "skin";
  material.Colours.MapKd = "skin.png";
  material.Colours.Ns = 7;
  auto picture = std::make_shared<TDecodedImage>();
  picture->Width = 1;
  picture->Height = 2;
  picture->Pixels = {1, 2, 3, 4, 5, 6};
  picture->Warnings = {"skin.png: a damaged chunk"};
  material.Texture = picture;
  scene.Materials = {material, TSceneMaterial{}};
  TSceneChannel channel;
  channel.Node = 1;
  channel.Positions = {{0, {1, 2, 3}}, {1, {4, 5, 6}}};
  channel.Rotations = {{0.5, {0, 1, 0, 0}}};
  channel.Scalings = {{0.25, {1, 1, 2}}};
  channel.Step = true;
  scene.Clips = {{"walk", 1.5, {channel}}};
  scene.Convention = ScaleMatrix(0.01, 0.01, 0.01);
  scene.FilesRead = {"/root/units/walker.gltf", "/root/units/skin.png"};
  const std::vector<std::string> warnings = {"units/walker.gltf: a warning"};

  const std::string bytes = EncodeScene(scene, warnings);
  TScene back;
  std::vector<std::string> backWarnings;
  ASSERT_TRUE(DecodeScene(bytes, back, backWarnings));
  // Encoded again, the scene gives the same bytes: no field was lost on the way.
  EXPECT_EQ(EncodeScene(back, backWarnings), bytes);
  EXPECT_EQ(backWarnings, warnings);
  for (size_t size = 0; size < bytes.size(); ++size) {
    TScene cut;
    std::vector<std::string> cutWarnings;
    EXPECT_FALSE(DecodeScene(bytes.substr(0, size), cut, cutWarnings)) << size;
  }
}

} // namespace
} // namespace quarvel
