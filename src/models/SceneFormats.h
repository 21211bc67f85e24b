// The scene file formats the program reads, in one table: each format's extension, the
// name Assimp's importer of it goes by, and the check its bytes pass before Assimp sees
// them (models/ScenePrechecks.h).
#pragma once

#include <string>
#include <vector>

namespace quarvel {

struct TSceneFormat {
  const char* Extension; // with its dot, lower case
  // The extension Assimp's importer lists for the format (Assimp picks its importers by
  // extension; KeepSceneImporters keeps these only).
  const char* Importer;
  // The format's own check of the bytes, or null (see PreCheckScene).
  std::string (*Check)(const std::string& bytes);
};

// glTF 2.0 (.gltf, .glb), FBX, COLLADA (.dae), 3DS, PLY, STL.
const std::vector<TSceneFormat>& SceneFormats();

// True when the name ends in the extension of a scene file the program reads (letter
// case ignored).
bool IsSceneFileName(const std::string& name);

// What is wrong with the bytes of the scene file `name` before Assimp may read them, or
// "". Every file but a PLY one is checked as binary glTF first, since Assimp recognises
// binary glTF by its bytes whatever the name says; then the format's own check runs.
std::string PreCheckScene(const std::string& name, const std::string& bytes);

} // namespace quarvel
