#include "models/Scene.h"

#include "common/Error.h"
#include "common/Text.h"
#include "models/OBJFile.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace quarvel {

TMat4 operator*(const TMat4& a, const TMat4& b) {
  TMat4 r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      double sum = 0;
      for (int k = 0; k < 4; ++k)
        sum += a.M[i][k] * b.M[k][j];
      r.M[i][j] = sum;
    }
  return r;
}

TMat4 TranslationMatrix(double x, double y, double z) {
  TMat4 m;
  m.M[0][3] = x;
  m.M[1][3] = y;
  m.M[2][3] = z;
  return m;
}

TMat4 ScaleMatrix(double x, double y, double z) {
  TMat4 m;
  m.M[0][0] = x;
  m.M[1][1] = y;
  m.M[2][2] = z;
  return m;
}

TMat4 RotationMatrix(const TQuat& q) {
  const double n = std::sqrt(q.W * q.W + q.X * q.X + q.Y * q.Y + q.Z * q.Z);
  TMat4 m;
  if (!(n > 0))
    return m;
  const double w = q.W / n, x = q.X / n, y = q.Y / n, z = q.Z / n;
  m.M[0][0] = 1 - 2 * (y * y + z * z);
  m.M[0][1] = 2 * (x * y - z * w);
  m.M[0][2] = 2 * (x * z + y * w);
  m.M[1][0] = 2 * (x * y + z * w);
  m.M[1][1] = 1 - 2 * (x * x + z * z);
  m.M[1][2] = 2 * (y * z - x * w);
  m.M[2][0] = 2 * (x * z - y * w);
  m.M[2][1] = 2 * (y * z + x * w);
  m.M[2][2] = 1 - 2 * (x * x + y * y);
  return m;
}

TMat4 ComposeTRS(const TVec3d& t, const TQuat& r, const TVec3d& s) {
  return TranslationMatrix(t.X, t.Y, t.Z) * RotationMatrix(r) * ScaleMatrix(s.X, s.Y, s.Z);
}

TVec3d Transform(const TMat4& m, const TVec3d& p) {
  TVec3d r;
  r.X = m.M[0][0] * p.X + m.M[0][1] * p.Y + m.M[0][2] * p.Z + m.M[0][3];
  r.Y = m.M[1][0] * p.X + m.M[1][1] * p.Y + m.M[1][2] * p.Z + m.M[1][3];
  r.Z = m.M[2][0] * p.X + m.M[2][1] * p.Y + m.M[2][2] * p.Z + m.M[2][3];
  return r;
}

TQuat Slerp(const TQuat& a, TQuat b, double f) {
  double dot = a.W * b.W + a.X * b.X + a.Y * b.Y + a.Z * b.Z;
  // q and -q are the same rotation; the pair with a positive dot product is the short way.
  if (dot < 0) {
    b = TQuat{-b.W, -b.X, -b.Y, -b.Z};
    dot = -dot;
  }
  double ka = 1 - f, kb = f;
  // Nearly equal rotations: the linear blend is exact enough and avoids sin(0) / sin(0).
  if (dot < 0.9999) {
    const double angle = std::acos(std::min(1.0, dot));
    const double s = std::sin(angle);
    ka = std::sin((1 - f) * angle) / s;
    kb = std::sin(f * angle) / s;
  }
  TQuat r{ka * a.W + kb * b.W, ka * a.X + kb * b.X, ka * a.Y + kb * b.Y, ka * a.Z + kb * b.Z};
  const double n = std::sqrt(r.W * r.W + r.X * r.X + r.Y * r.Y + r.Z * r.Z);
  if (n > 0)
    r = TQuat{r.W / n, r.X / n, r.Y / n, r.Z / n};
  return r;
}

TSceneInfluences LimitInfluences(std::vector<std::pair<int32_t, float>> weights) {
  weights.erase(std::remove_if(weights.begin(), weights.end(),
                               [](const std::pair<int32_t, float>& w) { return !(w.second > 0); }),
                weights.end());
  std::stable_sort(weights.begin(), weights.end(),
                   [](const std::pair<int32_t, float>& a, const std::pair<int32_t, float>& b) {
                     if (a.second != b.second)
                       return a.second > b.second;
                     return a.first < b.first;
                   });
  TSceneInfluences out;
  const size_t kept = std::min<size_t>(4, weights.size());
  double sum = 0;
  for (size_t i = 0; i < kept; ++i)
    sum += weights[i].second;
  if (!(sum > 0) || !std::isfinite(sum))
    return out;
  for (size_t i = 0; i < kept; ++i) {
    out.Bone[i] = weights[i].first;
    out.Weight[i] = static_cast<float>(weights[i].second / sum);
  }
  return out;
}

int32_t FindClip(const TScene& scene, const std::string& text) {
  if (text.size() > 1 && text[0] == '#') {
    bool digits = text.size() < 10;
    for (size_t i = 1; i < text.size(); ++i)
      digits = digits && text[i] >= '0' && text[i] <= '9';
    if (digits) {
      const long n = std::stol(text.substr(1));
      if (n < static_cast<long>(scene.Clips.size()))
        return static_cast<int32_t>(n);
    }
  }
  for (size_t i = 0; i < scene.Clips.size(); ++i)
    if (scene.Clips[i].Name == text)
      return static_cast<int32_t>(i);
  std::string list;
  const size_t shown = std::min<size_t>(scene.Clips.size(), 20);
  for (size_t i = 0; i < shown; ++i) {
    if (!list.empty())
      list += ", ";
    const std::string& name = scene.Clips[i].Name;
    list += "#" + std::to_string(i) + (name.empty() ? std::string() : " " + Quoted(name, 60));
  }
  if (scene.Clips.size() > shown)
    list += ", ... (" + std::to_string(scene.Clips.size()) + " in all)";
  throw Error(
      Printable(scene.FileName, 200) + ": no clip " + Quoted(text, 60) + "; " +
      (scene.Clips.empty() ? std::string("the file has no clips") : "the file has " + list));
}

namespace {

// The segment of a sorted key list around t: indices a, b and the fraction between.
template <typename Key>
void Bracket(const std::vector<Key>& keys, double t, size_t& a, size_t& b, double& f) {
  f = 0;
  if (keys.size() == 1 || !(t > keys.front().Time)) {
    a = b = 0;
    return;
  }
  if (!(t < keys.back().Time)) {
    a = b = keys.size() - 1;
    return;
  }
  const auto after = std::upper_bound(keys.begin(), keys.end(), t,
                                      [](double v, const Key& k) { return v < k.Time; });
  b = static_cast<size_t>(after - keys.begin());
  a = b - 1;
  const double span = keys[b].Time - keys[a].Time;
  f = span > 0 ? (t - keys[a].Time) / span : 0;
}

TVec3d SampleVector(const std::vector<TSceneVectorKey>& keys, double t, bool step) {
  size_t a = 0, b = 0;
  double f = 0;
  Bracket(keys, t, a, b, f);
  if (step || a == b)
    return keys[a].Value;
  const TVec3d& p = keys[a].Value;
  const TVec3d& q = keys[b].Value;
  return TVec3d{p.X + (q.X - p.X) * f, p.Y + (q.Y - p.Y) * f, p.Z + (q.Z - p.Z) * f};
}

TQuat SampleRotation(const std::vector<TSceneRotationKey>& keys, double t, bool step) {
  size_t a = 0, b = 0;
  double f = 0;
  Bracket(keys, t, a, b, f);
  if (step || a == b)
    return keys[a].Value;
  return Slerp(keys[a].Value, keys[b].Value, f);
}

// The linear part of m inverted and transposed: what normals go through.
TMat4 NormalMatrix(const TMat4& m) {
  const auto& a = m.M;
  const double c00 = a[1][1] * a[2][2] - a[1][2] * a[2][1];
  const double c01 = a[1][2] * a[2][0] - a[1][0] * a[2][2];
  const double c02 = a[1][0] * a[2][1] - a[1][1] * a[2][0];
  const double c10 = a[0][2] * a[2][1] - a[0][1] * a[2][2];
  const double c11 = a[0][0] * a[2][2] - a[0][2] * a[2][0];
  const double c12 = a[0][1] * a[2][0] - a[0][0] * a[2][1];
  const double c20 = a[0][1] * a[1][2] - a[0][2] * a[1][1];
  const double c21 = a[0][2] * a[1][0] - a[0][0] * a[1][2];
  const double c22 = a[0][0] * a[1][1] - a[0][1] * a[1][0];
  // The cofactor matrix is the inverse transposed times the determinant; normals are
  // normalised afterwards, so only the determinant's sign matters.
  const double det = a[0][0] * c00 + a[0][1] * c01 + a[0][2] * c02;
  const double s = det < 0 ? -1.0 : 1.0;
  TMat4 n;
  n.M[0][0] = s * c00;
  n.M[0][1] = s * c01;
  n.M[0][2] = s * c02;
  n.M[1][0] = s * c10;
  n.M[1][1] = s * c11;
  n.M[1][2] = s * c12;
  n.M[2][0] = s * c20;
  n.M[2][1] = s * c21;
  n.M[2][2] = s * c22;
  return n;
}

TVec3d Linear(const TMat4& m, const TVec3d& v) {
  return TVec3d{m.M[0][0] * v.X + m.M[0][1] * v.Y + m.M[0][2] * v.Z,
                m.M[1][0] * v.X + m.M[1][1] * v.Y + m.M[1][2] * v.Z,
                m.M[2][0] * v.X + m.M[2][1] * v.Y + m.M[2][2] * v.Z};
}

TVec3 ToFloat(const TVec3d& v) {
  return Vec3(static_cast<float>(v.X), static_cast<float>(v.Y), static_cast<float>(v.Z));
}

TVec3 UnitFloat(const TVec3d& v) {
  const double n = std::sqrt(v.X * v.X + v.Y * v.Y + v.Z * v.Z);
  if (!(n > 0))
    return Vec3(0, 0, 0);
  return ToFloat(TVec3d{v.X / n, v.Y / n, v.Z / n});
}

TVec3d ToDouble(const TVec3& v) {
  return TVec3d{v.X, v.Y, v.Z};
}

void Accumulate(TMat4& sum, const TMat4& m, double w) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 4; ++j)
      sum.M[i][j] += w * m.M[i][j];
}

} // namespace

std::vector<TMat4> SampleLocals(const TScene& scene, int32_t clip, double seconds) {
  std::vector<TMat4> locals(scene.Nodes.size());
  for (size_t i = 0; i < scene.Nodes.size(); ++i)
    locals[i] = scene.Nodes[i].Local;
  if (clip < 0 || static_cast<size_t>(clip) >= scene.Clips.size())
    return locals;
  for (const TSceneChannel& ch : scene.Clips[static_cast<size_t>(clip)].Channels) {
    if (ch.Node < 0 || static_cast<size_t>(ch.Node) >= scene.Nodes.size())
      continue;
    const TSceneNode& node = scene.Nodes[static_cast<size_t>(ch.Node)];
    const TVec3d t =
        ch.Positions.empty() ? node.Translation : SampleVector(ch.Positions, seconds, ch.Step);
    const TQuat r =
        ch.Rotations.empty() ? node.Rotation : SampleRotation(ch.Rotations, seconds, ch.Step);
    const TVec3d s =
        ch.Scalings.empty() ? node.Scaling : SampleVector(ch.Scalings, seconds, ch.Step);
    locals[static_cast<size_t>(ch.Node)] = ComposeTRS(t, r, s);
  }
  return locals;
}

std::vector<TMat4> GlobalTransforms(const TScene& scene, const std::vector<TMat4>& locals) {
  std::vector<TMat4> globals(locals.size());
  for (size_t i = 0; i < locals.size() && i < scene.Nodes.size(); ++i) {
    const int32_t parent = scene.Nodes[i].Parent;
    globals[i] = parent >= 0 && static_cast<size_t>(parent) < i
                     ? globals[static_cast<size_t>(parent)] * locals[i]
                     : scene.Convention * locals[i];
  }
  return globals;
}

TScenePose PoseScene(const TScene& scene, int32_t clip, double seconds) {
  const std::vector<TMat4> globals = GlobalTransforms(scene, SampleLocals(scene, clip, seconds));
  TScenePose pose;
  pose.Positions.resize(scene.Instances.size());
  pose.Normals.resize(scene.Instances.size());
  for (size_t i = 0; i < scene.Instances.size(); ++i) {
    const TSceneInstance& inst = scene.Instances[i];
    const TSceneMesh& mesh = scene.Meshes[static_cast<size_t>(inst.Mesh)];
    const TMat4& nodeMatrix = globals[static_cast<size_t>(inst.Node)];
    const TMat4 nodeNormals = NormalMatrix(nodeMatrix);
    // Each bone's skinning matrix once per mesh, not once per vertex.
    std::vector<TMat4> boneMatrices(mesh.Bones.size());
    for (size_t b = 0; b < mesh.Bones.size(); ++b) {
      const int32_t node = mesh.Bones[b].Node;
      boneMatrices[b] =
          (node >= 0 ? globals[static_cast<size_t>(node)] : nodeMatrix) * mesh.Bones[b].Offset;
    }
    std::vector<TVec3>& positions = pose.Positions[i];
    std::vector<TVec3>& normals = pose.Normals[i];
    positions.resize(mesh.Positions.size());
    if (!mesh.Normals.empty())
      normals.resize(mesh.Positions.size());
    for (size_t v = 0; v < mesh.Positions.size(); ++v) {
      const TMat4* m = &nodeMatrix;
      const TMat4* n = &nodeNormals;
      TMat4 blend, blendNormals;
      if (v < mesh.Influences.size() && mesh.Influences[v].Bone[0] >= 0) {
        for (int r = 0; r < 4; ++r)
          blend.M[r][r] = 0;
        const TSceneInfluences& inf = mesh.Influences[v];
        for (size_t k = 0; k < 4; ++k)
          if (inf.Bone[k] >= 0 && static_cast<size_t>(inf.Bone[k]) < boneMatrices.size())
            Accumulate(blend, boneMatrices[static_cast<size_t>(inf.Bone[k])], inf.Weight[k]);
        blend.M[3][3] = 1;
        blendNormals = NormalMatrix(blend);
        m = &blend;
        n = &blendNormals;
      }
      positions[v] = ToFloat(Transform(*m, ToDouble(mesh.Positions[v])));
      if (!mesh.Normals.empty())
        normals[v] = UnitFloat(Linear(*n, ToDouble(mesh.Normals[v])));
    }
  }
  return pose;
}

std::unique_ptr<TOBJFile> MakeSceneModel(const TScene& scene, const TScenePose& pose,
                                         const std::string& fileName) {
  auto model = std::make_unique<TOBJFile>(fileName);
  auto library = std::make_unique<TOBJMaterialFile>();
  for (const TSceneMaterial& m : scene.Materials) {
    library->Materials.push_back(m.Colours);
    // The picture was read with the scene (through its file gate); a material whose
    // texture could not be used keeps its colour rather than being looked up again.
    library->Materials.back().Texture = m.Texture;
    if (m.Texture == nullptr)
      library->Materials.back().MapKd.clear();
  }
  std::unordered_map<std::string, int32_t> nameIds;
  for (size_t i = 0; i < scene.Instances.size() && i < pose.Positions.size(); ++i) {
    const TSceneMesh& mesh = scene.Meshes[static_cast<size_t>(scene.Instances[i].Mesh)];
    const std::vector<TVec3>& positions = pose.Positions[i];
    const std::vector<TVec3>& normals = pose.Normals[i];
    const auto vertexBase = static_cast<int32_t>(model->Vertices.size());
    const auto texBase = static_cast<int32_t>(model->TexCoords.size());
    const auto normalBase = static_cast<int32_t>(model->Normals.size());
    model->Vertices.insert(model->Vertices.end(), positions.begin(), positions.end());
    model->Normals.insert(model->Normals.end(), normals.begin(), normals.end());
    model->TexCoords.insert(model->TexCoords.end(), mesh.TexCoords.begin(), mesh.TexCoords.end());

    int32_t materialId = -1;
    if (mesh.Material >= 0 && static_cast<size_t>(mesh.Material) < scene.Materials.size()) {
      const std::string& name = scene.Materials[static_cast<size_t>(mesh.Material)].Colours.Name;
      auto found = nameIds.find(name);
      if (found == nameIds.end()) {
        found = nameIds.emplace(name, static_cast<int32_t>(model->MaterialNames.size())).first;
        model->MaterialNames.push_back(name);
      }
      materialId = found->second;
    }
    const std::string& nodeName = scene.Nodes[static_cast<size_t>(scene.Instances[i].Node)].Name;
    std::string groupName = nodeName.empty() ? mesh.Name : nodeName;
    for (char& c : groupName)
      c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    model->AddGroup(groupName);
    size_t at = 0;
    for (uint32_t size : mesh.FaceSizes) {
      if (at + size > mesh.FaceIndices.size())
        break;
      if (model->Groups.back().FaceCount >= TOBJFile::MaxGroupFaces) {
        const TOBJGroup& full = model->Groups.back();
        model->AddGroup(full.Name + std::to_string(full.FaceCount / TOBJFile::MaxGroupFaces));
      }
      TOBJGroup& group = model->Groups.back();
      group.FaceCount = std::max(group.FaceCount, 0) + 1;
      TOBJFace face;
      face.FirstCorner = static_cast<int32_t>(model->Corners.size());
      face.CornerCount = static_cast<int32_t>(size);
      face.MaterialNameId = materialId;
      for (uint32_t k = 0; k < size; ++k) {
        const uint32_t index = mesh.FaceIndices[at + k];
        TOBJFaceVertex corner;
        corner.VertexIndex = vertexBase + static_cast<int32_t>(index) + 1;
        if (!mesh.TexCoords.empty())
          corner.TexCoordIndex = texBase + static_cast<int32_t>(index) + 1;
        if (!normals.empty())
          corner.NormalIndex = normalBase + static_cast<int32_t>(index) + 1;
        model->Corners.push_back(corner);
      }
      group.Faces.push_back(face);
      at += size;
    }
  }
  model->SetMaterialFile(std::move(library));
  model->FinishLoading();
  return model;
}

} // namespace quarvel
