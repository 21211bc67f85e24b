#include "models/Texture.h"

#include "common/Error.h"
#include "common/FileLookup.h"
#include "common/Messages.h"
#include "gl/GLView.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace quarvel {

std::string TextureDir;

namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

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

} // namespace

int MaxTextureSize() {
  GLint size = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &size);
  return size;
}

bool FindTextureFile(std::string& name) {
  const size_t cut = name.find_last_of("\\/:");
  const size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && (cut == std::string::npos || dot > cut))
    name.erase(dot);
  for (const char* ext : {".png", ".bmp", ".jpg"}) {
    if (FileExists(JoinPath(TextureDir, name + ext))) {
      name += ext;
      return true;
    }
  }
  return false;
}

GLuint LoadTexture(std::string name, std::vector<std::string>* warnings) {
  if (!FindTextureFile(name))
    return 0;
  const std::string path = JoinPath(TextureDir, name);
  const std::string ext = Lower(name.substr(name.find_last_of('.')));
  if (ext == ".jpg")
    return LoadJPEGTexture(path, warnings);
  if (ext == ".png")
    return LoadPNGTexture(path, warnings);
  if (ext == ".bmp")
    return LoadBMPTexture(path, warnings);
  return 0;
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

std::vector<uint8_t> BottomUpRows(const TDecodedImage& image) {
  const size_t row = static_cast<size_t>(image.Width) * 3;
  if (image.Width < 0 || image.Height < 0 || image.Pixels.size() < row * image.Height)
    throw Error("BitmapToTexture: the image holds fewer pixels than its size of " +
                std::to_string(image.Width) + " x " + std::to_string(image.Height));
  std::vector<uint8_t> out(row * image.Height);
  for (int r = 0; r < image.Height; ++r)
    std::memcpy(out.data() + static_cast<size_t>(image.Height - 1 - r) * row,
                image.Pixels.data() + static_cast<size_t>(r) * row, row);
  return out;
}

GLuint BitmapToTexture(const TDecodedImage& image) {
  const int maxSize = MaxTextureSize();
  if (image.Width > maxSize || image.Height > maxSize)
    throw Error("BitmapToTexture: the image of " + std::to_string(image.Width) + " x " +
                std::to_string(image.Height) + " pixels is larger than the largest texture (" +
                std::to_string(maxSize) + " x " + std::to_string(maxSize) + ")");
  const std::vector<uint8_t> rows = BottomUpRows(image);
  // Rows are packed tightly: this relies on the unpack alignment of 1 that the view sets.
  return CreateTexture(image.Width, image.Height, GL_RGB, rows.data(), false);
}

} // namespace quarvel
