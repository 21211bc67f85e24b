// Drawing a loaded model through one GL display list per group.
#include "render/GLModel.h"

#include "common/FileLookup.h"
#include "gl/GLView.h"
#include "gl/Texture.h"
#include "models/TextureFiles.h"

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
  if (Model.MaterialFile == nullptr)
    return;
  const std::vector<TOBJMaterial>& materials = Model.MaterialFile->Materials;
  Textures_.assign(materials.size(), 0);
  try {
    for (size_t i = 0; i < materials.size(); ++i) {
      if (materials[i].Texture != nullptr) {
        Textures_[i] = MakeTexture(*materials[i].Texture, warnings);
        continue;
      }
      std::string name = materials[i].MapKd;
      if (name.empty() || !FindTextureFile(Model.TextureDir, name))
        continue;
      const TDecodedImage image =
          DecodeTextureFile(JoinPath(Model.TextureDir, name), MaxTextureSize());
      Textures_[i] = MakeTexture(image, warnings);
    }
  } catch (...) {
    glDeleteTextures(static_cast<GLsizei>(Textures_.size()), Textures_.data());
    throw;
  }
}

TGLModel::~TGLModel() {
  for (GLuint list : DisplayLists_)
    if (list != 0)
      glDeleteLists(list, 1);
  if (!Textures_.empty())
    glDeleteTextures(static_cast<GLsizei>(Textures_.size()), Textures_.data());
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
  for (const TOBJFace& face : Model.Groups[static_cast<size_t>(index)].Faces)
    DrawFace(face, inputs);
  ResetMaterial();
  glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
}

void TGLModel::DrawFace(const TOBJFace& face, const TRenderInputs& inputs) {
  if (face.CornerCount < 3)
    return;
  const TOBJMaterialFile* materials = Model.ActiveMaterials();
  // The material is read in place rather than copied (its strings are not needed);
  // an index the library does not hold draws with a fresh material's values.
  static const TOBJMaterial FreshMaterial;
  const TOBJMaterial* applied = nullptr;
  GLuint texture = 0;
  if (materials != nullptr && face.MaterialIndex != -1) {
    applied = (face.MaterialIndex >= 0 && face.MaterialIndex < materials->Count())
                  ? &materials->Materials[static_cast<size_t>(face.MaterialIndex)]
                  : &FreshMaterial;
    const TOBJMaterial& material = *applied;
    const GLfloat diffuse[4] = {material.Kd.X, material.Kd.Y, material.Kd.Z, 1.0f};
    const GLfloat ambient[4] = {material.Ka.X, material.Ka.Y, material.Ka.Z, 1.0f};
    glMaterialfv(GL_FRONT, GL_DIFFUSE, diffuse);
    glMaterialfv(GL_FRONT, GL_AMBIENT, inputs.HalfAmbient ? HalfAmbient : ambient);
    texture = MaterialTexture(face.MaterialIndex);
    if (texture != 0)
      glBindTexture(GL_TEXTURE_2D, texture);
  }
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
  if (applied != nullptr) {
    ResetMaterial();
    if (texture != 0)
      glBindTexture(GL_TEXTURE_2D, GLView ? GLView->WhiteTexture() : 0);
  }
}

} // namespace quarvel
