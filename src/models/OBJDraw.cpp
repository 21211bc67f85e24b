// Drawing a loaded model through one GL display list per group.
#include "gl/GLView.h"
#include "models/OBJFile.h"

#include <GL/gl.h>

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

TOBJFile::~TOBJFile() {
  for (TOBJGroup& group : Groups)
    if (group.DisplayList != 0)
      glDeleteLists(group.DisplayList, 1);
}

void TOBJFile::Draw() {
  for (int32_t i = 0; i < GroupCount(); ++i)
    DrawGroup(i);
  if (!Groups.empty())
    RebuildLists = false;
}

void TOBJFile::DrawGroup(int32_t index) {
  if (index < 0 || index >= GroupCount())
    return;
  TOBJGroup& group = Groups[static_cast<size_t>(index)];
  if (group.Faces.empty() || group.FaceCount <= 0)
    return;
  if (RebuildLists && group.DisplayList != 0) {
    glDeleteLists(group.DisplayList, 1);
    group.DisplayList = 0;
  }
  if (group.DisplayList == 0) {
    group.DisplayList = glGenLists(1);
    glNewList(group.DisplayList, GL_COMPILE);
    DrawGroupFaces(index);
    glEndList();
    ++ListsCompiled;
  }
  glCallList(group.DisplayList);
}

void TOBJFile::DrawGroupFaces(int32_t index) {
  if (index < 0 || index >= GroupCount())
    return;
  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, 0);
  ResetMaterial();
  glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
  for (const TOBJFace& face : Groups[static_cast<size_t>(index)].Faces)
    DrawFace(face);
  ResetMaterial();
  glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
}

void TOBJFile::DrawFace(const TOBJFace& face) {
  if (face.CornerCount < 3)
    return;
  TOBJMaterialFile* materials = ActiveMaterials();
  // The material is read in place rather than copied (its strings are not needed);
  // an index the library does not hold draws with a fresh material's values.
  static const TOBJMaterial FreshMaterial;
  const TOBJMaterial* applied = nullptr;
  if (materials != nullptr && face.MaterialIndex != -1) {
    applied = (face.MaterialIndex >= 0 && face.MaterialIndex < materials->Count())
                  ? &materials->Materials[static_cast<size_t>(face.MaterialIndex)]
                  : &FreshMaterial;
    const TOBJMaterial& material = *applied;
    const GLfloat diffuse[4] = {material.Kd.X, material.Kd.Y, material.Kd.Z, 1.0f};
    const GLfloat ambient[4] = {material.Ka.X, material.Ka.Y, material.Ka.Z, 1.0f};
    glMaterialfv(GL_FRONT, GL_DIFFUSE, diffuse);
    glMaterialfv(GL_FRONT, GL_AMBIENT, ForceHalfAmbient ? HalfAmbient : ambient);
    if (material.Texture != 0)
      glBindTexture(GL_TEXTURE_2D, material.Texture);
  }
  glBegin(face.CornerCount == 3 ? GL_TRIANGLES : GL_POLYGON);
  const auto texCount = static_cast<int64_t>(TexCoords.size());
  const auto normalCount = static_cast<int64_t>(Normals.size());
  const auto vertexCount = static_cast<int64_t>(Vertices.size());
  const TOBJFaceVertex* corners = FaceCorners(face);
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
    if (applied->Texture != 0)
      glBindTexture(GL_TEXTURE_2D, GLView ? GLView->WhiteTexture() : 0);
  }
}

} // namespace quarvel
