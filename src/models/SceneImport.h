// Assimp's import of a scene file, inside the models folder only (Assimp's headers are
// not part of our API). Every file Assimp opens goes through ReadSceneInput
// (models/SceneFile.h); a recording, when one is running on the thread, lists them.
#pragma once

#include "common/Error.h"

#include <string>
#include <vector>

namespace Assimp {
class Importer;
}
struct aiScene;

namespace quarvel {

// Lists every file ReadSceneInput reads on this thread while it lives (each once, in the
// order of the first read), in `files`. The recording it replaces resumes after it.
class TFilesReadRecording {
public:
  explicit TFilesReadRecording(std::vector<std::string>* files);
  ~TFilesReadRecording();
  TFilesReadRecording(const TFilesReadRecording&) = delete;
  TFilesReadRecording& operator=(const TFilesReadRecording&) = delete;

private:
  std::vector<std::string>* Previous_;
};

// Adds `found` (a path as ReadSceneInput found it) to the running recording, if any.
void NoteFileRead(const std::string& found);

// The error for a scene file Assimp cannot read (or that is refused before it does),
// located at the file's name as every reader's errors are.
Error Unreadable(const std::string& shown, const std::string& why);

// Assimp's import of the scene file `shown` whose bytes are given, with the fix-ups its
// post-processing needs. The scene is the importer's. Throws quarvel::Error when Assimp
// cannot read the file.
const aiScene& ImportWithAssimp(Assimp::Importer& importer, const std::string& rootDir,
                                const std::string& shown, const std::string& bytes);

} // namespace quarvel
