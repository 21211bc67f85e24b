#include "models/SceneImport.h"

#include "common/FileLookup.h"
#include "common/Text.h"
#include "models/SceneFile.h"
#include "models/SceneFormats.h"

#include <assimp/BaseImporter.h>
#include <assimp/IOStream.hpp>
#include <assimp/IOSystem.hpp>
#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <algorithm>
#include <cstring>

namespace quarvel {

namespace {
// The files ReadSceneInput read for the recording running on this thread.
thread_local std::vector<std::string>* FilesReadNow = nullptr;
} // namespace

TFilesReadRecording::TFilesReadRecording(std::vector<std::string>* files)
    : Previous_(FilesReadNow) {
  FilesReadNow = files;
}

TFilesReadRecording::~TFilesReadRecording() {
  FilesReadNow = Previous_;
}

void NoteFileRead(const std::string& found) {
  if (FilesReadNow != nullptr &&
      std::find(FilesReadNow->begin(), FilesReadNow->end(), found) == FilesReadNow->end())
    FilesReadNow->push_back(found);
}

std::string ReadSceneInput(const std::string& rootDir, const std::string& path) {
  if (path.empty())
    throw Error("a scene file names a file with an empty name");
  // The root rule of every input (common/FileLookup.h): absolute names, names that climb
  // above the root and links that lead out of it are refused unless --allow-outside-root.
  std::string found;
  try {
    found = ResolveInRoot(rootDir, path);
  } catch (const OutsideRoot& e) {
    throw Error(std::string(e.what()));
  }
  if (!FindPath(found))
    throw Error(Quoted(NormaliseSeparators(path)) + ": no such file below the root folder");
  std::string bytes = ReadWholeFile(found, MaxSceneFileBytes, "scene file");
  NoteFileRead(found);
  return bytes;
}

namespace {

// --- Assimp's file access, through ReadSceneInput only ---

class TMemoryStream : public Assimp::IOStream {
public:
  explicit TMemoryStream(std::string bytes) : Bytes_(std::move(bytes)) {}
  size_t Read(void* buffer, size_t size, size_t count) override {
    if (size == 0 || Position_ >= Bytes_.size())
      return 0;
    const size_t whole = std::min(count, (Bytes_.size() - Position_) / size);
    std::memcpy(buffer, Bytes_.data() + Position_, whole * size);
    Position_ += whole * size;
    return whole;
  }
  size_t Write(const void*, size_t, size_t) override { return 0; }
  aiReturn Seek(size_t offset, aiOrigin origin) override {
    size_t base = 0;
    if (origin == aiOrigin_CUR)
      base = Position_;
    else if (origin == aiOrigin_END)
      base = Bytes_.size();
    if (offset > Bytes_.size() || base > Bytes_.size() - offset)
      return aiReturn_FAILURE;
    Position_ = base + offset;
    return aiReturn_SUCCESS;
  }
  size_t Tell() const override { return Position_; }
  size_t FileSize() const override { return Bytes_.size(); }
  void Flush() override {}

private:
  std::string Bytes_;
  size_t Position_ = 0;
};

class TSceneIOSystem : public Assimp::IOSystem {
public:
  TSceneIOSystem(std::string rootDir, std::string sceneName, const std::string* sceneBytes)
      : Root_(std::move(rootDir)), SceneName_(std::move(sceneName)), SceneBytes_(sceneBytes) {}

  bool Exists(const char* file) const override {
    if (file == nullptr)
      return false;
    if (SceneBytes_ != nullptr && file == SceneName_)
      return true;
    try {
      LastName_ = file;
      LastBytes_ = ReadSceneInput(Root_, file);
      return true;
    } catch (const Error& e) {
      LastName_.clear();
      Refusals.push_back(e.what());
      return false;
    }
  }
  char getOsSeparator() const override { return '/'; }
  Assimp::IOStream* Open(const char* file, const char* mode) override {
    if (file == nullptr || mode == nullptr || std::strchr(mode, 'w') != nullptr ||
        std::strchr(mode, 'a') != nullptr)
      return nullptr;
    if (SceneBytes_ != nullptr && file == SceneName_)
      return new TMemoryStream(*SceneBytes_);
    if (!LastName_.empty() && file == LastName_) {
      LastName_.clear();
      return new TMemoryStream(std::move(LastBytes_));
    }
    try {
      return new TMemoryStream(ReadSceneInput(Root_, file));
    } catch (const Error& e) {
      Refusals.push_back(e.what());
      return nullptr;
    }
  }
  void Close(Assimp::IOStream* stream) override { delete stream; }

  // Why files were refused, for the error message when the import fails.
  mutable std::vector<std::string> Refusals;

private:
  std::string Root_;
  std::string SceneName_;
  const std::string* SceneBytes_;
  // Assimp asks whether a file exists right before opening it: the bytes read to answer
  // are kept for that open, so that no file is read twice.
  mutable std::string LastName_;
  mutable std::string LastBytes_;
};

// Leaves `importer` only the importers of the formats the program reads. Assimp picks an
// importer by the file's extension, but when that one declines the file it tries every
// importer it has on the bytes; a file named ".gltf" must not reach one of the dozens of
// other readers, which were never meant for untrusted input.
void KeepSceneImporters(Assimp::Importer& importer) {
  std::vector<Assimp::BaseImporter*> others;
  for (size_t i = 0; i < importer.GetImporterCount(); ++i) {
    const aiImporterDesc* info = importer.GetImporterInfo(i);
    const std::string extensions =
        info != nullptr && info->mFileExtensions != nullptr ? info->mFileExtensions : "";
    bool keep = false;
    size_t start = 0;
    while (start < extensions.size()) {
      size_t end = extensions.find(' ', start);
      if (end == std::string::npos)
        end = extensions.size();
      const std::string ext = ToLowerASCII(extensions.substr(start, end - start));
      for (const TSceneFormat& format : SceneFormats())
        keep = keep || ext == format.Importer;
      start = end + 1;
    }
    if (!keep)
      others.push_back(importer.GetImporter(i));
  }
  // Unregistered importers are no longer the importer's to delete.
  for (Assimp::BaseImporter* other : others)
    if (other != nullptr && importer.UnregisterLoader(other) == AI_SUCCESS)
      delete other;
}

} // namespace

Error Unreadable(const std::string& shown, const std::string& why) {
  return Error(Located(shown, 0, "cannot read the scene: " + why));
}

const aiScene& ImportWithAssimp(Assimp::Importer& importer, const std::string& rootDir,
                                const std::string& shown, const std::string& bytes) {
  auto* io = new TSceneIOSystem(rootDir, shown, &bytes);
  importer.SetIOHandler(io); // the importer owns it from here
  KeepSceneImporters(importer);
  // A scene of bones only (BVH and the like) would otherwise get made-up bone meshes.
  importer.SetPropertyBool(AI_CONFIG_IMPORT_NO_SKELETON_MESHES, true);
  // FBX pivots as separate helper nodes would split one animated node into several.
  importer.SetPropertyBool(AI_CONFIG_IMPORT_FBX_PRESERVE_PIVOTS, false);
  // Two flags, in two steps. ValidateDataStructure with the import: a file whose indices
  // point outside its arrays is refused instead of read past. Then Triangulate: faces of
  // more than three corners become triangles, so that every face is flat and gets its
  // normal as an OBJ triangle does. Nothing that merges, reorders or generates vertices:
  // the model keeps the file's vertex order, and normals missing from the file are
  // generated as for OBJ files.
  const aiScene* in = importer.ReadFile(shown, aiProcess_ValidateDataStructure);
  if (in != nullptr) {
    // Assimp's triangulation aborts the program when a mesh's primitive types disagree
    // with its faces (some importers set them wrongly for broken files) or a face has no
    // corner at all: such a face is refused, and the types are set from the faces (the
    // meshes are the importer's own, open to change).
    for (unsigned m = 0; m < in->mNumMeshes; ++m) {
      aiMesh& mesh = *in->mMeshes[m];
      unsigned types = 0;
      for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
        const unsigned n = mesh.mFaces[f].mNumIndices;
        if (n == 0)
          throw Unreadable(shown, "face " + std::to_string(f) + " of mesh " +
                                      Quoted(mesh.mName.C_Str()) + " has no corners");
        types |= n == 1   ? aiPrimitiveType_POINT
                 : n == 2 ? aiPrimitiveType_LINE
                 : n == 3 ? aiPrimitiveType_TRIANGLE
                          : aiPrimitiveType_POLYGON;
      }
      mesh.mPrimitiveTypes = types;
    }
    in = importer.ApplyPostProcessing(aiProcess_Triangulate);
  }
  if (in == nullptr) {
    // Assimp's message may quote the file's own bytes.
    std::string why = Printable(importer.GetErrorString(), 200);
    // Assimp catches what its reader throws and keeps only the text: an allocation that
    // failed (a count in a damaged file, past the trial's memory limit) is a bare name.
    if (why == "std::bad_alloc")
      why = "Assimp ran out of memory reading it (std::bad_alloc); the file is damaged or too "
            "large for this program";
    // Assimp tries a missing file under several names; the first two refusals tell why.
    std::vector<std::string> shownRefusals;
    for (const std::string& refusal : io->Refusals)
      if (shownRefusals.size() < 2 &&
          std::find(shownRefusals.begin(), shownRefusals.end(), refusal) == shownRefusals.end())
        shownRefusals.push_back(refusal);
    for (const std::string& refusal : shownRefusals)
      why += "; " + refusal;
    throw Unreadable(shown, why.empty() ? "unknown error" : why);
  }
  if ((in->mFlags & AI_SCENE_FLAGS_INCOMPLETE) != 0 && in->mNumMeshes == 0)
    throw Error(Located(shown, 0, "the scene holds no meshes"));
  return *in;
}

} // namespace quarvel
