// Decoded pictures made into OpenGL 2D textures.
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

// Decoder warnings (a damaged ancillary chunk, a palette index past the palette: the
// picture still loads) are appended to `warnings` when given; otherwise each is shown
// through the message sink (common/Messages.h) under "Texture Warning".

// The texture of a decoded picture, its warnings passed on as above.
GLuint MakeTexture(const TDecodedImage& image, std::vector<std::string>* warnings = nullptr);

GLuint LoadPNGTexture(const std::string& fileName, std::vector<std::string>* warnings = nullptr);
GLuint LoadBMPTexture(const std::string& fileName, std::vector<std::string>* warnings = nullptr);
GLuint LoadJPEGTexture(const std::string& fileName, std::vector<std::string>* warnings = nullptr);

// Makes the texture of a decoded image (see the top of this file).
GLuint BitmapToTexture(const TDecodedImage& image);

// GL_MAX_TEXTURE_SIZE of the current context: the largest width or height accepted.
int MaxTextureSize();

} // namespace quarvel
