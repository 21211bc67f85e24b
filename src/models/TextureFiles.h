// Which picture file a material's texture is, and its decoded pixels. No OpenGL: the GL
// side (gl/Texture.h) uploads what is decoded here.
//
// A material names its texture by base name only: ".png", ".bmp" and ".jpg" are tried,
// in that order, in the model's folder, whatever extension the material wrote. Files
// are found through common/FileLookup.h ("\" and "/" alike, letter case ignored when the
// exact name is missing).
#pragma once

#include "image/Image.h"

#include <string>

namespace quarvel {

// Drops name's extension (from the last '.' after the last "\", "/" or ":"), then tries
// ".png", ".bmp", ".jpg" in `dir`: on success name gets the extension found and the
// result is true; otherwise name keeps no extension and the result is false.
bool FindTextureFile(const std::string& dir, std::string& name);

// Decodes `path` with the decoder its extension names (".png", ".bmp", ".jpg", letter
// case ignored). A picture wider or taller than maxDimension is refused from its header.
// Other extensions give an empty picture (Width 0).
TDecodedImage DecodeTextureFile(const std::string& path, int maxDimension);

} // namespace quarvel
