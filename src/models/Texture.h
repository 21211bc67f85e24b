// Texture images: image files (PNG, BMP, JPEG) made into OpenGL 2D textures.
//
// A material names its texture by base name only: the loader tries ".png", ".bmp" and
// ".jpg", in that order, in TextureDir (the folder of the model being loaded), whatever
// extension the material wrote. Files are found through common/FileLookup.h ("\" and "/"
// alike, letter case ignored when the exact name is missing).
//
// Every texture is uploaded as it is (any width and height, no mipmaps): 24-bit RGB, the
// bottom row of the picture first (texture row 0, where V = 0 of an OBJ model lies),
// rows packed with no padding, repeating, nearest filtering. A picture wider or taller
// than GL_MAX_TEXTURE_SIZE is refused from its header, before its pixels are decoded.
//
// All routines need the GL view's context current (gl/GLView.h); on return the new
// texture is bound to GL_TEXTURE_2D. The caller owns each texture name returned.
// Decoding failures throw quarvel::Error naming the file.
#pragma once

#include "image/Image.h"

#include <GL/gl.h>

#include <cstdint>
#include <string>
#include <vector>

namespace quarvel {

// Folder in which textures are looked for; set by each model loader to the folder of
// its OBJ file. Empty at start (the current folder).
extern std::string TextureDir;

// Drops name's extension (from the last '.' after the last "\", "/" or ":"), then tries
// ".png", ".bmp", ".jpg" in TextureDir: on success name gets the extension found and the
// result is true; otherwise name keeps no extension and the result is false.
bool FindTextureFile(std::string& name);

// Decoder warnings (a damaged ancillary chunk, a palette index past the palette: the
// picture still loads) are appended to `warnings` when given; otherwise each is shown
// through the message sink (common/Messages.h) under "Texture Warning".

// Texture of the file `name` (relative to TextureDir) found by FindTextureFile, loaded by
// the loader of the extension found; 0 when no file is found.
GLuint LoadTexture(std::string name, std::vector<std::string>* warnings = nullptr);

GLuint LoadPNGTexture(const std::string& fileName, std::vector<std::string>* warnings = nullptr);
GLuint LoadBMPTexture(const std::string& fileName, std::vector<std::string>* warnings = nullptr);
GLuint LoadJPEGTexture(const std::string& fileName, std::vector<std::string>* warnings = nullptr);

// The upload buffer of a decoded image: its rows from the bottom up, Width * 3 bytes each.
std::vector<uint8_t> BottomUpRows(const TDecodedImage& image);
// Makes the texture of a decoded image (see the top of this file).
GLuint BitmapToTexture(const TDecodedImage& image);

// GL_MAX_TEXTURE_SIZE of the current context: the largest width or height accepted.
int MaxTextureSize();

} // namespace quarvel
