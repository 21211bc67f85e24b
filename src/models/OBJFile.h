// A Wavefront OBJ model (subset): positions, texture coordinates, normals and faces in
// named groups, each face remembering the material name active when it was read.
//
// Reading: ParseLine once per line (lines already trimmed), then SetMaterialFile, then
// FinishLoading once (models/ModelLoader.h does all of it). Recognised statements, after
// the line is lower-cased: "g ", "v ", "vn ", "vt ", "f ", "usemtl ", "mtllib ", each
// with one blank after the keyword. Short lines (< 3 characters), comments and every
// other statement are ignored. A number that does not convert throws quarvel::Error with
// the conversion text ("'abc' is not a valid floating point value"); the model is then
// as it was before that line (no half-read vertex or face stays). Indices are stored as resolved
// (negative ones against the lists read so far), never checked against the lists: drawing skips bad
// ones.
//
// Faces are never triangulated. A group holds at most 5000 faces; the next face opens a
// group named after it with "1" appended ("hull" -> "hull1" -> "hull11").
//
// Storage: the corners of all faces live in one array (Corners), each face naming its
// slice; material names live once in MaterialNames and faces refer to them by number.
// This keeps loading free of per-face allocations.
//
// This is data only: no OpenGL. The GL side (render/GLModel.h) compiles a loaded model
// into display lists and textures.
#pragma once

#include "maths/Maths3D.h"
#include "models/MaterialFile.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quarvel {

// 1-based indices into Vertices, TexCoords, Normals; -1 = none given.
struct TOBJFaceVertex {
  int32_t VertexIndex = -1;
  int32_t TexCoordIndex = -1;
  int32_t NormalIndex = -1;
};

struct TOBJFace {
  int32_t FirstCorner = 0;     // index of the first corner in TOBJFile::Corners
  int32_t CornerCount = 0;     // corners in the order written
  int32_t MaterialNameId = -1; // index into TOBJFile::MaterialNames; -1 = no material name
  int32_t MaterialIndex = -1;  // index into ActiveMaterials(); -1 = no material
};

struct TOBJGroup {
  std::string Name;            // trimmed, lower-cased
  std::vector<TOBJFace> Faces; // file order
  int32_t FaceCount = -1;      // -1 until the first face, then 1..5000
};

class TOBJFile {
public:
  static constexpr int32_t MaxGroupFaces = 5000;

  explicit TOBJFile(std::string fileName = std::string());
  TOBJFile(const TOBJFile&) = delete;
  TOBJFile& operator=(const TOBJFile&) = delete;

  // --- Reading ---
  void ParseLine(std::string_view line);
  void AddGroup(std::string_view name);
  void AddVertex(std::string_view text);
  void AddNormal(std::string_view text);
  void AddTexCoord(std::string_view text);
  void AddFace(std::string_view text);
  // A face normal for every face that has a corner without one (unit Newell terms over
  // the corners whose position exists); those corners get it.
  void GenerateNormals();
  // Default group, generated normals, exact face blocks, material binding. Once.
  void FinishLoading();

  // Frees the library held so far and owns `materialFile` from now on.
  void SetMaterialFile(std::unique_ptr<TOBJMaterialFile> materialFile);
  // MaterialOverride when set, else MaterialFile (may be null).
  TOBJMaterialFile* ActiveMaterials() const {
    return MaterialOverride != nullptr ? MaterialOverride : MaterialFile.get();
  }
  // Rebinds every face to ActiveMaterials(); nothing happens when there is none.
  void ResolveMaterials();

  int32_t NormalCount() const { return static_cast<int32_t>(Normals.size()); }
  int32_t GroupCount() const { return static_cast<int32_t>(Groups.size()); }
  // The face's material name; empty when it has none.
  std::string_view FaceMaterialName(const TOBJFace& face) const;
  const TOBJFaceVertex* FaceCorners(const TOBJFace& face) const {
    return Corners.data() + face.FirstCorner;
  }
  // Faces of all groups.
  int64_t TotalFaceCount() const;
  // Room for what a file is about to add (a loader that counted its lines), so that
  // the lists grow without copying. Nothing else changes.
  void Reserve(size_t vertices, size_t texCoords, size_t normals, size_t corners);

  // --- Geometry ---
  // Vertices[index]; (0, 0, 0) for an index outside 0 .. VertexCount() - 1.
  void GetVertex(int32_t index, TVec3& v) const;
  // Ignored for an index out of range. Normals and display lists stay as they are.
  void SetVertex(int32_t index, const TVec3& v);
  int32_t VertexCount() const { return static_cast<int32_t>(Vertices.size()); }

  std::string FileName; // model name given to the constructor
  // The folder textures are looked up in (the model file's folder, with a trailing "/";
  // "" for the current folder). Set by the loader.
  std::string TextureDir;
  // The root folder the model was loaded below and the model file's name relative to it
  // ("/" separators, as messages show it). Set by the loader: the textures are looked up
  // below the same root (common/FileLookup.h, the root rule).
  std::string RootDir;
  std::string ObjName;
  std::string MaterialLibName;  // last "mtllib " argument, lower-cased, '/' -> '\'
  int32_t MaterialLibLine = 0;  // its line in the model file (1-based; set by the loader)
  int32_t MaterialLibLines = 0; // "mtllib " lines read so far (the loader notes where)
  std::vector<TVec3> Vertices;
  std::vector<TVec3> Normals; // as read, then the generated ones
  std::vector<TOBJTexCoord> TexCoords;
  std::vector<TOBJGroup> Groups;
  std::vector<TOBJFaceVertex> Corners;    // corners of every face
  std::vector<std::string> MaterialNames; // distinct material names of the faces
  int32_t CurrentGroup = -1;
  std::unique_ptr<TOBJMaterialFile> MaterialFile; // owned
  TOBJMaterialFile* MaterialOverride = nullptr;   // not owned
  std::string CurrentMaterial;                    // last "usemtl " argument
  // Number of normals GenerateNormals appended.
  int32_t GeneratedNormalCount = 0;

private:
  // Binds faces to the active library's materials by name; with onlyUnbound, faces that
  // already have a material keep it.
  void BindMaterials(bool onlyUnbound);
  int32_t ResolveIndex(std::string_view part, size_t listLength);
  void AddFaceCorners(std::string_view text);
  int32_t CurrentMaterialId_ = -1;
  std::unordered_map<std::string, int32_t> MaterialNameIds_;
  std::string Scratch_; // token scratch (quoted tokens only)
  std::string IndexScratch_;
};

} // namespace quarvel
