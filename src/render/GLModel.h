// The GL side of a loaded model: its textures and one display list per group.
//
// A TGLModel draws a TOBJFile (models/OBJFile.h) that it does not own and that must
// outlive it. It makes the textures of the model's own materials when it is made, and
// compiles each group into a display list at its first draw, replaying the list from
// then on. The lists bake in the model's vertices and material binding as they are at
// that moment and the inputs' HalfAmbient switch: set RebuildLists after changing any
// of them, and the next Draw recompiles.
//
// Needs the GL view's context current (gl/GLView.h) to be made, to draw and to be
// destroyed.
#pragma once

#include "models/OBJFile.h"
#include "models/TextureFiles.h"
#include "render/RenderInputs.h"

#include <GL/gl.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace quarvel {

class TGLModel {
public:
  // Uploads the pictures `textures` holds (LoadModelTextures of models/TextureFiles.h: the
  // job decodes every model's textures through one set), one texture per picture, shared
  // by the materials that name it.
  TGLModel(const TOBJFile& model, const TModelTextures& textures);
  // The same with the model's textures decoded here through a set of its own (default
  // limits, the GL's largest texture size). Their warnings (a texture missing, refused or
  // undecodable: the material is drawn untextured) go to `warnings` when given, else to
  // the message sink under "Texture Warning".
  explicit TGLModel(const TOBJFile& model, std::vector<std::string>* warnings = nullptr);
  // Deletes the display lists and textures made.
  ~TGLModel();
  TGLModel(const TGLModel&) = delete;
  TGLModel& operator=(const TGLModel&) = delete;

  // Caller's matrices, lights and program set.
  void Draw(const TRenderInputs& inputs);
  void DrawGroup(int32_t index, const TRenderInputs& inputs);
  // The faces of a group drawn immediately (what a display list holds): each face as
  // DrawFace draws it, with the material and texture sent only where they change.
  void DrawGroupFaces(int32_t index, const TRenderInputs& inputs);
  // One face on its own: its material and texture set, its corners, both reset.
  void DrawFace(const TOBJFace& face, const TRenderInputs& inputs);

  // The texture made for material `index` of the model's active library; 0 when the
  // active library is not the model's own (the job's side pass) or the material has none.
  GLuint MaterialTexture(int32_t index) const;

  const TOBJFile& Model;
  bool RebuildLists = false;
  // Compile the lists face by face as first written (DrawFace for every face: material
  // and texture set and reset around each) rather than sending only the changes; the
  // same pictures with more work. Set RebuildLists after changing it.
  bool FaceByFace = false;
  // True when some corners of the model have a texture coordinate (or normal) and others
  // have none. Such corners take the current one, and the driver's display lists give
  // them another one when the faces around them are not separated by state changes
  // (measured on Mesa); such a model is always compiled face by face.
  bool CornersMixed();

  // Display lists compiled so far (statistics; tests check that lists are reused).
  int64_t ListsCompiled = 0;

private:
  void MakeTextures(const TModelTextures& textures);
  // What DrawGroupFaces has sent so far in a group: the material colours, the texture
  // bound, and the texture a face without its own shows (0, or white after a textured
  // face, as resetting after each textured face leaves it).
  struct TFaceState {
    std::array<GLfloat, 4> Diffuse = {1.0f, 1.0f, 1.0f, 1.0f};
    std::array<GLfloat, 4> Ambient = {1.0f, 1.0f, 1.0f, 1.0f};
    GLuint Bound = 0;
    GLuint AfterFaces = 0;
  };
  const TOBJMaterial* FaceMaterial(const TOBJFace& face, GLuint& texture) const;
  void DrawFaceIn(TFaceState& state, const TOBJFace& face, const TRenderInputs& inputs);
  void DrawCorners(const TOBJFace& face) const;

  int Mixed_ = -1;                   // CornersMixed: -1 not known yet
  std::vector<GLuint> Textures_;     // per material of Model.MaterialFile; 0 = none
  std::vector<GLuint> Made_;         // every texture made, each once
  std::vector<GLuint> DisplayLists_; // per group; 0 = not compiled
};

} // namespace quarvel
