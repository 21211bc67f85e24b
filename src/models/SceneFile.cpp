// Reading a scene file: the checks before Assimp (models/SceneFormats.h), the trial in a
// worker process, and the scene the trial sends back.
#include "models/SceneFile.h"

#include "common/Error.h"
#include "common/FileLookup.h"
#include "common/Interrupt.h"
#include "common/Path.h"
#include "common/Text.h"
#include "models/OBJFile.h"
#include "models/SceneCodec.h"
#include "models/SceneFormats.h"
#include "models/SceneImport.h"
#include "models/SceneReader.h"
#include "platform/Platform.h"

#include <assimp/Importer.hpp>

#include <filesystem>
#include <sstream>
#include <typeinfo>

namespace quarvel {

std::shared_ptr<const TScene> ReadSceneFile(const std::string& rootDir, const std::string& name,
                                            std::vector<std::string>& warnings) {
  const std::string shown = NormaliseSeparators(name);
  std::vector<std::string> read;
  const TFilesReadRecording recording(&read);
  std::string bytes;
  try {
    bytes = ReadSceneInput(rootDir, shown);
  } catch (const Error& e) {
    throw Error(Located(shown, 0, e.what()));
  }
  std::shared_ptr<const TScene> scene = ReadSceneBytes(rootDir, shown, bytes, warnings);
  // Made here and not yet shared: the list can still be filled in.
  std::const_pointer_cast<TScene>(scene)->FilesRead = std::move(read);
  return scene;
}

namespace {

double TrialSeconds = DefaultSceneTrialSeconds;
void (*TrialHook)() = nullptr;

// What the trial says of a refusal at most; Assimp's own part of it is cut far shorter.
constexpr size_t MaxTrialMessageBytes = 16384;
// The largest scene the trial sends back. A larger one (hundreds of millions of vertices
// or pictures together) is read again here instead.
constexpr uint64_t MaxTrialSceneBytes = uint64_t{4} << 30;

// Assimp's import and the scene made of it, in this process.
std::shared_ptr<TScene> ImportHere(const std::string& rootDir, const std::string& shown,
                                   const std::string& bytes, std::vector<std::string>& warnings) {
  Assimp::Importer importer;
  return ConvertScene(ImportWithAssimp(importer, rootDir, shown, bytes), rootDir, shown, warnings);
}

// What the trial reads besides its file, as the process has it when the trial is asked:
// the worker, a copy of the process made at its first trial, sends it along with the file.
// (The hook is not sent: SetSceneTrial counts up the generation when it changes, and a
// worker made before is replaced. The time limit is this process's to keep.)
uint64_t TrialGeneration = 0;

void PutPart(std::string& request, const std::string& part) {
  request += std::to_string(part.size());
  request += ':';
  request += part;
}

// Takes one part PutPart put at `at`, moving `at` past it; false for a request cut short.
bool TakePart(const std::string& request, size_t& at, std::string& part) {
  const size_t colon = request.find(':', at);
  if (colon == std::string::npos)
    return false;
  size_t size = 0;
  for (size_t i = at; i < colon; ++i)
    size = size * 10 + static_cast<size_t>(request[i] - '0');
  if (size > request.size() - colon - 1)
    return false;
  part = request.substr(colon + 1, size);
  at = colon + 1 + size;
  return true;
}

std::string TrialRequest(const std::string& rootDir, const std::string& shown,
                         const std::string& bytes) {
  std::string request(1, OutsideRootAllowed() ? '1' : '0');
  std::error_code ignored;
  PutPart(request, Utf8Of(std::filesystem::current_path(ignored)));
  PutPart(request, rootDir);
  PutPart(request, shown);
  request += bytes;
  return request;
}

// The trial in the worker: Assimp's import of the file the request names, and the scene
// it gives, as bytes (models/SceneCodec.h).
platform::TIsolatedAnswer Trial(const std::string& request) {
  std::string folder;
  std::string rootDir;
  std::string shown;
  size_t at = 1;
  if (request.empty() || !TakePart(request, at, folder) || !TakePart(request, at, rootDir) ||
      !TakePart(request, at, shown))
    return {true, ""};
  SetOutsideRootAllowed(request[0] == '1');
  std::error_code ignored;
  if (!folder.empty() && Utf8Of(std::filesystem::current_path(ignored)) != folder)
    std::filesystem::current_path(PathOf(folder), ignored);
  const std::string bytes = request.substr(at);
  try {
    if (TrialHook != nullptr)
      TrialHook();
    std::vector<std::string> read;
    std::vector<std::string> said;
    std::shared_ptr<TScene> scene;
    {
      const TFilesReadRecording recording(&read);
      scene = ImportHere(rootDir, shown, bytes, said);
    }
    scene->FilesRead = std::move(read);
    return {false, EncodeScene(*scene, said)};
  } catch (const Error& e) {
    // The refusal goes back to the parent, which then need not import the file again
    // (a file that takes minutes or gigabytes to refuse would take them twice). Only a
    // plain Error is said this way: its type and text are all the parent's import would
    // give.
    if (typeid(e) == typeid(Error))
      return {true, std::string(e.what()).substr(0, MaxTrialMessageBytes)};
    return {true, ""};
  }
}

[[maybe_unused]] const bool TrialRegistered =
    platform::RegisterIsolatedFunction("scene-trial", Trial);

// Assimp 5.2 crashes, loops or allocates without end on some damaged files, in more ways
// than checks of the bytes beforehand can list. So every import runs in a worker process,
// which may die without harm, within a time and memory limit, and sends the scene it
// read back as plain data (models/SceneCodec.h). Returns that scene (null when the file
// is to be imported here after all: the worker ended in a way this import would say
// better, such as a sanitizer's report, or its scene did not come through whole).
std::shared_ptr<TScene> ImportApart(const std::string& rootDir, const std::string& shown,
                                    const std::string& bytes, std::vector<std::string>& warnings) {
  // One worker for the whole run (a process per file would cost more than reading a
  // small file), made again after any run that ended it.
  static platform::TIsolatedWorker worker("scene-trial");
  platform::TIsolationLimits limits;
  limits.Seconds = TrialSeconds;
  limits.MemoryBytes = MaxSceneTrialMemoryBytes;
  limits.MaxAnswerBytes = MaxTrialSceneBytes;
  const platform::TIsolatedOutcome outcome =
      worker.Run(TrialRequest(rootDir, shown, bytes), TrialGeneration, limits,
                 [] { return InterruptSignal() != 0; });
  ThrowIfInterrupted();
  using platform::TIsolatedEnd;
  switch (outcome.End) {
  case TIsolatedEnd::NotStarted:
    throw Unreadable(shown, "cannot start the trial import: " + outcome.Text);
  case TIsolatedEnd::TimedOut:
  case TIsolatedEnd::Interrupted: {
    std::ostringstream seconds;
    seconds << TrialSeconds;
    throw Unreadable(shown, "Assimp did not finish reading it within " + seconds.str() +
                                " s; the file is damaged or too large for this program");
  }
  case TIsolatedEnd::Crashed:
    throw Unreadable(shown, "Assimp crashed reading it (" + outcome.Text +
                                "); the file is damaged or uses something this program's "
                                "Assimp cannot read");
  case TIsolatedEnd::OutOfMemory:
    throw Unreadable(shown, "reading it takes more than " +
                                std::to_string(MaxSceneTrialMemoryBytes >> 30) + " GiB of memory");
  case TIsolatedEnd::Refused:
    if (!outcome.Bytes.empty())
      throw Error(outcome.Bytes.substr(0, MaxTrialMessageBytes));
    return nullptr;
  case TIsolatedEnd::Done: {
    auto scene = std::make_shared<TScene>();
    std::vector<std::string> said;
    if (!DecodeScene(outcome.Bytes, *scene, said))
      return nullptr;
    // The files the worker read count as read here, after the scene file itself.
    for (const std::string& file : scene->FilesRead)
      NoteFileRead(file);
    scene->FilesRead.clear();
    warnings.insert(warnings.end(), said.begin(), said.end());
    return scene;
  }
  case TIsolatedEnd::Other:
    // The worker ended neither by a signal nor with an answer: in a sanitizer build,
    // Assimp corrupted memory and the sanitizer stopped it. Importing the file in the
    // program itself would let that happen here.
    throw Unreadable(shown, "Assimp's reading of it ended abnormally; the file is damaged or "
                            "uses something this program's Assimp cannot read");
  case TIsolatedEnd::TooLarge:
    break;
  }
  return nullptr;
}

} // namespace

void SetSceneTrial(double seconds, void (*hook)()) {
  TrialSeconds = seconds;
  if (hook != TrialHook)
    ++TrialGeneration;
  TrialHook = hook;
}

std::shared_ptr<const TScene> ReadSceneBytes(const std::string& rootDir, const std::string& name,
                                             const std::string& bytes,
                                             std::vector<std::string>& warnings) {
  const std::string shown = NormaliseSeparators(name);
  const std::string wrong = PreCheckScene(shown, bytes);
  if (!wrong.empty())
    throw Unreadable(shown, wrong);
  if (TrialSeconds > 0)
    if (std::shared_ptr<TScene> scene = ImportApart(rootDir, shown, bytes, warnings))
      return scene;
  return ImportHere(rootDir, shown, bytes, warnings);
}

std::unique_ptr<TOBJFile> PosedSceneModel(const TScene& scene, int32_t clip, double seconds,
                                          const std::string& fileName) {
  auto model = MakeSceneModel(scene, PoseScene(scene, clip, seconds), fileName);
  model->TextureDir = SceneFolderOf(scene.FileName);
  return model;
}

} // namespace quarvel
