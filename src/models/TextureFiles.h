// Which picture file a material's texture is, and its decoded pixels. No OpenGL: the GL
// side (render/GLModel.h, gl/Texture.h) uploads what is decoded here.
//
// A material names its texture by base name only: ".png", ".bmp" and ".jpg" are tried,
// in that order, in the model's folder, whatever extension the material wrote. Files
// are found through common/FileLookup.h ("\" and "/" alike, letter case ignored when the
// exact name is missing) and under its root rule.
//
// Textures come from files users share, so decoding is bounded: each picture is refused
// from its header when it has more than TTextureLimits::MaxPixels pixels, each file is
// decoded once per set (one job, or one preview load) and shared by every material and
// model that names it, and the decoded pictures of a set together stay within
// TTextureLimits::MaxTotalBytes.
#pragma once

#include "image/Image.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace quarvel {

class TOBJFile;

// Drops name's extension (from the last '.' after the last "\", "/" or ":"), then tries
// ".png", ".bmp", ".jpg" in `dir`: on success name gets the extension found and the
// result is true; otherwise name keeps no extension and the result is false.
bool FindTextureFile(const std::string& dir, std::string& name);

// Decodes `path` with the decoder its extension names (".png", ".bmp", ".jpg", letter
// case ignored). A picture wider or taller than maxDimension, or of more than maxPixels
// pixels, is refused from its header (PictureTooLarge). Other extensions give an empty
// picture (Width 0).
TDecodedImage DecodeTextureFile(const std::string& path, int maxDimension,
                                long long maxPixels = MaxImagePixels);

// 8192 x 8192: the most pixels one texture may have unless the user allows more
// (--max-texture-pixels). Sprite textures are far smaller; a picture file of a few hundred
// bytes can claim far more.
constexpr long long DefaultMaxTexturePixels = 8192LL * 8192LL;
// 1 GiB: the most decoded texture memory one job may hold.
constexpr uint64_t DefaultMaxTextureBytes = uint64_t{1} << 30;

struct TTextureLimits {
  long long MaxPixels = DefaultMaxTexturePixels;   // per picture, from its header
  uint64_t MaxTotalBytes = DefaultMaxTextureBytes; // all decoded pictures of one set
  int MaxDimension = 16384; // widest or tallest side (the GL's limit, where it is known)
};

// The pictures of one job (or one preview load), each file decoded once.
class TTextureSet {
public:
  explicit TTextureSet(const TTextureLimits& limits = {}) : Limits(limits) {}

  struct TFile {
    std::shared_ptr<const TDecodedImage> Image; // null when the file could not be used
    std::string Failure;                        // why, then
  };
  TTextureLimits Limits;
  std::map<std::string, TFile> Files; // by the file's real path
  uint64_t DecodedBytes = 0;          // pixels of every picture decoded so far
  int64_t Decodes = 0;                // files decoded (each at most once)
};

// The textures of one model: the distinct pictures its materials name, and which one each
// material of the model's own library uses.
struct TModelTextures {
  std::vector<std::shared_ptr<const TDecodedImage>> Images;
  std::vector<int32_t> ImageOfMaterial; // index into Images; -1 = no texture
};

// The one texture loading of a model, shared by a render (render/GLModel.h uploads the
// result) and by `info` (which only wants the warnings): for every material of the
// model's own library that names a texture, the file is found below the model's root
// (TOBJFile::RootDir, ObjName) and decoded through `set`.
//
// A texture that is not found, lies outside the root, cannot be decoded or is larger than
// the limits leaves its material untextured and adds a warning located at the library's
// map_kd line and naming the model and the path looked for; the decoder's own warnings (a
// damaged ancillary chunk) are added the same way, once per file. Only a set whose decoded
// pictures would together exceed Limits.MaxTotalBytes fails: that throws quarvel::Error.
TModelTextures LoadModelTextures(const TOBJFile& model, TTextureSet& set,
                                 std::vector<std::string>& warnings);

} // namespace quarvel
