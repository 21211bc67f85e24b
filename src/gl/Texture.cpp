#include "gl/Texture.h"

#include "common/Error.h"
#include "common/Messages.h"

namespace quarvel {

namespace {

// glTexParameteri on target for wrap S, wrap T, min filter, mag filter and
// GL_GENERATE_MIPMAP, in that order.
void SetTextureParams(GLenum target, GLint wrapS, GLint wrapT, GLint minFilter, GLint magFilter,
                      GLint generateMipmap) {
  glTexParameteri(target, GL_TEXTURE_WRAP_S, wrapS);
  glTexParameteri(target, GL_TEXTURE_WRAP_T, wrapT);
  glTexParameteri(target, GL_TEXTURE_MIN_FILTER, minFilter);
  glTexParameteri(target, GL_TEXTURE_MAG_FILTER, magFilter);
  glTexParameteri(target, GL_GENERATE_MIPMAP, generateMipmap);
}

} // namespace

GLuint MakeTexture(const TDecodedImage& image, std::vector<std::string>* warnings) {
  const GLuint texture = BitmapToTexture(image);
  for (const std::string& w : image.Warnings) {
    if (warnings)
      warnings->push_back(w);
    else
      ShowMessage("Texture Warning", w);
  }
  return texture;
}

int MaxTextureSize() {
  GLint size = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &size);
  return size;
}

GLuint LoadPNGTexture(const std::string& fileName, std::vector<std::string>* warnings) {
  return MakeTexture(DecodePNG(fileName, MaxTextureSize()), warnings);
}

GLuint BitmapToTexture(const TDecodedImage& image) {
  const int maxSize = MaxTextureSize();
  if (image.Width > maxSize || image.Height > maxSize)
    throw Error("BitmapToTexture: the image of " + std::to_string(image.Width) + " x " +
                std::to_string(image.Height) + " pixels is larger than the largest texture (" +
                std::to_string(maxSize) + " x " + std::to_string(maxSize) + ")");
  const size_t row = static_cast<size_t>(image.Width) * 3;
  if (image.Width < 0 || image.Height < 0 || image.Pixels.size() < row * image.Height)
    throw Error("BitmapToTexture: the image holds fewer pixels than its size of " +
                std::to_string(image.Width) + " x " + std::to_string(image.Height));
  // The picture's top row comes first; the texture wants the bottom row first. Rows are
  // packed tightly: this relies on the unpack alignment of 1 that the view sets.
  const std::vector<uint8_t> rows = FlippedRows(image.Pixels.data(), image.Width, image.Height, 3);
  return CreateTexture(image.Width, image.Height, GL_RGB, rows.data());
}

GLuint CreateTexture(int width, int height, GLenum format, const void* data) {
  GLuint texture = 0;
  glGenTextures(1, &texture);
  glBindTexture(GL_TEXTURE_2D, texture);
  SetTextureParams(GL_TEXTURE_2D, GL_REPEAT, GL_REPEAT, GL_NEAREST, GL_NEAREST, 0);
  // GL_BGR(A) is no internal format; the texture keeps the same channels as RGB(A).
  const GLint internal = format == GL_BGRA  ? GL_RGBA
                         : format == GL_BGR ? GL_RGB
                                            : static_cast<GLint>(format);
  glTexImage2D(GL_TEXTURE_2D, 0, internal, width, height, 0, format, GL_UNSIGNED_BYTE, data);
  return texture;
}

void DrawTexturedQuad(int x, int y, int w, int h, GLuint texture) {
  glBindTexture(GL_TEXTURE_2D, texture);
  const GLfloat fx = static_cast<GLfloat>(x), fy = static_cast<GLfloat>(y);
  const GLfloat fx2 = static_cast<GLfloat>(x + w), fy2 = static_cast<GLfloat>(y + h);
  const GLfloat vertices[12] = {fx, fy, 0, fx2, fy, 0, fx2, fy2, 0, fx, fy2, 0};
  const GLfloat texCoords[8] = {0, 0, 1, 0, 1, 1, 0, 1};
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_TEXTURE_COORD_ARRAY);
  glVertexPointer(3, GL_FLOAT, 0, vertices);
  glTexCoordPointer(2, GL_FLOAT, 0, texCoords);
  glDrawArrays(GL_QUADS, 0, 4);
  glDisableClientState(GL_TEXTURE_COORD_ARRAY);
  glDisableClientState(GL_VERTEX_ARRAY);
}

} // namespace quarvel
