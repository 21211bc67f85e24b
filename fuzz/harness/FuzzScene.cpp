#include "harness/FuzzScene.h"

#include "common/Error.h"
#include "harness/FuzzSupport.h"
#include "models/Geometry.h"
#include "models/OBJFile.h"
#include "models/SceneFile.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace quarvel {

namespace {

// An empty folder made once per process: the root the scene's own file references are
// resolved against, so that every one of them fails inside the gate.
const std::string& EmptyRoot() {
  static const std::string root = MakeFuzzFolder("scene");
  static const bool removedAtExit = [] {
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove(std::filesystem::u8path(EmptyRoot()), ignored);
    });
    return true;
  }();
  (void)removedAtExit;
  return root;
}

} // namespace

std::string FuzzSceneName(const uint8_t* data, size_t size) {
  const std::string_view head(reinterpret_cast<const char*>(data), std::min<size_t>(size, 64));
  if (head.substr(0, 4) == "glTF")
    return "fuzz.glb";
  if (head.find("FBX") != std::string_view::npos)
    return "fuzz.fbx";
  if (head.find("COLLADA") != std::string_view::npos || head.substr(0, 5) == "<?xml")
    return "fuzz.dae";
  if (head.substr(0, 3) == "ply")
    return "fuzz.ply";
  if (head.substr(0, 5) == "solid" || (size >= 84 && head.find('{') == std::string_view::npos))
    return "fuzz.stl";
  return "fuzz.gltf";
}

std::string FuzzSceneBytes(const uint8_t* data, size_t size) {
  // The trial import runs as in the program, with a time limit under the fuzzer's own
  // (10 s), so a file Assimp loops on is refused as the program refuses it.
  static const bool trialSet = [] {
    SetSceneTrial(5);
    return true;
  }();
  (void)trialSet;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::string name = FuzzSceneName(data, size);
  std::vector<std::string> warnings;
  try {
    const auto scene = ReadSceneBytes(EmptyRoot(), name, bytes, warnings);
    for (int32_t clip = -1; clip < static_cast<int32_t>(scene->Clips.size()) && clip < 4; ++clip) {
      const double at = clip < 0 ? 0.0 : scene->Clips[static_cast<size_t>(clip)].Duration / 2;
      const auto model = PosedSceneModel(*scene, clip, at, name);
      FuzzCheck(model->GroupCount() >= 1);
      const auto materials = model->MaterialFile->Count();
      const auto vertices = model->VertexCount();
      for (const TOBJGroup& group : model->Groups)
        for (const TOBJFace& face : group.Faces) {
          FuzzCheck(face.MaterialIndex >= -1 && face.MaterialIndex < materials);
          const TOBJFaceVertex* corners = model->FaceCorners(face);
          for (int32_t k = 0; k < face.CornerCount; ++k) {
            FuzzCheck(corners[k].VertexIndex >= 1 && corners[k].VertexIndex <= vertices);
            FuzzCheck(corners[k].NormalIndex >= 1 &&
                      corners[k].NormalIndex <= model->NormalCount());
          }
        }
      (void)PreviewFitFor(*model);
    }
    for (const std::string& w : warnings)
      FuzzCheck(w.rfind(name + ": ", 0) == 0 || w.rfind(name + " (", 0) == 0);
  } catch (const Error& e) {
    const std::string said = e.what();
    // Every refusal names the file.
    FuzzCheck(said.rfind(name + ": ", 0) == 0);
    return said;
  }
  return "";
}

} // namespace quarvel
