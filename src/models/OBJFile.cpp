#include "models/OBJFile.h"

#include "common/Convert.h"
#include "common/Error.h"
#include "models/OBJText.h"

#include <string>

namespace quarvel {

TOBJFile::TOBJFile(std::string fileName) : FileName(std::move(fileName)) {}

namespace {

// MatchKeyword on the line as if it were lower-cased (keywords are lower case).
bool MatchLowerKeyword(std::string_view keyword, std::string_view line, std::string_view& rest) {
  if (line.size() < keyword.size())
    return false;
  for (size_t i = 0; i < keyword.size(); ++i)
    if (LowerASCII(line[i]) != keyword[i])
      return false;
  size_t i = keyword.size();
  while (i < line.size() && static_cast<unsigned char>(line[i]) <= 32)
    ++i;
  rest = line.substr(i);
  return true;
}

std::string LowerCopy(std::string_view text) {
  std::string copy(text);
  LowerCaseASCII(copy);
  return copy;
}

} // namespace

// Lines are read as if lower-cased first: keywords match in any case, and the names
// kept (groups, materials, libraries) and the tokens quoted in errors are lower-cased.
// Numbers read the same in either case, so the line itself is never copied.
void TOBJFile::ParseLine(std::string_view line) {
  if (line.size() < 3 || line[0] == '#')
    return;
  std::string_view rest;
  switch (LowerASCII(line[0])) {
  case 'g':
    if (MatchLowerKeyword("g ", line, rest))
      AddGroup(LowerCopy(rest));
    break;
  case 'v':
    if (MatchLowerKeyword("v ", line, rest))
      AddVertex(rest);
    else if (MatchLowerKeyword("vn ", line, rest))
      AddNormal(rest);
    else if (MatchLowerKeyword("vt ", line, rest))
      AddTexCoord(rest);
    break;
  case 'f':
    if (MatchLowerKeyword("f ", line, rest))
      AddFace(rest);
    break;
  case 'u':
    if (MatchLowerKeyword("usemtl ", line, rest)) {
      CurrentMaterial.assign(rest);
      LowerCaseASCII(CurrentMaterial);
      if (CurrentMaterial.empty()) {
        CurrentMaterialId_ = -1;
      } else {
        auto found = MaterialNameIds_.find(CurrentMaterial);
        if (found == MaterialNameIds_.end()) {
          const auto id = static_cast<int32_t>(MaterialNames.size());
          MaterialNames.push_back(CurrentMaterial);
          found = MaterialNameIds_.emplace(CurrentMaterial, id).first;
        }
        CurrentMaterialId_ = found->second;
      }
    }
    break;
  case 'm':
    if (MatchLowerKeyword("mtllib ", line, rest)) {
      ++MaterialLibLines;
      MaterialLibName.assign(rest);
      for (char& c : MaterialLibName)
        c = c == '/' ? '\\' : LowerASCII(c);
    }
    break;
  default:
    break;
  }
}

void TOBJFile::AddGroup(std::string_view name) {
  TOBJGroup group;
  group.Name.assign(TrimBlanks(name));
  Groups.push_back(std::move(group));
  CurrentGroup = static_cast<int32_t>(Groups.size()) - 1;
}

namespace {

// Most corners one face may have. Faces are drawn as one polygon and get one generated
// normal over all their corners; a line with more is damage (a lost line break in a
// generated file) rather than a shape, and is refused (the loader names the file and line).
constexpr int32_t MaxFaceCorners = 65536;

// Up to `count` number tokens into `out`; the first empty token ends the list.
void ReadFloats(std::string_view text, float* out, int count, std::string& scratch) {
  std::string_view token, rest;
  for (int i = 0; i < count; ++i) {
    NextToken(text, token, rest, scratch);
    if (token.empty())
      return;
    double value = 0.0;
    if (!TryStrToFloat(token, value))
      throw Error(InvalidFloatMessage(LowerCopy(token)));
    out[i] = static_cast<float>(value);
    text = rest;
  }
}

} // namespace

// The numbers are read before anything is added: appending first left half a vertex in
// the model when a later number of the line failed, although a line that fails must
// leave the model as it was.
void TOBJFile::AddVertex(std::string_view text) {
  TVec3 v{};
  ReadFloats(text, &v.X, 3, Scratch_);
  Vertices.push_back(v);
}

void TOBJFile::AddNormal(std::string_view text) {
  TVec3 n{};
  ReadFloats(text, &n.X, 3, Scratch_);
  Normals.push_back(n);
}

void TOBJFile::AddTexCoord(std::string_view text) {
  TOBJTexCoord t{};
  ReadFloats(text, &t.U, 2, Scratch_);
  TexCoords.push_back(t);
}

int32_t TOBJFile::ResolveIndex(std::string_view part, size_t listLength) {
  if (part.empty())
    return -1;
  int32_t n = 0;
  if (!TryStrToInt(part, n))
    throw Error(InvalidIntMessage(LowerCopy(part)));
  if (n >= 0)
    return n;
  // -1 names the last element read before this line.
  const int64_t resolved = static_cast<int64_t>(listLength) + n + 1;
  return static_cast<int32_t>(resolved);
}

void TOBJFile::AddFace(std::string_view text) {
  // A face line that fails (a bad index, too many corners) is taken back whole, with the
  // group it opened: only the too-many-corners path used to do so, and a bad index left
  // a half-read face behind.
  const size_t groupsBefore = Groups.size();
  const int32_t currentGroupBefore = CurrentGroup;
  const size_t cornersBefore = Corners.size();
  const int32_t faceCountBefore =
      Groups.empty() ? -1 : Groups[static_cast<size_t>(CurrentGroup)].FaceCount;
  try {
    AddFaceCorners(text);
  } catch (...) {
    Corners.resize(cornersBefore);
    if (Groups.size() != groupsBefore) {
      Groups.resize(groupsBefore);
    } else {
      TOBJGroup& group = Groups[static_cast<size_t>(CurrentGroup)];
      group.Faces.pop_back();
      group.FaceCount = faceCountBefore;
    }
    CurrentGroup = currentGroupBefore;
    throw;
  }
}

void TOBJFile::AddFaceCorners(std::string_view text) {
  if (Groups.empty()) {
    AddGroup("Untitled");
  } else if (Groups[static_cast<size_t>(CurrentGroup)].FaceCount >= MaxGroupFaces) {
    const TOBJGroup& full = Groups[static_cast<size_t>(CurrentGroup)];
    const std::string name = full.Name + std::to_string(full.FaceCount / MaxGroupFaces);
    AddGroup(name);
  }
  TOBJGroup& group = Groups[static_cast<size_t>(CurrentGroup)];
  // A vector grows geometrically, so no block size is kept here; FinishLoading trims.
  if (group.FaceCount == -1)
    group.FaceCount = 0;
  ++group.FaceCount;
  TOBJFace face;
  face.FirstCorner = static_cast<int32_t>(Corners.size());
  face.MaterialNameId = CurrentMaterialId_;
  group.Faces.push_back(face);
  TOBJFace& added = group.Faces.back();

  std::string_view token, rest, part, partRest;
  for (;;) {
    NextToken(text, token, rest, Scratch_);
    if (token.empty())
      break;
    if (added.CornerCount == MaxFaceCorners) {
      // AddFace takes the face back, so the model keeps only what came before this line.
      throw Error("a face with more than " + std::to_string(MaxFaceCorners) + " corners");
    }
    text = rest;
    Corners.emplace_back();
    ++added.CornerCount;
    TOBJFaceVertex& corner = Corners.back();
    NextIndexToken(token, part, partRest, IndexScratch_);
    corner.VertexIndex = ResolveIndex(part, Vertices.size());
    NextIndexToken(partRest, part, partRest, IndexScratch_);
    corner.TexCoordIndex = ResolveIndex(part, TexCoords.size());
    NextIndexToken(partRest, part, partRest, IndexScratch_);
    corner.NormalIndex = ResolveIndex(part, Normals.size());
  }
}

void TOBJFile::GenerateNormals() {
  const auto vertexCount = static_cast<int64_t>(Vertices.size());
  std::vector<TVec3> positions;
  for (TOBJGroup& group : Groups) {
    for (TOBJFace& face : group.Faces) {
      TOBJFaceVertex* corners = Corners.data() + face.FirstCorner;
      bool missing = false;
      for (int32_t k = 0; k < face.CornerCount; ++k)
        if (corners[k].NormalIndex == -1)
          missing = true;
      if (!missing)
        continue;
      // Corners whose position does not exist take no part in the normal.
      positions.clear();
      for (int32_t k = 0; k < face.CornerCount; ++k) {
        const int64_t v = corners[k].VertexIndex;
        if (v >= 1 && v <= vertexCount)
          positions.push_back(Vertices[static_cast<size_t>(v - 1)]);
      }
      TVec3 sum = Vec3(0.0f, 0.0f, 0.0f);
      const size_t n = positions.size();
      for (size_t k = 0; k < n; ++k) {
        const TVec3& p = positions[k];
        const TVec3& q = positions[(k + 1) % n];
        // Each product is formed in extended precision and stored as a float.
        using LD = long double;
        TVec3 term = Vec3(static_cast<float>((LD(p.Y) - LD(q.Y)) * (LD(p.Z) + LD(q.Z))),
                          static_cast<float>((LD(p.Z) - LD(q.Z)) * (LD(p.X) + LD(q.X))),
                          static_cast<float>((LD(p.X) - LD(q.X)) * (LD(p.Y) + LD(q.Y))));
        // Each edge adds a unit vector, not its raw term, so that collinear corners
        // whose raw terms cancel still give a direction.
        const float length = Normalize(term);
        if (static_cast<long double>(length) <= 1e-7L)
          continue;
        sum.X += term.X;
        sum.Y += term.Y;
        sum.Z += term.Z;
      }
      Normalize(sum);
      Normals.push_back(sum);
      ++GeneratedNormalCount;
      const auto index = static_cast<int32_t>(Normals.size());
      for (int32_t k = 0; k < face.CornerCount; ++k)
        if (corners[k].NormalIndex == -1)
          corners[k].NormalIndex = index;
    }
  }
}

void TOBJFile::FinishLoading() {
  if (Groups.empty())
    AddGroup("g default");
  GenerateNormals();
  for (TOBJGroup& group : Groups)
    group.Faces.shrink_to_fit();
  BindMaterials(true);
}

void TOBJFile::SetMaterialFile(std::unique_ptr<TOBJMaterialFile> materialFile) {
  MaterialFile = std::move(materialFile);
}

void TOBJFile::ResolveMaterials() {
  BindMaterials(false);
}

void TOBJFile::BindMaterials(bool onlyUnbound) {
  TOBJMaterialFile* materials = ActiveMaterials();
  if (materials == nullptr)
    return;
  // Each name is looked up once, not once per face.
  std::vector<int32_t> indexOfName(MaterialNames.size());
  for (size_t i = 0; i < MaterialNames.size(); ++i)
    indexOfName[i] = materials->IndexOf(MaterialNames[i]);
  for (TOBJGroup& group : Groups)
    for (TOBJFace& face : group.Faces) {
      if (onlyUnbound && face.MaterialIndex != -1)
        continue;
      face.MaterialIndex =
          face.MaterialNameId >= 0 ? indexOfName[static_cast<size_t>(face.MaterialNameId)] : -1;
    }
}

std::string_view TOBJFile::FaceMaterialName(const TOBJFace& face) const {
  if (face.MaterialNameId < 0 || face.MaterialNameId >= static_cast<int32_t>(MaterialNames.size()))
    return std::string_view();
  return MaterialNames[static_cast<size_t>(face.MaterialNameId)];
}

int64_t TOBJFile::TotalFaceCount() const {
  int64_t total = 0;
  for (const TOBJGroup& group : Groups)
    total += static_cast<int64_t>(group.Faces.size());
  return total;
}

void TOBJFile::Reserve(size_t vertices, size_t texCoords, size_t normals, size_t corners) {
  Vertices.reserve(Vertices.size() + vertices);
  TexCoords.reserve(TexCoords.size() + texCoords);
  Normals.reserve(Normals.size() + normals);
  Corners.reserve(Corners.size() + corners);
}

void TOBJFile::GetVertex(int32_t index, TVec3& v) const {
  if (index >= 0 && index < VertexCount())
    v = Vertices[static_cast<size_t>(index)];
  else
    v = Vec3(0.0f, 0.0f, 0.0f);
}

void TOBJFile::SetVertex(int32_t index, const TVec3& v) {
  if (index >= 0 && index < VertexCount())
    Vertices[static_cast<size_t>(index)] = v;
}

} // namespace quarvel
