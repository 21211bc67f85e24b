// A read scene and the warnings of its reading as bytes and back: how the trial import
// (models/SceneFile.h) hands its result from the child process to the program, which then
// need not run Assimp on the file again.
//
// The bytes are the fields in declaration order, numbers as the machine holds them (both
// ends are the same program on the same machine), every list and text preceded by its
// 64-bit length. Decoding checks each length against the bytes left before allocating,
// so bytes that are cut short or damaged are refused, not trusted.
#pragma once

#include "models/Scene.h"

#include <string>
#include <vector>

namespace quarvel {

std::string EncodeScene(const TScene& scene, const std::vector<std::string>& warnings);

// Fills `scene` and `warnings` from EncodeScene's bytes. False, with both in an unspecified
// state, for bytes that are not exactly one encoded scene.
bool DecodeScene(const std::string& bytes, TScene& scene, std::vector<std::string>& warnings);

} // namespace quarvel
