#include "models/SceneFormats.h"

#include "common/Text.h"
#include "models/ScenePrechecks.h"

namespace quarvel {

const std::vector<TSceneFormat>& SceneFormats() {
  static const std::vector<TSceneFormat> formats = {
      {".gltf", "gltf", CheckGLTFSkins}, {".glb", "glb", CheckGLTFSkins},
      {".fbx", "fbx", nullptr},          {".dae", "dae", CheckCOLLADANumbers},
      {".3ds", "3ds", nullptr},          {".ply", "ply", CheckPLYHeader},
      {".stl", "stl", nullptr},
  };
  return formats;
}

namespace {

const TSceneFormat* FormatOf(const std::string& name) {
  for (const TSceneFormat& format : SceneFormats())
    if (EndsWithNoCase(name, format.Extension))
      return &format;
  return nullptr;
}

} // namespace

bool IsSceneFileName(const std::string& name) {
  return FormatOf(name) != nullptr;
}

std::string PreCheckScene(const std::string& name, const std::string& bytes) {
  const TSceneFormat* format = FormatOf(name);
  if (format != nullptr && format->Check == CheckPLYHeader)
    return CheckPLYHeader(bytes);
  std::string wrong = CheckGLBHeader(bytes);
  if (wrong.empty() && format != nullptr && format->Check != nullptr)
    wrong = format->Check(bytes);
  return wrong;
}

} // namespace quarvel
