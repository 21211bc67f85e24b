// A scene read from a scene file (glTF 2.0, FBX, COLLADA, ...; models/SceneFile.h) as
// plain data, and the pose of its meshes at a time of one of its animation clips.
//
// The scene keeps what posing needs: the node tree (parents before their children), the
// meshes with their bone weights, which node shows which mesh, the materials, and the
// clips with their keys in seconds. Posing is a pure function of this data:
//
//   1. Every node's local transform: the file's, or, for a node the clip animates, the
//      transform made of its sampled translation, rotation and scale (a key kind the
//      channel lacks keeps the file's value). Sampling at t: before the first key the
//      first value, after the last key the last value, between keys a and b linear
//      interpolation for translation and scale and spherical interpolation for rotation,
//      taking the short way (the later quaternion is negated when the two point into
//      opposite half-spaces); a step channel holds key a's value until key b.
//   2. Global transforms down the tree; the root's is prefixed by the scene's
//      Convention (the file's units and axes turned into metres with Y up).
//   3. A mesh without bones is moved by its node's global transform. A skinned mesh is
//      skinned (linear blend): position = sum of w * Global(bone node) * Offset(bone) *
//      rest position over its (at most four, renormalised) influences; its node's own
//      transform does not apply, as in glTF. A vertex without influence follows the node.
//      Normals go through the same matrices' linear parts (inverse transposed) and are
//      normalised.
//
// Morph targets are not read. No OpenGL and no Assimp here.
#pragma once

#include "image/Image.h"
#include "maths/Maths3D.h"
#include "models/MaterialFile.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quarvel {

class TOBJFile;

// A 4 x 4 matrix, M[row][column], acting on column vectors (translation in column 3).
struct TMat4 {
  double M[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
};
TMat4 operator*(const TMat4& a, const TMat4& b);
TMat4 TranslationMatrix(double x, double y, double z);
TMat4 ScaleMatrix(double x, double y, double z);

struct TVec3d {
  double X = 0, Y = 0, Z = 0;
};
// W + Xi + Yj + Zk; need not be normalised (RotationMatrix normalises).
struct TQuat {
  double W = 1, X = 0, Y = 0, Z = 0;
};
TMat4 RotationMatrix(const TQuat& q);
// Translation * Rotation * Scale.
TMat4 ComposeTRS(const TVec3d& t, const TQuat& r, const TVec3d& s);
TVec3d Transform(const TMat4& m, const TVec3d& p);

// Spherical interpolation from a to b (0 <= f <= 1) the short way; normalised result.
TQuat Slerp(const TQuat& a, TQuat b, double f);

struct TSceneVectorKey {
  double Time = 0; // seconds
  TVec3d Value;
};
struct TSceneRotationKey {
  double Time = 0; // seconds
  TQuat Value;
};

// The keys of one node in one clip, each list sorted by time (may be empty).
struct TSceneChannel {
  int32_t Node = -1;
  std::vector<TSceneVectorKey> Positions;
  std::vector<TSceneRotationKey> Rotations;
  std::vector<TSceneVectorKey> Scalings;
  bool Step = false; // values hold until the next key
};

struct TSceneClip {
  std::string Name;    // as in the file; may be empty
  double Duration = 0; // seconds
  std::vector<TSceneChannel> Channels;
};

struct TSceneNode {
  std::string Name;
  int32_t Parent = -1; // always lower than the node's own index
  TMat4 Local;
  // The local transform taken apart, for channels that animate only some of it.
  TVec3d Translation;
  TQuat Rotation;
  TVec3d Scaling{1, 1, 1};
};

struct TSceneBone {
  std::string Name;
  int32_t Node = -1; // the node that moves the bone; -1 when no node has its name
  TMat4 Offset;      // mesh space at rest -> bone space
};

// Up to four bone influences of a vertex, largest first; Bone -1 marks an empty slot.
struct TSceneInfluences {
  std::array<int32_t, 4> Bone{{-1, -1, -1, -1}};
  std::array<float, 4> Weight{{0, 0, 0, 0}};
};

struct TSceneMesh {
  std::string Name;
  int32_t Material = -1; // index into TScene::Materials
  std::vector<TVec3> Positions;
  std::vector<TVec3> Normals;          // empty, or one per position
  std::vector<TOBJTexCoord> TexCoords; // empty, or one per position (V up, as OBJ)
  std::vector<uint32_t> FaceSizes;     // corners per face (3 after triangulation)
  std::vector<uint32_t> FaceIndices;   // the corners, face after face
  std::vector<TSceneBone> Bones;
  std::vector<TSceneInfluences> Influences; // empty without bones, else one per position
  int32_t MostWeights = 0;                  // most influences one vertex had in the file
};

struct TSceneMaterial {
  TOBJMaterial Colours; // Name lower-cased; MapKd the texture's name as the file gave it
  // The decoded diffuse texture (embedded, or a file beside the scene); null for none.
  std::shared_ptr<const TDecodedImage> Texture;
};

// A mesh shown by a node.
struct TSceneInstance {
  int32_t Mesh = 0;
  int32_t Node = 0;
};

struct TScene {
  std::string FileName; // as the user named it
  std::vector<TSceneNode> Nodes;
  std::vector<TSceneMesh> Meshes;
  std::vector<TSceneInstance> Instances; // node order
  std::vector<TSceneMaterial> Materials;
  std::vector<TSceneClip> Clips;
  TMat4 Convention; // applied above the root
  // Every file the reading read (the scene file, its buffers, textures beside it), as
  // found below the root: what a job using the scene depends on.
  std::vector<std::string> FilesRead;
};

// Keeps the four largest weights of a vertex (ties: lower bone first) and scales them
// to sum 1. `weights` holds (bone, weight) pairs; pairs of weight <= 0 or NaN are
// dropped. No influence at all gives four empty slots.
TSceneInfluences LimitInfluences(std::vector<std::pair<int32_t, float>> weights);

// The clip named `text`, or "#N" for clip N counted from 0. Throws quarvel::Error
// naming the file and listing the clips it has.
int32_t FindClip(const TScene& scene, const std::string& text);

// Local transforms of every node at `seconds` of clip `clip` (-1: the rest pose).
std::vector<TMat4> SampleLocals(const TScene& scene, int32_t clip, double seconds);
// Global transforms (Convention included) from local ones.
std::vector<TMat4> GlobalTransforms(const TScene& scene, const std::vector<TMat4>& locals);

// Posed positions and normals of every instance, in the order of scene.Instances.
struct TScenePose {
  std::vector<std::vector<TVec3>> Positions;
  std::vector<std::vector<TVec3>> Normals;
};
TScenePose PoseScene(const TScene& scene, int32_t clip, double seconds);

// The model data an OBJ would give for the posed scene: one group per instance (named
// after the node, lower-cased; a mesh holds one material), the scene's materials as
// the model's library, texture coordinates, the file's normals (FinishLoading generates
// face normals for faces without). FileName is `fileName`.
std::unique_ptr<TOBJFile> MakeSceneModel(const TScene& scene, const TScenePose& pose,
                                         const std::string& fileName);

} // namespace quarvel
