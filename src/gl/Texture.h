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

// Makes the texture of a decoded image (see the top of this file).
GLuint BitmapToTexture(const TDecodedImage& image);

// GL_MAX_TEXTURE_SIZE of the current context: the largest width or height accepted.
int MaxTextureSize();

// The helpers below take pixels as they are; they neither flip nor check sizes.

// A new texture name bound to GL_TEXTURE_2D: repeating, nearest filtering, no mipmaps,
// `data` uploaded with `format` as internal format too (GL_BGR and GL_BGRA as GL_RGB and
// GL_RGBA), rows as the unpack alignment of 1 reads them. The texture stays bound.
GLuint CreateTexture(int width, int height, GLenum format, const void* data);
// One rectangle (x, y) to (x + w, y + h) covered by the whole texture, texture
// coordinates (0,0) at (x, y) and (1,1) at the opposite corner.
void DrawTexturedQuad(int x, int y, int w, int h, GLuint texture);

} // namespace quarvel
