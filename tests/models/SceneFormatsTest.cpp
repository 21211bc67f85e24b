// The scene formats' table: which names are scene files, as the window's model list
// shows them (moved here from the file lists' tests with IsSceneFileName).
#include "models/SceneFormats.h"
#include "TempFolder.h"
#include "common/FileLists.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quarvel {
namespace {

TEST(SceneFormats, PreviewModelsAreOBJAndSceneFilesInOneOrder) {
  const test::TempFolder root("lists");
  root.Touch("models/a.OBJ");
  root.Touch("models/Arm.GLB");
  root.Touch("models/sub/b.obj");
  root.Touch("models/walker.gltf");
  root.Touch("models/notes.txt");
  root.Touch("models/scene.gltf.bak");
  for (const char* name : {"s.fbx", "s.dae", "s.3ds", "s.ply", "s.stl"})
    root.Touch(std::string("formats/") + name);
  std::vector<std::string> models;
  ScanPreviewModels(root.str(), root.str() + "/", models, IsSceneFileName);
  // OBJ files lose their extension; scene files keep theirs, which says how to read them.
  EXPECT_EQ(models,
            (std::vector<std::string>{"formats/s.3ds", "formats/s.dae", "formats/s.fbx",
                                      "formats/s.ply", "formats/s.stl", "models/a",
                                      "models/Arm.GLB", "models/sub/b", "models/walker.gltf"}));
  EXPECT_TRUE(IsSceneFileName("x/Y.GLTF"));
  EXPECT_FALSE(IsSceneFileName("x/y.obj"));
  EXPECT_FALSE(IsSceneFileName("gltf"));
}

} // namespace
} // namespace quarvel
