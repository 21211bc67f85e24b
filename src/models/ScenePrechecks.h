// Checks of a scene file's bytes before Assimp sees them, one for each way Assimp 5.2 is
// known to loop, crash or allocate without end on a damaged file of that format. Each
// returns what is wrong, or "" for bytes that may go on to Assimp. Which check runs for
// which file is the format table's business (models/SceneFormats.h).
#pragma once

#include <string>

namespace quarvel {

// PLY: the header's statements, element counts against the bytes that follow, and text
// data that holds numbers only.
std::string CheckPLYHeader(const std::string& bytes);
// Binary glTF (recognised by its bytes, whatever the name): the sizes its header and
// chunks state against the file. "" for bytes that are not binary glTF.
std::string CheckGLBHeader(const std::string& bytes);
// glTF, text or binary: every skin gives inverse bind matrices, at least one a joint.
std::string CheckGLTFSkins(const std::string& bytes);
// COLLADA: the number lists hold numbers only.
std::string CheckCOLLADANumbers(const std::string& bytes);

} // namespace quarvel
