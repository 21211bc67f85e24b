#include "models/SceneReader.h"

#include "common/Error.h"
#include "common/FileLookup.h"
#include "common/Text.h"
#include "image/PictureKind.h"
#include "models/SceneFile.h"

#include <assimp/material.h>
#include <assimp/metadata.h>
#include <assimp/scene.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>

namespace quarvel {

std::string SceneFolderOf(const std::string& name) {
  const size_t slash = name.find_last_of('/');
  return slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
}

namespace {

// --- Conversions from Assimp's types ---

TMat4 FromAssimp(const aiMatrix4x4& m) {
  TMat4 r;
  const ai_real* row[4] = {&m.a1, &m.b1, &m.c1, &m.d1};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      r.M[i][j] = row[i][j];
  return r;
}

TVec3d FromAssimp(const aiVector3D& v) {
  return TVec3d{v.x, v.y, v.z};
}

TQuat FromAssimp(const aiQuaternion& q) {
  return TQuat{q.w, q.x, q.y, q.z};
}

bool MetaNumber(const aiMetadata* meta, const char* key, double& value) {
  if (meta == nullptr)
    return false;
  for (unsigned i = 0; i < meta->mNumProperties; ++i) {
    if (std::strcmp(meta->mKeys[i].C_Str(), key) != 0 || meta->mValues[i].mData == nullptr)
      continue;
    const aiMetadataEntry& e = meta->mValues[i];
    switch (e.mType) {
    case AI_INT32:
      value = *static_cast<const int32_t*>(e.mData);
      return true;
    case AI_FLOAT:
      value = *static_cast<const float*>(e.mData);
      return true;
    case AI_DOUBLE:
      value = *static_cast<const double*>(e.mData);
      return true;
    default:
      return false;
    }
  }
  return false;
}

bool MetaText(const aiMetadata* meta, const char* key, std::string& value) {
  if (meta == nullptr)
    return false;
  for (unsigned i = 0; i < meta->mNumProperties; ++i)
    if (std::strcmp(meta->mKeys[i].C_Str(), key) == 0 && meta->mValues[i].mType == AI_AISTRING &&
        meta->mValues[i].mData != nullptr) {
      value = static_cast<const aiString*>(meta->mValues[i].mData)->C_Str();
      return true;
    }
  return false;
}

// FBX keeps its unit and axes as settings of the file; Assimp passes them on as metadata
// and leaves the geometry in the file's units and axes.
TMat4 FBXConvention(const aiMetadata* meta) {
  double up = 1, upSign = 1, front = 2, frontSign = 1, coord = 0, coordSign = 1, unit = 1;
  MetaNumber(meta, "UpAxis", up);
  MetaNumber(meta, "UpAxisSign", upSign);
  MetaNumber(meta, "FrontAxis", front);
  MetaNumber(meta, "FrontAxisSign", frontSign);
  MetaNumber(meta, "CoordAxis", coord);
  MetaNumber(meta, "CoordAxisSign", coordSign);
  MetaNumber(meta, "UnitScaleFactor", unit);
  const auto axis = [](double a) { return a >= 0 && a <= 2 ? static_cast<int>(a) : -1; };
  const int x = axis(coord), y = axis(up), z = axis(front);
  TMat4 axes;
  // Only three distinct axes make a basis; anything else keeps the file's axes.
  if (x >= 0 && y >= 0 && z >= 0 && x != y && y != z && x != z) {
    axes = TMat4{};
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j)
        axes.M[i][j] = 0;
    axes.M[0][x] = coordSign < 0 ? -1 : 1;
    axes.M[1][y] = upSign < 0 ? -1 : 1;
    axes.M[2][z] = frontSign < 0 ? -1 : 1;
  }
  if (!(unit > 0) || !std::isfinite(unit))
    unit = 1;
  const double metres = unit / 100.0; // UnitScaleFactor counts centimetres
  return ScaleMatrix(metres, metres, metres) * axes;
}

// Most vertices all posed instances of a scene may have together: a small mesh shown by
// a great many nodes would otherwise multiply into an unbounded model.
constexpr size_t MaxSceneVertices = size_t{1} << 26;
constexpr int MaxSceneTextureSize = 16384;

// Decodes a picture by its first bytes; null with `why` set when it is no PNG, JPEG or BMP.
std::shared_ptr<const TDecodedImage> DecodePicture(const std::string& bytes,
                                                   const std::string& name, std::string& why) {
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  TDecodedImage image;
  switch (PictureKindOf(bytes)) {
  case TPictureKind::PNG:
    image = DecodePNG(data, bytes.size(), name, MaxSceneTextureSize);
    break;
  case TPictureKind::JPEG:
    image = DecodeJPEG(data, bytes.size(), name, MaxSceneTextureSize);
    break;
  case TPictureKind::BMP:
    image = DecodeBMP(data, bytes.size(), name, MaxSceneTextureSize);
    break;
  case TPictureKind::None:
    why = "is not a PNG, JPEG or BMP picture";
    return nullptr;
  }
  return std::make_shared<const TDecodedImage>(std::move(image));
}

class TSceneReader {
public:
  TSceneReader(const std::string& rootDir, const std::string& name,
               std::vector<std::string>& warnings)
      : Root_(rootDir), Name_(NormaliseSeparators(name)), Warnings_(warnings) {}

  std::shared_ptr<TScene> Read(const aiScene& in) {
    auto scene = std::make_shared<TScene>();
    scene->FileName = Name_;
    std::string format;
    MetaText(in.mMetaData, "SourceAsset_Format", format);
    if (format.find("FBX") != std::string::npos)
      scene->Convention = FBXConvention(in.mMetaData);
    ReadMaterials(in, *scene);
    ReadNodes(in, *scene);
    ReadMeshes(in, *scene);
    ReadClips(in, *scene);
    return scene;
  }

private:
  void Warn(const std::string& text) { Warnings_.push_back(Located(Name_, 0, text)); }

  void ReadMaterials(const aiScene& in, TScene& scene) {
    std::unordered_map<std::string, int> seen;
    for (unsigned i = 0; i < in.mNumMaterials; ++i) {
      const aiMaterial* m = in.mMaterials[i];
      TSceneMaterial out;
      aiString name;
      if (m->Get(AI_MATKEY_NAME, name) == AI_SUCCESS)
        out.Colours.Name = ToLowerASCII(name.C_Str());
      if (out.Colours.Name.empty())
        out.Colours.Name = "material " + std::to_string(i);
      // Two materials of one name would bind to the first; the later ones are numbered.
      if (seen[out.Colours.Name]++ > 0)
        out.Colours.Name += " " + std::to_string(i);
      aiColor3D c;
      if (m->Get(AI_MATKEY_COLOR_DIFFUSE, c) == AI_SUCCESS)
        out.Colours.Kd = Vec3(c.r, c.g, c.b);
      if (m->Get(AI_MATKEY_COLOR_AMBIENT, c) == AI_SUCCESS)
        out.Colours.Ka = Vec3(c.r, c.g, c.b);
      if (m->Get(AI_MATKEY_COLOR_SPECULAR, c) == AI_SUCCESS)
        out.Colours.Ks = Vec3(c.r, c.g, c.b);
      float shininess = 0;
      if (m->Get(AI_MATKEY_SHININESS, shininess) == AI_SUCCESS)
        out.Colours.Ns = shininess;
      aiString texture;
      if (m->GetTextureCount(aiTextureType_DIFFUSE) > 0 &&
          m->GetTexture(aiTextureType_DIFFUSE, 0, &texture) == AI_SUCCESS && texture.length > 0) {
        out.Colours.MapKd = texture.C_Str();
        out.Texture = ReadTexture(in, out.Colours.MapKd, out.Colours.Name);
      }
      scene.Materials.push_back(std::move(out));
    }
  }

  std::shared_ptr<const TDecodedImage> ReadTexture(const aiScene& in, const std::string& path,
                                                   const std::string& material) {
    const std::string shown = "texture " + Quoted(path) + " of material " + Quoted(material);
    try {
      const aiTexture* embedded = in.GetEmbeddedTexture(path.c_str());
      if (embedded != nullptr) {
        if (embedded->mHeight > 0)
          return RawTexture(*embedded);
        std::string why;
        const std::string bytes(reinterpret_cast<const char*>(embedded->pcData), embedded->mWidth);
        auto image = DecodePicture(bytes, Name_ + " (" + shown + ")", why);
        if (!image) {
          Warn("the embedded " + shown + " " + why + " (format hint " +
               Quoted(std::string(embedded->achFormatHint, strnlen(embedded->achFormatHint, 9))) +
               "); the material keeps its colour");
          return nullptr;
        }
        return Checked(std::move(image));
      }
      if (path[0] == '*') {
        Warn("the embedded " + shown + " is not in the file; the material keeps its colour");
        return nullptr;
      }
      std::string why;
      std::string file = SceneFolderOf(Name_) + NormaliseSeparators(path);
      std::string bytes;
      try {
        bytes = ReadSceneInput(Root_, file);
      } catch (const Error&) {
        // Exporters often write the path the picture had on the artist's disk
        // ("C:\art\skin.png"): the same name beside the scene is taken instead.
        const std::string written = NormaliseSeparators(path);
        const size_t cut = written.find_last_of("/:");
        const std::string base = cut == std::string::npos ? written : written.substr(cut + 1);
        if (base.empty() || SceneFolderOf(Name_) + base == file)
          throw;
        file = SceneFolderOf(Name_) + base;
        bytes = ReadSceneInput(Root_, file);
      }
      auto image = DecodePicture(bytes, file, why);
      if (!image) {
        Warn(shown + " " + why + "; the material keeps its colour");
        return nullptr;
      }
      return Checked(std::move(image));
    } catch (const Error& e) {
      Warn(shown + ": " + e.what() + "; the material keeps its colour");
      return nullptr;
    }
  }

  // The decoder's warnings are reported once here, not every time a frame's model makes
  // its texture.
  std::shared_ptr<const TDecodedImage> Checked(std::shared_ptr<const TDecodedImage> image) {
    if (image->Warnings.empty())
      return image;
    auto copy = std::make_shared<TDecodedImage>(*image);
    for (const std::string& w : copy->Warnings)
      Warnings_.push_back(w);
    copy->Warnings.clear();
    return copy;
  }

  std::shared_ptr<const TDecodedImage> RawTexture(const aiTexture& t) {
    if (t.mWidth > static_cast<unsigned>(MaxSceneTextureSize) ||
        t.mHeight > static_cast<unsigned>(MaxSceneTextureSize)) {
      Warn("an embedded texture of " + std::to_string(t.mWidth) + " x " +
           std::to_string(t.mHeight) + " pixels is too large; the material keeps its colour");
      return nullptr;
    }
    auto image = std::make_shared<TDecodedImage>();
    image->Width = static_cast<int>(t.mWidth);
    image->Height = static_cast<int>(t.mHeight);
    image->Pixels.resize(static_cast<size_t>(t.mWidth) * t.mHeight * 3);
    for (size_t i = 0; i < static_cast<size_t>(t.mWidth) * t.mHeight; ++i) {
      image->Pixels[i * 3] = t.pcData[i].r;
      image->Pixels[i * 3 + 1] = t.pcData[i].g;
      image->Pixels[i * 3 + 2] = t.pcData[i].b;
    }
    return image;
  }

  void ReadNodes(const aiScene& in, TScene& scene) {
    // Depth first, parents before children, without recursion (a hostile file may nest deeply).
    std::vector<std::pair<const aiNode*, int32_t>> stack;
    if (in.mRootNode != nullptr)
      stack.emplace_back(in.mRootNode, -1);
    while (!stack.empty()) {
      const auto [node, parent] = stack.back();
      stack.pop_back();
      TSceneNode out;
      out.Name = node->mName.C_Str();
      out.Parent = parent;
      out.Local = FromAssimp(node->mTransformation);
      aiVector3D s, t;
      aiQuaternion r;
      node->mTransformation.Decompose(s, r, t);
      out.Translation = FromAssimp(t);
      out.Rotation = FromAssimp(r);
      out.Scaling = FromAssimp(s);
      const auto index = static_cast<int32_t>(scene.Nodes.size());
      scene.Nodes.push_back(std::move(out));
      NodeIndex_.emplace(node->mName.C_Str(), index);
      for (unsigned m = 0; m < node->mNumMeshes; ++m)
        if (node->mMeshes[m] < in.mNumMeshes)
          scene.Instances.push_back({static_cast<int32_t>(node->mMeshes[m]), index});
      for (unsigned c = node->mNumChildren; c-- > 0;)
        stack.emplace_back(node->mChildren[c], index);
    }
  }

  int32_t NodeNamed(const std::string& name) const {
    const auto found = NodeIndex_.find(name);
    return found == NodeIndex_.end() ? -1 : found->second;
  }

  void ReadMeshes(const aiScene& in, TScene& scene) {
    size_t total = 0;
    for (const TSceneInstance& inst : scene.Instances) {
      total += in.mMeshes[inst.Mesh]->mNumVertices;
      if (total > MaxSceneVertices)
        throw Error(
            Located(Name_, 0,
                    "the scene shows more than " + std::to_string(MaxSceneVertices) + " vertices"));
    }
    for (unsigned i = 0; i < in.mNumMeshes; ++i) {
      const aiMesh& m = *in.mMeshes[i];
      TSceneMesh out;
      out.Name = m.mName.C_Str();
      out.Material = static_cast<int32_t>(m.mMaterialIndex);
      out.Positions.resize(m.mNumVertices);
      for (unsigned v = 0; v < m.mNumVertices; ++v)
        out.Positions[v] = Vec3(m.mVertices[v].x, m.mVertices[v].y, m.mVertices[v].z);
      if (m.HasNormals()) {
        out.Normals.resize(m.mNumVertices);
        for (unsigned v = 0; v < m.mNumVertices; ++v)
          out.Normals[v] = Vec3(m.mNormals[v].x, m.mNormals[v].y, m.mNormals[v].z);
      }
      if (m.HasTextureCoords(0)) {
        out.TexCoords.resize(m.mNumVertices);
        for (unsigned v = 0; v < m.mNumVertices; ++v)
          out.TexCoords[v] = TexCoord(m.mTextureCoords[0][v].x, m.mTextureCoords[0][v].y);
      }
      for (unsigned f = 0; f < m.mNumFaces; ++f) {
        const aiFace& face = m.mFaces[f];
        // Points and lines are not surfaces: they draw nothing in a sprite.
        if (face.mNumIndices < 3)
          continue;
        bool inside = true;
        for (unsigned k = 0; k < face.mNumIndices; ++k)
          inside = inside && face.mIndices[k] < m.mNumVertices;
        if (!inside)
          continue;
        out.FaceSizes.push_back(face.mNumIndices);
        out.FaceIndices.insert(out.FaceIndices.end(), face.mIndices,
                               face.mIndices + face.mNumIndices);
      }
      if (m.mNumBones > 0) {
        std::vector<std::vector<std::pair<int32_t, float>>> weights(m.mNumVertices);
        for (unsigned b = 0; b < m.mNumBones; ++b) {
          const aiBone& bone = *m.mBones[b];
          TSceneBone outBone;
          outBone.Name = bone.mName.C_Str();
          outBone.Node = NodeNamed(outBone.Name);
          outBone.Offset = FromAssimp(bone.mOffsetMatrix);
          out.Bones.push_back(std::move(outBone));
          for (unsigned w = 0; w < bone.mNumWeights; ++w)
            if (bone.mWeights[w].mVertexId < m.mNumVertices)
              weights[bone.mWeights[w].mVertexId].emplace_back(static_cast<int32_t>(b),
                                                               bone.mWeights[w].mWeight);
        }
        out.Influences.resize(m.mNumVertices);
        for (unsigned v = 0; v < m.mNumVertices; ++v) {
          out.MostWeights = std::max(out.MostWeights, static_cast<int32_t>(weights[v].size()));
          out.Influences[v] = LimitInfluences(std::move(weights[v]));
        }
      }
      scene.Meshes.push_back(std::move(out));
    }
  }

  void ReadClips(const aiScene& in, TScene& scene) {
    for (unsigned a = 0; a < in.mNumAnimations; ++a) {
      const aiAnimation& anim = *in.mAnimations[a];
      TSceneClip clip;
      clip.Name = anim.mName.C_Str();
      // Assimp's rule: no rate given means 25 ticks per second.
      const double rate = anim.mTicksPerSecond > 0 ? anim.mTicksPerSecond : 25.0;
      clip.Duration = anim.mDuration > 0 ? anim.mDuration / rate : 0;
      for (unsigned c = 0; c < anim.mNumChannels; ++c) {
        const aiNodeAnim& ch = *anim.mChannels[c];
        TSceneChannel out;
        out.Node = NodeNamed(ch.mNodeName.C_Str());
        if (out.Node < 0)
          continue;
        for (unsigned k = 0; k < ch.mNumPositionKeys; ++k)
          out.Positions.push_back(
              {ch.mPositionKeys[k].mTime / rate, FromAssimp(ch.mPositionKeys[k].mValue)});
        for (unsigned k = 0; k < ch.mNumRotationKeys; ++k)
          out.Rotations.push_back(
              {ch.mRotationKeys[k].mTime / rate, FromAssimp(ch.mRotationKeys[k].mValue)});
        for (unsigned k = 0; k < ch.mNumScalingKeys; ++k)
          out.Scalings.push_back(
              {ch.mScalingKeys[k].mTime / rate, FromAssimp(ch.mScalingKeys[k].mValue)});
        // Keys out of order would break the search for the segment around a time.
        const auto byTime = [](const auto& x, const auto& y) { return x.Time < y.Time; };
        std::stable_sort(out.Positions.begin(), out.Positions.end(), byTime);
        std::stable_sort(out.Rotations.begin(), out.Rotations.end(), byTime);
        std::stable_sort(out.Scalings.begin(), out.Scalings.end(), byTime);
        clip.Channels.push_back(std::move(out));
      }
      scene.Clips.push_back(std::move(clip));
    }
  }

  std::string Root_;
  std::string Name_;
  std::vector<std::string>& Warnings_;
  std::unordered_map<std::string, int32_t> NodeIndex_;
};

} // namespace

std::shared_ptr<TScene> ConvertScene(const aiScene& in, const std::string& rootDir,
                                     const std::string& name, std::vector<std::string>& warnings) {
  return TSceneReader(rootDir, name, warnings).Read(in);
}

} // namespace quarvel
