// An Assimp scene made into a TScene (models/Scene.h): nodes, meshes with their bones,
// materials with their diffuse textures decoded, clips, and the file's convention. Inside
// the models folder only (Assimp's headers are not part of our API).
#pragma once

#include "models/Scene.h"

#include <memory>
#include <string>
#include <vector>

struct aiScene;

namespace quarvel {

// The scene `in` Assimp read from root/name. Textures a material names beside the scene
// are read through ReadSceneInput; one that is missing or cannot be decoded is a warning
// ("name: ..." appended to `warnings`) and the material keeps its colour. Throws
// quarvel::Error for a scene of more vertices than the program takes.
std::shared_ptr<TScene> ConvertScene(const aiScene& in, const std::string& rootDir,
                                     const std::string& name, std::vector<std::string>& warnings);

// The folder part of a scene's name, with its trailing "/" ("" for none).
std::string SceneFolderOf(const std::string& name);

} // namespace quarvel
