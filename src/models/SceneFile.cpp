#include "models/SceneFile.h"

#include "common/Error.h"
#include "common/FileLookup.h"
#include "common/Interrupt.h"
#include "common/Text.h"
#include "models/OBJFile.h"

#include <assimp/BaseImporter.h>
#include <assimp/IOStream.hpp>
#include <assimp/IOSystem.hpp>
#include <assimp/Importer.hpp>
#include <assimp/material.h>
#include <assimp/metadata.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <set>
#include <sstream>
#include <string_view>
#include <typeinfo>
#include <unordered_map>

namespace quarvel {

namespace {
// The files ReadSceneInput read for the ReadSceneFile running on this thread.
thread_local std::vector<std::string>* FilesReadNow = nullptr;
} // namespace

std::string ReadSceneInput(const std::string& rootDir, const std::string& path) {
  if (path.empty())
    throw Error("a scene file names a file with an empty name");
  // The root rule of every input (common/FileLookup.h): absolute names, names that climb
  // above the root and links that lead out of it are refused unless --allow-outside-root.
  std::string found;
  try {
    found = ResolveInRoot(rootDir, path);
  } catch (const OutsideRoot& e) {
    throw Error(std::string(e.what()));
  }
  if (!FindPath(found))
    throw Error(Quoted(NormaliseSeparators(path)) + ": no such file below the root folder");
  std::string bytes = ReadWholeFile(found, MaxSceneFileBytes, "scene file");
  if (FilesReadNow != nullptr &&
      std::find(FilesReadNow->begin(), FilesReadNow->end(), found) == FilesReadNow->end())
    FilesReadNow->push_back(found);
  return bytes;
}

namespace {

// --- Assimp's file access, through ReadSceneInput only ---

class TMemoryStream : public Assimp::IOStream {
public:
  explicit TMemoryStream(std::string bytes) : Bytes_(std::move(bytes)) {}
  size_t Read(void* buffer, size_t size, size_t count) override {
    if (size == 0 || Position_ >= Bytes_.size())
      return 0;
    const size_t whole = std::min(count, (Bytes_.size() - Position_) / size);
    std::memcpy(buffer, Bytes_.data() + Position_, whole * size);
    Position_ += whole * size;
    return whole;
  }
  size_t Write(const void*, size_t, size_t) override { return 0; }
  aiReturn Seek(size_t offset, aiOrigin origin) override {
    size_t base = 0;
    if (origin == aiOrigin_CUR)
      base = Position_;
    else if (origin == aiOrigin_END)
      base = Bytes_.size();
    if (offset > Bytes_.size() || base > Bytes_.size() - offset)
      return aiReturn_FAILURE;
    Position_ = base + offset;
    return aiReturn_SUCCESS;
  }
  size_t Tell() const override { return Position_; }
  size_t FileSize() const override { return Bytes_.size(); }
  void Flush() override {}

private:
  std::string Bytes_;
  size_t Position_ = 0;
};

class TSceneIOSystem : public Assimp::IOSystem {
public:
  TSceneIOSystem(std::string rootDir, std::string sceneName, const std::string* sceneBytes)
      : Root_(std::move(rootDir)), SceneName_(std::move(sceneName)), SceneBytes_(sceneBytes) {}

  bool Exists(const char* file) const override {
    if (file == nullptr)
      return false;
    if (SceneBytes_ != nullptr && file == SceneName_)
      return true;
    try {
      LastName_ = file;
      LastBytes_ = ReadSceneInput(Root_, file);
      return true;
    } catch (const Error& e) {
      LastName_.clear();
      Refusals.push_back(e.what());
      return false;
    }
  }
  char getOsSeparator() const override { return '/'; }
  Assimp::IOStream* Open(const char* file, const char* mode) override {
    if (file == nullptr || mode == nullptr || std::strchr(mode, 'w') != nullptr ||
        std::strchr(mode, 'a') != nullptr)
      return nullptr;
    if (SceneBytes_ != nullptr && file == SceneName_)
      return new TMemoryStream(*SceneBytes_);
    if (!LastName_.empty() && file == LastName_) {
      LastName_.clear();
      return new TMemoryStream(std::move(LastBytes_));
    }
    try {
      return new TMemoryStream(ReadSceneInput(Root_, file));
    } catch (const Error& e) {
      Refusals.push_back(e.what());
      return nullptr;
    }
  }
  void Close(Assimp::IOStream* stream) override { delete stream; }

  // Why files were refused, for the error message when the import fails.
  mutable std::vector<std::string> Refusals;

private:
  std::string Root_;
  std::string SceneName_;
  const std::string* SceneBytes_;
  // Assimp asks whether a file exists right before opening it: the bytes read to answer
  // are kept for that open, so that no file is read twice.
  mutable std::string LastName_;
  mutable std::string LastBytes_;
};

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

bool StartsWith(const std::string& bytes, const char* magic, size_t length) {
  return bytes.size() >= length && std::memcmp(bytes.data(), magic, length) == 0;
}

// Decodes a picture by its first bytes; null with `why` set when it is no PNG, JPEG or BMP.
std::shared_ptr<const TDecodedImage> DecodePicture(const std::string& bytes,
                                                   const std::string& name, std::string& why) {
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  TDecodedImage image;
  if (StartsWith(bytes, "\x89PNG", 4))
    image = DecodePNG(data, bytes.size(), name, MaxSceneTextureSize);
  else if (StartsWith(bytes, "\xFF\xD8", 2))
    image = DecodeJPEG(data, bytes.size(), name, MaxSceneTextureSize);
  else if (StartsWith(bytes, "BM", 2))
    image = DecodeBMP(data, bytes.size(), name, MaxSceneTextureSize);
  else {
    why = "is not a PNG, JPEG or BMP picture";
    return nullptr;
  }
  return std::make_shared<const TDecodedImage>(std::move(image));
}

std::string FolderOf(const std::string& name) {
  const size_t slash = name.find_last_of('/');
  return slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
}

// Leaves `importer` only the importers of the formats the program reads. Assimp picks an
// importer by the file's extension, but when that one declines the file it tries every
// importer it has on the bytes; a file named ".gltf" must not reach one of the dozens of
// other readers, which were never meant for untrusted input.
void KeepSceneImporters(Assimp::Importer& importer) {
  static const char* const kept[] = {"gltf", "glb", "fbx", "dae", "3ds", "ply", "stl"};
  std::vector<Assimp::BaseImporter*> others;
  for (size_t i = 0; i < importer.GetImporterCount(); ++i) {
    const aiImporterDesc* info = importer.GetImporterInfo(i);
    const std::string extensions =
        info != nullptr && info->mFileExtensions != nullptr ? info->mFileExtensions : "";
    bool keep = false;
    size_t start = 0;
    while (start < extensions.size()) {
      size_t end = extensions.find(' ', start);
      if (end == std::string::npos)
        end = extensions.size();
      const std::string ext = ToLowerASCII(extensions.substr(start, end - start));
      for (const char* k : kept)
        keep = keep || ext == k;
      start = end + 1;
    }
    if (!keep)
      others.push_back(importer.GetImporter(i));
  }
  // Unregistered importers are no longer the importer's to delete.
  for (Assimp::BaseImporter* other : others)
    if (other != nullptr && importer.UnregisterLoader(other) == AI_SUCCESS)
      delete other;
}

// Assimp's PLY reader loops for ever on some malformed headers and reserves what an
// element line's count asks for, so a PLY header is checked before Assimp sees it: its
// format, element and property statements well formed, a count no larger than the bytes
// that follow could hold, and an end. Returns what is wrong, or "" for a header that may
// go on.
std::string CheckPLYHeader(const std::string& bytes) {
  static const char* const types[] = {"char",  "uchar",  "short",   "ushort", "int",   "uint",
                                      "float", "double", "int8",    "uint8",  "int16", "uint16",
                                      "int32", "uint32", "float32", "float64"};
  auto isType = [](const std::string& t) {
    for (const char* known : types)
      if (t == known)
        return true;
    return false;
  };
  constexpr size_t MaxHeader = size_t{1} << 20;
  const size_t end = bytes.find("end_header");
  if (end == std::string::npos || end > MaxHeader)
    return "the PLY header has no end_header line within its first 1 MiB";
  const size_t dataStart = bytes.find('\n', end);
  const size_t dataBytes = dataStart == std::string::npos ? 0 : bytes.size() - dataStart - 1;
  if (bytes.find_first_not_of("\r", end + 10) != dataStart)
    return "the PLY header's end_header line holds more";
  bool ascii = false;
  size_t at = 0;
  int line = 0;
  unsigned long long elements = 0;
  while (at < end) {
    size_t next = bytes.find('\n', at);
    if (next == std::string::npos || next > end)
      return "the PLY header's end_header does not start a line";
    std::vector<std::string> words;
    size_t i = at;
    while (i < next) {
      while (i < next && (bytes[i] == ' ' || bytes[i] == '\t' || bytes[i] == '\r'))
        ++i;
      const size_t start = i;
      while (i < next && bytes[i] != ' ' && bytes[i] != '\t' && bytes[i] != '\r')
        ++i;
      if (i > start)
        words.push_back(bytes.substr(start, i - start));
    }
    ++line;
    at = next + 1;
    const std::string what = "line " + std::to_string(line) + " of the PLY header";
    if (line == 1) {
      if (words.size() != 1 || words[0] != "ply")
        return what + " is not 'ply'";
      continue;
    }
    if (words.empty())
      return what + " is empty";
    const std::string& key = words[0];
    if (key == "comment" || key == "obj_info")
      continue;
    if (key == "format" && words.size() == 3 &&
        (words[1] == "ascii" || words[1] == "binary_little_endian" ||
         words[1] == "binary_big_endian")) {
      ascii = words[1] == "ascii";
      continue;
    }
    // Assimp reads the count of an element whose name it does not know from the start of
    // the name: "element 4444vertex 3" would count 4444 elements (or, with more digits,
    // hundreds of millions, and gigabytes allocated for them).
    if (key == "element" && words.size() == 3 && words[1][0] >= '0' && words[1][0] <= '9')
      return what + " names an element " + Quoted(words[1]) +
             " that starts with a digit, which Assimp would read as its count";
    if (key == "element" && words.size() == 3 && !words[2].empty() && words[2].size() <= 12 &&
        words[2].find_first_not_of("0123456789") == std::string::npos) {
      // Every element takes at least one byte, in text or binary.
      elements += std::stoull(words[2]);
      if (elements > dataBytes)
        return what + " counts " + words[2] + " elements, more than the file holds";
      continue;
    }
    if (key == "property" && words.size() == 3 && isType(words[1]))
      continue;
    if (key == "property" && words.size() == 5 && words[1] == "list" && isType(words[2]) &&
        isType(words[3]))
      continue;
    // Other lines are skipped, by Assimp as here: exporters write free text such as
    // "Created by ..." without "comment".
    if (key == "element" || key == "property" || key == "format")
      return what + " is not a PLY header statement";
  }
  // Text data holds numbers only: Assimp's reader does not get past anything else.
  if (ascii && dataStart != std::string::npos &&
      bytes.find_first_not_of("0123456789+-.eE \t\r\n", dataStart) != std::string::npos)
    return "the PLY text data holds something that is not a number";
  return "";
}

// The little-endian 32-bit number at `at` (binary glTF's header and chunk fields).
uint32_t U32At(const std::string& bytes, size_t at) {
  return static_cast<uint32_t>(static_cast<uint8_t>(bytes[at])) |
         static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 3])) << 24;
}

// Assimp's binary glTF reader allocates and clears the chunk sizes its header states
// before it checks them against the file: a header claiming hundreds of megabytes in a
// file of a few hundred bytes is refused here first.
std::string CheckGLBHeader(const std::string& bytes) {
  auto u32 = [&bytes](size_t at) { return U32At(bytes, at); };
  if (bytes.size() < 20 || bytes.compare(0, 4, "glTF") != 0)
    return ""; // not binary glTF: the importer says what it is not
  if (u32(8) > bytes.size())
    return "the binary glTF header states " + std::to_string(u32(8)) +
           " bytes, more than the file's " + std::to_string(bytes.size());
  if (u32(4) == 1) // glTF 1.0: one content block
    return u32(12) > bytes.size() - 20 ? "the binary glTF content is longer than the file" : "";
  for (size_t at = 12; at + 8 <= bytes.size();) {
    const uint64_t length = u32(at);
    if (length > bytes.size() - at - 8)
      return "a binary glTF chunk of " + std::to_string(length) +
             " bytes is longer than the rest of the file";
    at += 8 + static_cast<size_t>(length);
  }
  return "";
}

// Assimp reads glTF's JSON with rapidjson, which passes bytes that are not UTF-8 and, of a
// key given twice, takes the first; nlohmann (which the checks below use) refuses the one
// and takes the last of the other. So that what is checked is what Assimp reads, such a
// document is refused. Reading stops at a NUL byte, as rapidjson's does (binary glTF
// writers pad the JSON chunk with NULs now and then).
nlohmann::json ParseGLTFJSON(std::string_view json, std::string& wrong) {
  json = json.substr(0, json.find('\0'));
  std::vector<std::set<std::string>> keys; // the keys of each open object
  bool twice = false;
  const auto callback = [&](int, nlohmann::json::parse_event_t event, nlohmann::json& parsed) {
    using Event = nlohmann::json::parse_event_t;
    if (event == Event::object_start)
      keys.emplace_back();
    else if (event == Event::object_end && !keys.empty())
      keys.pop_back();
    else if (event == Event::key && !keys.empty() && parsed.is_string() &&
             !keys.back().insert(parsed.get<std::string>()).second)
      twice = true;
    return true;
  };
  try {
    nlohmann::json doc = nlohmann::json::parse(json.begin(), json.end(), callback);
    if (twice)
      wrong = "the glTF JSON gives a key twice in one object";
    return doc;
  } catch (const nlohmann::json::parse_error& e) {
    std::string why = e.what();
    why.erase(0, why.find(']') == std::string::npos ? 0 : why.find(']') + 2);
    wrong = "the glTF JSON does not parse: " + Printable(why, 160);
    return nullptr;
  }
}

// An index as rapidjson's IsUint takes it (a whole number from 0 to 2^32 - 1).
bool IsGLTFIndex(const nlohmann::json& value) {
  return value.is_number_unsigned() &&
         value.get<uint64_t>() <= std::numeric_limits<uint32_t>::max();
}

// Assimp 5.2 reads a glTF skin's inverse bind matrices without checking that the file
// gives them (glTF lets it leave them out), and reads one matrix a joint whatever the
// accessor's count: a skin without them crashes it, one with too few has it read past
// its array. Such skins are refused here with a message.
std::string CheckGLTFSkins(const std::string& bytes) {
  std::string_view json(bytes);
  if (bytes.size() >= 20 && bytes.compare(0, 4, "glTF") == 0) {
    // Binary glTF: the first chunk is the JSON (CheckGLBHeader has checked its length).
    const size_t length = U32At(bytes, 12);
    json = json.substr(20, std::min(length, bytes.size() - 20));
  }
  std::string wrong;
  const nlohmann::json doc = ParseGLTFJSON(json, wrong);
  if (!wrong.empty() || !doc.is_object() || !doc.contains("skins") || !doc["skins"].is_array())
    return wrong;
  const nlohmann::json* accessors =
      doc.contains("accessors") && doc["accessors"].is_array() ? &doc["accessors"] : nullptr;
  for (size_t i = 0; i < doc["skins"].size(); ++i) {
    const nlohmann::json& skin = doc["skins"][i];
    const std::string which = "skin " + std::to_string(i);
    if (!skin.is_object() || !skin.contains("inverseBindMatrices") ||
        !IsGLTFIndex(skin["inverseBindMatrices"]))
      return which + " has no inverseBindMatrices, which this program's Assimp cannot read";
    const uint64_t matrices = skin["inverseBindMatrices"].get<uint64_t>();
    if (accessors == nullptr || matrices >= accessors->size())
      continue; // Assimp refuses an index past the array itself
    const nlohmann::json& accessor = (*accessors)[matrices];
    const size_t joints =
        skin.contains("joints") && skin["joints"].is_array() ? skin["joints"].size() : 0;
    const uint64_t count =
        accessor.is_object() && accessor.contains("count") && accessor["count"].is_number_unsigned()
            ? accessor["count"].get<uint64_t>()
            : 0;
    if (count < joints)
      return which + " has " + std::to_string(joints) + " joints but " + std::to_string(count) +
             " inverse bind matrices";
  }
  return "";
}

// Assimp's COLLADA reader does not get past a character that is no part of a number in
// its number lists (it loops for ever on "<p>0z 1 2</p>"), so those lists are checked
// first: the text of every p, v, vcount, h, float_array and int_array element holds
// numbers, blanks and commas (which some exporters write and Assimp reads) only.
std::string CheckCOLLADANumbers(const std::string& bytes) {
  static const char* const lists[] = {"p", "v", "vcount", "h", "float_array", "int_array"};
  for (size_t at = bytes.find('<'); at != std::string::npos; at = bytes.find('<', at + 1)) {
    size_t nameEnd = at + 1;
    while (nameEnd < bytes.size() &&
           (std::isalnum(static_cast<unsigned char>(bytes[nameEnd])) || bytes[nameEnd] == '_'))
      ++nameEnd;
    const std::string name = bytes.substr(at + 1, nameEnd - at - 1);
    bool isList = false;
    for (const char* l : lists)
      isList = isList || name == l;
    if (!isList)
      continue;
    const size_t open = bytes.find('>', nameEnd);
    if (open == std::string::npos)
      return "";
    if (bytes[open - 1] == '/')
      continue; // an empty element
    const size_t close = bytes.find('<', open);
    const size_t bad = bytes.find_first_not_of("0123456789+-.,eE \t\r\n", open + 1);
    if (bad != std::string::npos && (close == std::string::npos || bad < close))
      return "the COLLADA number list <" + name + "> holds something that is not a number";
  }
  return "";
}

class TSceneReader {
public:
  TSceneReader(const std::string& rootDir, const std::string& name,
               std::vector<std::string>& warnings)
      : Root_(rootDir), Name_(NormaliseSeparators(name)), Warnings_(warnings) {}

  std::shared_ptr<const TScene> Read(const aiScene& in) {
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
      std::string file = FolderOf(Name_) + NormaliseSeparators(path);
      std::string bytes;
      try {
        bytes = ReadSceneInput(Root_, file);
      } catch (const Error&) {
        // Exporters often write the path the picture had on the artist's disk
        // ("C:\art\skin.png"): the same name beside the scene is taken instead.
        const std::string written = NormaliseSeparators(path);
        const size_t cut = written.find_last_of("/:");
        const std::string base = cut == std::string::npos ? written : written.substr(cut + 1);
        if (base.empty() || FolderOf(Name_) + base == file)
          throw;
        file = FolderOf(Name_) + base;
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

std::shared_ptr<const TScene> ReadSceneFile(const std::string& rootDir, const std::string& name,
                                            std::vector<std::string>& warnings) {
  const std::string shown = NormaliseSeparators(name);
  std::vector<std::string> read;
  struct TRecording {
    explicit TRecording(std::vector<std::string>* files) { FilesReadNow = files; }
    ~TRecording() { FilesReadNow = nullptr; }
  } recording(&read);
  std::string bytes;
  try {
    bytes = ReadSceneInput(rootDir, shown);
  } catch (const Error& e) {
    throw Error(Located(shown, 0, e.what()));
  }
  std::shared_ptr<const TScene> scene = ReadSceneBytes(rootDir, shown, bytes, warnings);
  // Made here and not yet shared: the list can still be filled in.
  std::const_pointer_cast<TScene>(scene)->FilesRead = std::move(read);
  return scene;
}

namespace {

// The error for a scene file Assimp cannot read (or that is refused before it does),
// located at the file's name as every reader's errors are.
Error Unreadable(const std::string& shown, const std::string& why) {
  return Error(Located(shown, 0, "cannot read the scene: " + why));
}

// Assimp's import, with the fix-ups its post-processing needs (the part a trial
// repeats). Throws quarvel::Error when Assimp cannot read the file.
const aiScene& ImportWithAssimp(Assimp::Importer& importer, const std::string& rootDir,
                                const std::string& shown, const std::string& bytes) {
  auto* io = new TSceneIOSystem(rootDir, shown, &bytes);
  importer.SetIOHandler(io); // the importer owns it from here
  KeepSceneImporters(importer);
  // A scene of bones only (BVH and the like) would otherwise get made-up bone meshes.
  importer.SetPropertyBool(AI_CONFIG_IMPORT_NO_SKELETON_MESHES, true);
  // FBX pivots as separate helper nodes would split one animated node into several.
  importer.SetPropertyBool(AI_CONFIG_IMPORT_FBX_PRESERVE_PIVOTS, false);
  // Two flags, in two steps. ValidateDataStructure with the import: a file whose indices
  // point outside its arrays is refused instead of read past. Then Triangulate: faces of
  // more than three corners become triangles, so that every face is flat and gets its
  // normal as an OBJ triangle does. Nothing that merges, reorders or generates vertices:
  // the model keeps the file's vertex order, and normals missing from the file are
  // generated as for OBJ files.
  const aiScene* in = importer.ReadFile(shown, aiProcess_ValidateDataStructure);
  if (in != nullptr) {
    // Assimp's triangulation aborts the program when a mesh's primitive types disagree
    // with its faces (some importers set them wrongly for broken files) or a face has no
    // corner at all: such a face is refused, and the types are set from the faces (the
    // meshes are the importer's own, open to change).
    for (unsigned m = 0; m < in->mNumMeshes; ++m) {
      aiMesh& mesh = *in->mMeshes[m];
      unsigned types = 0;
      for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
        const unsigned n = mesh.mFaces[f].mNumIndices;
        if (n == 0)
          throw Unreadable(shown, "face " + std::to_string(f) + " of mesh " +
                                      Quoted(mesh.mName.C_Str()) + " has no corners");
        types |= n == 1   ? aiPrimitiveType_POINT
                 : n == 2 ? aiPrimitiveType_LINE
                 : n == 3 ? aiPrimitiveType_TRIANGLE
                          : aiPrimitiveType_POLYGON;
      }
      mesh.mPrimitiveTypes = types;
    }
    in = importer.ApplyPostProcessing(aiProcess_Triangulate);
  }
  if (in == nullptr) {
    // Assimp's message may quote the file's own bytes.
    std::string why = Printable(importer.GetErrorString(), 200);
    // Assimp tries a missing file under several names; the first two refusals tell why.
    std::vector<std::string> shownRefusals;
    for (const std::string& refusal : io->Refusals)
      if (shownRefusals.size() < 2 &&
          std::find(shownRefusals.begin(), shownRefusals.end(), refusal) == shownRefusals.end())
        shownRefusals.push_back(refusal);
    for (const std::string& refusal : shownRefusals)
      why += "; " + refusal;
    throw Unreadable(shown, why.empty() ? "unknown error" : why);
  }
  if ((in->mFlags & AI_SCENE_FLAGS_INCOMPLETE) != 0 && in->mNumMeshes == 0)
    throw Error(Located(shown, 0, "the scene holds no meshes"));
  return *in;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool SanitizedBuild = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool SanitizedBuild = true;
#else
constexpr bool SanitizedBuild = false;
#endif
#else
constexpr bool SanitizedBuild = false;
#endif

double TrialSeconds = DefaultSceneTrialSeconds;
void (*TrialHook)() = nullptr;

// Exit statuses of a trial import. Any other ending but a signal (a sanitizer's report in
// our own file gate, say) lets the import run here, where that report is seen.
constexpr int TrialRead = 0;
constexpr int TrialRefused = 64; // an error: its text comes through the pipe, or else the
                                 // import here gives it again
constexpr int TrialOutOfMemory = 65;
// What the trial says of a refusal at most; Assimp's own part of it is cut far shorter.
constexpr size_t MaxTrialMessageBytes = 16384;

// Assimp 5.2 crashes, loops or allocates without end on some damaged files, in more ways
// than checks of the bytes beforehand can list. So every import is first tried in a child
// process, which may die without harm, within a time and memory limit; the import that
// counts runs here only after the trial ended by itself. Assimp reads the same bytes
// through the same gate both times, so the trial's outcome is the real one's.
void TryImportApart(const std::string& rootDir, const std::string& shown,
                    const std::string& bytes) {
  if (!(TrialSeconds > 0))
    return;
  // The child holds the write end of a pipe until it ends: the parent wakes the moment
  // it does, without polling.
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0)
    throw Unreadable(shown, std::string("cannot start the trial import: ") + std::strerror(errno));
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0) {
    const int err = errno;
    ::close(ends[0]);
    ::close(ends[1]);
    throw Unreadable(shown, std::string("cannot start the trial import: ") + std::strerror(err));
  }
  if (pid == 0) {
    ::close(ends[0]);
    // The child says nothing (a sanitizer build would report the crash it is here for),
    // and leaves by _exit: nothing of the parent's (open outputs, GL) is flushed or torn
    // down twice.
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
      ::dup2(null, STDOUT_FILENO);
      ::dup2(null, STDERR_FILENO);
    }
    // The parent stops the trial on Ctrl-C (and goes on to say it was interrupted, not
    // that Assimp crashed); should the parent die, so does the trial.
    ::signal(SIGINT, SIG_IGN);
    ::signal(SIGTERM, SIG_IGN);
    // A crash ends the trial by its signal, past any handler a sanitizer or fuzzer set up
    // (which would report, or save the input, as if the program had crashed).
    for (const int fault : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT})
      ::signal(fault, SIG_DFL);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
      ::_exit(TrialRefused);
    if (!SanitizedBuild) {
      // Sanitizers reserve terabytes of address space: the limit is for normal builds.
      const auto limit = static_cast<rlim_t>(MaxSceneTrialMemoryBytes);
      const rlimit memory{limit, limit};
      ::setrlimit(RLIMIT_AS, &memory);
    }
    int status = TrialRead;
    try {
      if (TrialHook != nullptr)
        TrialHook();
      Assimp::Importer importer;
      ImportWithAssimp(importer, rootDir, shown, bytes);
    } catch (const std::bad_alloc&) {
      status = TrialOutOfMemory;
    } catch (const Error& e) {
      status = TrialRefused;
      // The refusal goes back to the parent, which then need not import the file again
      // (a file that takes minutes or gigabytes to refuse would take them twice). Only a
      // plain Error is said this way: its type and text are all the parent's import would
      // give.
      if (typeid(e) == typeid(Error)) {
        const std::string said = std::string(e.what()).substr(0, MaxTrialMessageBytes);
        for (size_t done = 0; done < said.size();) {
          const ssize_t n = ::write(ends[1], said.data() + done, said.size() - done);
          if (n <= 0 && errno != EINTR)
            break;
          done += n > 0 ? static_cast<size_t>(n) : 0;
        }
      }
    } catch (...) {
      status = TrialRefused;
    }
    ::_exit(status);
  }
  ::close(ends[1]);
  // Waits for the end of the child, the time limit or the user's interrupt, taking what
  // the child says of a refusal on the way.
  std::string said;
  const auto start = std::chrono::steady_clock::now();
  const auto limit = std::chrono::duration<double>(TrialSeconds);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        limit - (std::chrono::steady_clock::now() - start));
    pollfd end{ends[0], POLLIN, 0};
    const int ready = left.count() > 0
                          ? ::poll(&end, 1, static_cast<int>(std::min<int64_t>(left.count(), 100)))
                          : 0;
    if (ready > 0) {
      char chunk[4096];
      const ssize_t n = ::read(ends[0], chunk, sizeof chunk);
      if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN))
        break; // the pipe closed: the child is gone
      if (n > 0 && said.size() < MaxTrialMessageBytes)
        said.append(chunk, static_cast<size_t>(n));
      continue;
    }
    const bool late = left.count() <= 0;
    if (late || InterruptSignal() != 0) {
      ::close(ends[0]);
      ::kill(pid, SIGKILL);
      int ignored = 0;
      while (::waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
      }
      ThrowIfInterrupted();
      std::ostringstream seconds;
      seconds << TrialSeconds;
      throw Unreadable(shown, "Assimp did not finish reading it within " + seconds.str() +
                                  " s; the file is damaged or too large for this program");
    }
  }
  ::close(ends[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  ThrowIfInterrupted();
  if (WIFSIGNALED(status))
    throw Unreadable(
        shown, std::string("Assimp crashed reading it (") + strsignal(WTERMSIG(status)) +
                   "); the file is damaged or uses something this program's Assimp cannot read");
  if (WIFEXITED(status) && WEXITSTATUS(status) == TrialOutOfMemory)
    throw Unreadable(shown, "reading it takes more than " +
                                std::to_string(MaxSceneTrialMemoryBytes >> 30) + " GiB of memory");
  if (WIFEXITED(status) && WEXITSTATUS(status) == TrialRefused && !said.empty())
    throw Error(said.substr(0, MaxTrialMessageBytes));
}

} // namespace

void SetSceneTrial(double seconds, void (*hook)()) {
  TrialSeconds = seconds;
  TrialHook = hook;
}

std::shared_ptr<const TScene> ReadSceneBytes(const std::string& rootDir, const std::string& name,
                                             const std::string& bytes,
                                             std::vector<std::string>& warnings) {
  const std::string shown = NormaliseSeparators(name);
  {
    // Binary glTF is recognised by its bytes whatever the name says.
    std::string wrong =
        EndsWithNoCase(shown, ".ply") ? CheckPLYHeader(bytes) : CheckGLBHeader(bytes);
    if (wrong.empty() && (EndsWithNoCase(shown, ".gltf") || EndsWithNoCase(shown, ".glb")))
      wrong = CheckGLTFSkins(bytes);
    if (wrong.empty() && EndsWithNoCase(shown, ".dae"))
      wrong = CheckCOLLADANumbers(bytes);
    if (!wrong.empty())
      throw Unreadable(shown, wrong);
  }
  TryImportApart(rootDir, shown, bytes);
  Assimp::Importer importer;
  return TSceneReader(rootDir, shown, warnings)
      .Read(ImportWithAssimp(importer, rootDir, shown, bytes));
}

std::unique_ptr<TOBJFile> PosedSceneModel(const TScene& scene, int32_t clip, double seconds,
                                          const std::string& fileName) {
  auto model = MakeSceneModel(scene, PoseScene(scene, clip, seconds), fileName);
  model->TextureDir = FolderOf(scene.FileName);
  return model;
}

} // namespace quarvel
