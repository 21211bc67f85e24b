#include "models/TextureFiles.h"

#include "common/FileLookup.h"
#include "common/Text.h"

namespace quarvel {

bool FindTextureFile(const std::string& dir, std::string& name) {
  const size_t cut = name.find_last_of("\\/:");
  const size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && (cut == std::string::npos || dot > cut))
    name.erase(dot);
  for (const char* ext : {".png", ".bmp", ".jpg"}) {
    if (FileExists(JoinPath(dir, name + ext))) {
      name += ext;
      return true;
    }
  }
  return false;
}

TDecodedImage DecodeTextureFile(const std::string& path, int maxDimension) {
  if (EndsWithNoCase(path, ".jpg"))
    return DecodeJPEG(path, maxDimension);
  if (EndsWithNoCase(path, ".png"))
    return DecodePNG(path, maxDimension);
  if (EndsWithNoCase(path, ".bmp"))
    return DecodeBMP(path, maxDimension);
  return TDecodedImage{};
}

} // namespace quarvel
