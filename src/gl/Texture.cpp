#include "gl/Texture.h"

#include "common/Error.h"
#include "common/Messages.h"
#include "gl/GLView.h"

namespace quarvel {

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

GLuint LoadBMPTexture(const std::string& fileName, std::vector<std::string>* warnings) {
  return MakeTexture(DecodeBMP(fileName, MaxTextureSize()), warnings);
}

GLuint LoadJPEGTexture(const std::string& fileName, std::vector<std::string>* warnings) {
  return MakeTexture(DecodeJPEG(fileName, MaxTextureSize()), warnings);
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
  return CreateTexture(image.Width, image.Height, GL_RGB, rows.data(), false);
}

} // namespace quarvel
