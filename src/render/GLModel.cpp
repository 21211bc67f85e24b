// Drawing a loaded model through one GL display list per group.
#include "render/GLModel.h"

#include "common/FileLookup.h"
#include "common/Messages.h"
#include "gl/GLView.h"
#include "gl/Texture.h"
#include "models/TextureFiles.h"

#include <cstring>

namespace quarvel {

namespace {

const GLfloat DefaultDiffuse[4] = {1.0f, 1.0f, 1.0f, 1.0f};
const GLfloat DefaultAmbient[4] = {1.0f, 1.0f, 1.0f, 1.0f};
const GLfloat HalfAmbient[4] = {0.5f, 0.5f, 0.5f, 1.0f};

void ResetMaterial() {
  glMaterialfv(GL_FRONT, GL_DIFFUSE, DefaultDiffuse);
  glMaterialfv(GL_FRONT, GL_AMBIENT, DefaultAmbient);
}

} // namespace

TGLModel::TGLModel(const TOBJFile& model, std::vector<std::string>* warnings) : Model(model) {
  TTextureLimits limits;
  limits.MaxDimension = MaxTextureSize();
  TTextureSet set(limits);
  std::vector<std::string> found;
  const TModelTextures textures = LoadModelTextures(model, set, found);
  if (warnings != nullptr)
    warnings->insert(warnings->end(), found.begin(), found.end());
  else
    for (const std::string& warning : found)
      ShowMessage("Texture Warning", warning);
  MakeTextures(textures);
}

TGLModel::TGLModel(const TOBJFile& model, const TModelTextures& textures) : Model(model) {
  MakeTextures(textures);
}

void TGLModel::MakeTextures(const TModelTextures& textures) {
  if (Model.MaterialFile == nullptr)
    return;
  Textures_.assign(Model.MaterialFile->Materials.size(), 0);
  std::vector<GLuint> made(textures.Images.size(), 0);
  try {
    for (size_t k = 0; k < made.size(); ++k)
      made[k] = textures.Images[k] ? BitmapToTexture(*textures.Images[k]) : 0;
  } catch (...) {
    glDeleteTextures(static_cast<GLsizei>(made.size()), made.data());
    throw;
  }
  // Materials that name one file share its texture; the model deletes each name once.
  for (size_t i = 0; i < Textures_.size() && i < textures.ImageOfMaterial.size(); ++i) {
    const int32_t k = textures.ImageOfMaterial[i];
    if (k >= 0 && static_cast<size_t>(k) < made.size())
      Textures_[i] = made[static_cast<size_t>(k)];
  }
  Made_ = std::move(made);
}

TGLModel::~TGLModel() {
  for (GLuint list : DisplayLists_)
    if (list != 0)
      glDeleteLists(list, 1);
  if (!Made_.empty())
    glDeleteTextures(static_cast<GLsizei>(Made_.size()), Made_.data());
}

GLuint TGLModel::MaterialTexture(int32_t index) const {
  if (Model.ActiveMaterials() != Model.MaterialFile.get() || index < 0 ||
      static_cast<size_t>(index) >= Textures_.size())
    return 0;
  return Textures_[static_cast<size_t>(index)];
}

void TGLModel::Draw(const TRenderInputs& inputs) {
  for (int32_t i = 0; i < Model.GroupCount(); ++i)
    DrawGroup(i, inputs);
  if (!Model.Groups.empty())
    RebuildLists = false;
}

void TGLModel::DrawGroup(int32_t index, const TRenderInputs& inputs) {
  if (index < 0 || index >= Model.GroupCount())
    return;
  const TOBJGroup& group = Model.Groups[static_cast<size_t>(index)];
  if (group.Faces.empty() || group.FaceCount <= 0)
    return;
  DisplayLists_.resize(Model.Groups.size(), 0);
  GLuint& list = DisplayLists_[static_cast<size_t>(index)];
  if (RebuildLists && list != 0) {
    glDeleteLists(list, 1);
    list = 0;
  }
  if (list == 0) {
    list = glGenLists(1);
    glNewList(list, GL_COMPILE);
    DrawGroupFaces(index, inputs);
    glEndList();
    ++ListsCompiled;
  }
  glCallList(list);
}

void TGLModel::DrawGroupFaces(int32_t index, const TRenderInputs& inputs) {
  if (index < 0 || index >= Model.GroupCount())
    return;
  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, 0);
  ResetMaterial();
  glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
  // Each face is drawn with the material and texture that setting and resetting them
  // around every face would give (DrawFace), but a value is only sent when it changes:
  // a run of faces in one material becomes one stretch of vertices without state changes
  // between them, which the driver draws in one go instead of face by face.
  const bool faceByFace = FaceByFace || CornersMixed();
  TFaceState state;
  for (const TOBJFace& face : Model.Groups[static_cast<size_t>(index)].Faces) {
    if (faceByFace)
      DrawFace(face, inputs);
    else
      DrawFaceIn(state, face, inputs);
  }
  if (faceByFace) {
    ResetMaterial();
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    return;
  }
  // The state the face-by-face sequence leaves: the default material, and the white
  // texture bound once a textured face was drawn (texture 0 before).
  ResetMaterial();
  if (state.Bound != state.AfterFaces)
    glBindTexture(GL_TEXTURE_2D, state.AfterFaces);
  glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
}

bool TGLModel::CornersMixed() {
  if (Mixed_ < 0) {
    const auto texCount = static_cast<int64_t>(Model.TexCoords.size());
    const auto normalCount = static_cast<int64_t>(Model.Normals.size());
    bool withTex = false, withoutTex = false, withNormal = false, withoutNormal = false;
    for (const TOBJGroup& group : Model.Groups)
      for (const TOBJFace& face : group.Faces) {
        const TOBJFaceVertex* corners = Model.FaceCorners(face);
        for (int32_t k = 0; k < face.CornerCount; ++k) {
          const TOBJFaceVertex& c = corners[k];
          (c.TexCoordIndex >= 1 && c.TexCoordIndex <= texCount ? withTex : withoutTex) = true;
          (c.NormalIndex >= 1 && c.NormalIndex <= normalCount ? withNormal : withoutNormal) = true;
        }
      }
    Mixed_ = (withTex && withoutTex) || (withNormal && withoutNormal) ? 1 : 0;
  }
  return Mixed_ == 1;
}

// The material and texture a face is drawn with, as DrawFace would set them.
const TOBJMaterial* TGLModel::FaceMaterial(const TOBJFace& face, GLuint& texture) const {
  texture = 0;
  const TOBJMaterialFile* materials = Model.ActiveMaterials();
  // An index the library does not hold draws with a fresh material's values.
  static const TOBJMaterial FreshMaterial;
  if (materials == nullptr || face.MaterialIndex == -1)
    return nullptr;
  texture = MaterialTexture(face.MaterialIndex);
  return (face.MaterialIndex >= 0 && face.MaterialIndex < materials->Count())
             ? &materials->Materials[static_cast<size_t>(face.MaterialIndex)]
             : &FreshMaterial;
}

void TGLModel::DrawFaceIn(TFaceState& state, const TOBJFace& face, const TRenderInputs& inputs) {
  if (face.CornerCount < 3)
    return;
  GLuint texture = 0;
  const TOBJMaterial* applied = FaceMaterial(face, texture);
  std::array<GLfloat, 4> diffuse = {DefaultDiffuse[0], DefaultDiffuse[1], DefaultDiffuse[2],
                                    DefaultDiffuse[3]};
  std::array<GLfloat, 4> ambient = {DefaultAmbient[0], DefaultAmbient[1], DefaultAmbient[2],
                                    DefaultAmbient[3]};
  if (applied != nullptr) {
    diffuse = {applied->Kd.X, applied->Kd.Y, applied->Kd.Z, 1.0f};
    ambient =
        inputs.HalfAmbient
            ? std::array<GLfloat, 4>{HalfAmbient[0], HalfAmbient[1], HalfAmbient[2], HalfAmbient[3]}
            : std::array<GLfloat, 4>{applied->Ka.X, applied->Ka.Y, applied->Ka.Z, 1.0f};
  }
  if (std::memcmp(diffuse.data(), state.Diffuse.data(), sizeof diffuse) != 0) {
    glMaterialfv(GL_FRONT, GL_DIFFUSE, diffuse.data());
    state.Diffuse = diffuse;
  }
  if (std::memcmp(ambient.data(), state.Ambient.data(), sizeof ambient) != 0) {
    glMaterialfv(GL_FRONT, GL_AMBIENT, ambient.data());
    state.Ambient = ambient;
  }
  // A face without a texture of its own shows whatever the faces before it left bound.
  const GLuint wanted = texture != 0 ? texture : state.AfterFaces;
  if (wanted != state.Bound) {
    glBindTexture(GL_TEXTURE_2D, wanted);
    state.Bound = wanted;
  }
  DrawCorners(face);
  if (texture != 0)
    state.AfterFaces = GLView ? GLView->WhiteTexture() : 0;
}

void TGLModel::DrawCorners(const TOBJFace& face) const {
  glBegin(face.CornerCount == 3 ? GL_TRIANGLES : GL_POLYGON);
  const std::vector<TOBJTexCoord>& TexCoords = Model.TexCoords;
  const std::vector<TVec3>& Normals = Model.Normals;
  const std::vector<TVec3>& Vertices = Model.Vertices;
  const auto texCount = static_cast<int64_t>(TexCoords.size());
  const auto normalCount = static_cast<int64_t>(Normals.size());
  const auto vertexCount = static_cast<int64_t>(Vertices.size());
  const TOBJFaceVertex* corners = Model.FaceCorners(face);
  for (int32_t k = 0; k < face.CornerCount; ++k) {
    const TOBJFaceVertex& c = corners[k];
    if (c.TexCoordIndex >= 1 && c.TexCoordIndex <= texCount)
      glTexCoord2fv(&TexCoords[static_cast<size_t>(c.TexCoordIndex - 1)].U);
    if (c.NormalIndex >= 1 && c.NormalIndex <= normalCount)
      glNormal3fv(&Normals[static_cast<size_t>(c.NormalIndex - 1)].X);
    if (c.VertexIndex >= 1 && c.VertexIndex <= vertexCount)
      glVertex3fv(&Vertices[static_cast<size_t>(c.VertexIndex - 1)].X);
  }
  glEnd();
}

void TGLModel::DrawFace(const TOBJFace& face, const TRenderInputs& inputs) {
  if (face.CornerCount < 3)
    return;
  GLuint texture = 0;
  const TOBJMaterial* applied = FaceMaterial(face, texture);
  if (applied != nullptr) {
    const TOBJMaterial& material = *applied;
    const GLfloat diffuse[4] = {material.Kd.X, material.Kd.Y, material.Kd.Z, 1.0f};
    const GLfloat ambient[4] = {material.Ka.X, material.Ka.Y, material.Ka.Z, 1.0f};
    glMaterialfv(GL_FRONT, GL_DIFFUSE, diffuse);
    glMaterialfv(GL_FRONT, GL_AMBIENT, inputs.HalfAmbient ? HalfAmbient : ambient);
    if (texture != 0)
      glBindTexture(GL_TEXTURE_2D, texture);
  }
  DrawCorners(face);
  if (applied != nullptr) {
    ResetMaterial();
    if (texture != 0)
      glBindTexture(GL_TEXTURE_2D, GLView ? GLView->WhiteTexture() : 0);
  }
}

} // namespace quarvel
