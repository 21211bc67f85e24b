// Scene files read through Assimp: glTF 2.0 (.gltf, .glb), FBX, COLLADA (.dae), 3DS,
// PLY, STL. The file becomes a TScene (models/Scene.h), posed at a clip's time into the
// model data an OBJ gives, so that measuring, centring, scale and the passes treat scene
// frames and OBJ frames alike.
//
// Every file Assimp opens (the scene itself, its .bin buffers, its own material files)
// goes through ReadSceneInput, the one gate of scene reading. Textures a material names
// beside the scene are read through it as well and decoded here (models stay free of GL):
// a texture that is missing or cannot be decoded is a warning, and the material keeps
// its colour.
//
// Conventions: the result is in metres with Y up. FBX files carry their unit
// (UnitScaleFactor, centimetres per unit) and axes in the file's settings; both are
// applied above the root. Assimp itself turns glTF's texture V (0 at the top of the
// picture) into the OBJ convention (0 at the bottom) and applies COLLADA's unit and up
// axis.
#pragma once

#include "models/Scene.h"
#include "models/SceneFormats.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quarvel {

// The largest file a scene reads (the scene, a buffer, a texture).
constexpr uint64_t MaxSceneFileBytes = uint64_t{2} << 30;

// The bytes of `path` (relative to rootDir, "\" or "/" separators, letter case as the file
// lookup takes it) for a scene reader: the one gate through which Assimp and the texture
// lookup read. The root rule applies (ResolveInRoot, common/FileLookup.h: an absolute
// path, a path whose ".." climbs above the root or a link that leads out of it is
// refused unless --allow-outside-root), only a regular file is read, and one larger than
// MaxSceneFileBytes is refused before reading. Throws quarvel::Error naming the path.
std::string ReadSceneInput(const std::string& rootDir, const std::string& path);

// IsSceneFileName (models/SceneFormats.h) says which names are scene files.

// Reads root/name (the name with its extension) into a scene. Throws quarvel::Error
// "name: what failed" for a file Assimp cannot read. Warnings (textures that cannot be
// used) are appended to `warnings` ("name: ...").
std::shared_ptr<const TScene> ReadSceneFile(const std::string& rootDir, const std::string& name,
                                            std::vector<std::string>& warnings);

// As ReadSceneFile for a scene file whose bytes are given (the files it refers to are
// still read from below rootDir); `name` says where it lies and which format it is.
std::shared_ptr<const TScene> ReadSceneBytes(const std::string& rootDir, const std::string& name,
                                             const std::string& bytes,
                                             std::vector<std::string>& warnings);

// Assimp runs first in a child process (a trial, in a worker kept for the next files), so
// that a file it crashes on, loops on or fills memory with is refused with a message
// instead of taking the program down: within DefaultSceneTrialSeconds per file and
// MaxSceneTrialMemoryBytes for the worker (the memory limit holds in builds without
// sanitizers).
constexpr double DefaultSceneTrialSeconds = 300;
constexpr uint64_t MaxSceneTrialMemoryBytes = uint64_t{16} << 30;
// Sets the trial's time limit (0: no trial; for fuzzing, where a crash must be seen) and a
// function the trial runs before importing (tests: a crash or a hang on demand).
void SetSceneTrial(double seconds, void (*hook)() = nullptr);

// The scene posed at `seconds` of clip `clip` (-1: rest pose) as model data.
std::unique_ptr<TOBJFile> PosedSceneModel(const TScene& scene, int32_t clip, double seconds,
                                          const std::string& fileName);

} // namespace quarvel
