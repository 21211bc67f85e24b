#include "models/SceneCodec.h"

#include <cstring>
#include <type_traits>

namespace quarvel {

namespace {

// The first bytes of every encoded scene, so that bytes of some other origin are refused
// at once; the number changes with the layout.
constexpr char Magic[8] = {'Q', 'S', 'C', 'E', 'N', 'E', '0', '1'};

class TWriter {
public:
  template <typename T> void Put(const T& value) {
    static_assert(std::is_trivially_copyable_v<T>);
    Bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
  }
  void Put(const std::string& text) {
    Put(static_cast<uint64_t>(text.size()));
    Bytes += text;
  }
  template <typename T> void PutAll(const std::vector<T>& items) {
    Put(static_cast<uint64_t>(items.size()));
    if constexpr (std::is_trivially_copyable_v<T>)
      Bytes.append(reinterpret_cast<const char*>(items.data()), items.size() * sizeof(T));
    else
      for (const T& item : items)
        Put(item);
  }
  void PutImage(const TDecodedImage* image) {
    Put(static_cast<uint8_t>(image != nullptr));
    if (image == nullptr)
      return;
    Put(static_cast<int32_t>(image->Width));
    Put(static_cast<int32_t>(image->Height));
    PutAll(image->Pixels);
    PutAll(image->Warnings);
  }
  void Put(const TSceneNode& n) {
    Put(n.Name);
    Put(n.Parent);
    Put(n.Local);
    Put(n.Translation);
    Put(n.Rotation);
    Put(n.Scaling);
  }
  void Put(const TSceneBone& b) {
    Put(b.Name);
    Put(b.Node);
    Put(b.Offset);
  }
  void Put(const TSceneMesh& m) {
    Put(m.Name);
    Put(m.Material);
    PutAll(m.Positions);
    PutAll(m.Normals);
    PutAll(m.TexCoords);
    PutAll(m.FaceSizes);
    PutAll(m.FaceIndices);
    PutAll(m.Bones);
    PutAll(m.Influences);
    Put(m.MostWeights);
  }
  void Put(const TSceneMaterial& m) {
    const TOBJMaterial& c = m.Colours;
    Put(c.Ka);
    Put(c.Kd);
    Put(c.Ks);
    Put(c.Ns);
    Put(c.Tr);
    Put(c.Illum);
    Put(c.MapKd);
    Put(c.MapKdLine);
    Put(c.Name);
    PutImage(c.Texture.get());
    PutImage(m.Texture.get());
  }
  void Put(const TSceneChannel& c) {
    Put(c.Node);
    PutAll(c.Positions);
    PutAll(c.Rotations);
    PutAll(c.Scalings);
    Put(static_cast<uint8_t>(c.Step));
  }
  void Put(const TSceneClip& c) {
    Put(c.Name);
    Put(c.Duration);
    PutAll(c.Channels);
  }

  std::string Bytes;
};

// Reads what TWriter wrote; every Get is false once the bytes ran out or made no sense,
// and stays so.
class TReader {
public:
  explicit TReader(const std::string& bytes) : Bytes_(bytes) {}

  bool AtEnd() const { return Good_ && At_ == Bytes_.size(); }
  bool Good() const { return Good_; }

  template <typename T> bool Get(T& value) {
    static_assert(std::is_trivially_copyable_v<T>);
    if (!Take(sizeof value))
      return false;
    std::memcpy(&value, Bytes_.data() + At_ - sizeof value, sizeof value);
    return true;
  }
  bool Get(std::string& text) {
    uint64_t size = 0;
    if (!Get(size) || !Take(size))
      return false;
    text.assign(Bytes_.data() + At_ - size, size);
    return true;
  }
  // Every item takes at least one byte (a plain one sizeof(T)), so a count past the bytes
  // left is refused before anything is allocated for it.
  template <typename T> bool GetAll(std::vector<T>& items) {
    uint64_t count = 0;
    constexpr size_t least = std::is_trivially_copyable_v<T> ? sizeof(T) : 1;
    if (!Get(count) || count > (Bytes_.size() - At_) / least)
      return Fail();
    if constexpr (std::is_trivially_copyable_v<T>) {
      items.resize(count);
      if (!Take(count * sizeof(T)))
        return false;
      if (count > 0) // an empty vector's data() may be null, which memcpy must not be given
        std::memcpy(items.data(), Bytes_.data() + At_ - count * sizeof(T), count * sizeof(T));
    } else {
      items.clear();
      items.reserve(count);
      for (uint64_t i = 0; i < count; ++i)
        if (!Get(items.emplace_back()))
          return false;
    }
    return true;
  }
  bool GetImage(std::shared_ptr<const TDecodedImage>& image) {
    uint8_t present = 0;
    if (!Get(present) || present > 1)
      return Fail();
    if (present == 0) {
      image.reset();
      return true;
    }
    auto decoded = std::make_shared<TDecodedImage>();
    int32_t width = 0, height = 0;
    if (!Get(width) || !Get(height) || width < 0 || height < 0 ||
        static_cast<long long>(width) * height > MaxImagePixels || !GetAll(decoded->Pixels) ||
        decoded->Pixels.size() != static_cast<size_t>(width) * static_cast<size_t>(height) * 3 ||
        !GetAll(decoded->Warnings))
      return Fail();
    decoded->Width = width;
    decoded->Height = height;
    image = std::move(decoded);
    return true;
  }
  bool Get(TSceneNode& n) {
    return Get(n.Name) && Get(n.Parent) && Get(n.Local) && Get(n.Translation) && Get(n.Rotation) &&
           Get(n.Scaling);
  }
  bool Get(TSceneBone& b) { return Get(b.Name) && Get(b.Node) && Get(b.Offset); }
  bool Get(TSceneMesh& m) {
    return Get(m.Name) && Get(m.Material) && GetAll(m.Positions) && GetAll(m.Normals) &&
           GetAll(m.TexCoords) && GetAll(m.FaceSizes) && GetAll(m.FaceIndices) && GetAll(m.Bones) &&
           GetAll(m.Influences) && Get(m.MostWeights);
  }
  bool Get(TSceneMaterial& m) {
    TOBJMaterial& c = m.Colours;
    return Get(c.Ka) && Get(c.Kd) && Get(c.Ks) && Get(c.Ns) && Get(c.Tr) && Get(c.Illum) &&
           Get(c.MapKd) && Get(c.MapKdLine) && Get(c.Name) && GetImage(c.Texture) &&
           GetImage(m.Texture);
  }
  bool Get(TSceneChannel& c) {
    uint8_t step = 0;
    if (!(Get(c.Node) && GetAll(c.Positions) && GetAll(c.Rotations) && GetAll(c.Scalings) &&
          Get(step)) ||
        step > 1)
      return Fail();
    c.Step = step != 0;
    return true;
  }
  bool Get(TSceneClip& c) { return Get(c.Name) && Get(c.Duration) && GetAll(c.Channels); }

private:
  bool Fail() {
    Good_ = false;
    return false;
  }
  bool Take(uint64_t size) {
    if (!Good_ || size > Bytes_.size() - At_)
      return Fail();
    At_ += static_cast<size_t>(size);
    return true;
  }

  const std::string& Bytes_;
  size_t At_ = 0;
  bool Good_ = true;
};

// Whether every index of the scene points where posing takes it to: a reply damaged on
// the way must not have the program read past an array.
bool IndicesHold(const TScene& scene) {
  const auto in = [](int64_t index, size_t size) { return index >= 0 && uint64_t(index) < size; };
  for (size_t i = 0; i < scene.Nodes.size(); ++i)
    if (scene.Nodes[i].Parent < -1 || scene.Nodes[i].Parent >= static_cast<int64_t>(i))
      return false;
  for (const TSceneInstance& instance : scene.Instances)
    if (!in(instance.Mesh, scene.Meshes.size()) || !in(instance.Node, scene.Nodes.size()))
      return false;
  for (const TSceneMesh& mesh : scene.Meshes) {
    const size_t vertices = mesh.Positions.size();
    if ((mesh.Material != -1 && !in(mesh.Material, scene.Materials.size())) ||
        (!mesh.Normals.empty() && mesh.Normals.size() != vertices) ||
        (!mesh.TexCoords.empty() && mesh.TexCoords.size() != vertices) ||
        (!mesh.Influences.empty() && mesh.Influences.size() != vertices))
      return false;
    uint64_t corners = 0;
    for (const uint32_t size : mesh.FaceSizes)
      corners += size;
    if (corners != mesh.FaceIndices.size())
      return false;
    for (const uint32_t index : mesh.FaceIndices)
      if (index >= vertices)
        return false;
    for (const TSceneBone& bone : mesh.Bones)
      if (bone.Node != -1 && !in(bone.Node, scene.Nodes.size()))
        return false;
    for (const TSceneInfluences& influences : mesh.Influences)
      for (const int32_t bone : influences.Bone)
        if (bone != -1 && !in(bone, mesh.Bones.size()))
          return false;
  }
  for (const TSceneClip& clip : scene.Clips)
    for (const TSceneChannel& channel : clip.Channels)
      if (!in(channel.Node, scene.Nodes.size()))
        return false;
  return true;
}

} // namespace

std::string EncodeScene(const TScene& scene, const std::vector<std::string>& warnings) {
  TWriter out;
  out.Put(Magic);
  out.Put(scene.FileName);
  out.PutAll(scene.Nodes);
  out.PutAll(scene.Meshes);
  out.PutAll(scene.Instances);
  out.PutAll(scene.Materials);
  out.PutAll(scene.Clips);
  out.Put(scene.Convention);
  out.PutAll(scene.FilesRead);
  out.PutAll(warnings);
  return std::move(out.Bytes);
}

bool DecodeScene(const std::string& bytes, TScene& scene, std::vector<std::string>& warnings) {
  TReader in(bytes);
  char magic[sizeof Magic] = {};
  return in.Get(magic) && std::memcmp(magic, Magic, sizeof Magic) == 0 && in.Get(scene.FileName) &&
         in.GetAll(scene.Nodes) && in.GetAll(scene.Meshes) && in.GetAll(scene.Instances) &&
         in.GetAll(scene.Materials) && in.GetAll(scene.Clips) && in.Get(scene.Convention) &&
         in.GetAll(scene.FilesRead) && in.GetAll(warnings) && in.AtEnd() && IndicesHold(scene);
}

} // namespace quarvel
