// Entry point of the scene fuzz target (fuzz/fuzz_scene.cpp) and of the test that replays
// its corpus (tests/fuzz): the bytes are read as a scene file through Assimp and our
// reader (models/SceneFile.h), then posed at rest and half-way through each clip. The
// format is chosen from the first bytes (binary glTF, FBX, COLLADA, PLY, STL, else glTF
// text), so the fuzzer reaches every importer the program names. Files the scene refers
// to are looked for in an empty folder, so none is read. No GL is used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quarvel {

// The name the scene file is given: "fuzz" plus the extension of its format.
std::string FuzzSceneName(const uint8_t* data, size_t size);

// The error message the reader ends in (quarvel::Error), or "" when the scene was read
// and posed. A broken invariant of the model data aborts; any other exception leaves the
// function, which the fuzzer reports.
std::string FuzzSceneBytes(const uint8_t* data, size_t size);

} // namespace quarvel
