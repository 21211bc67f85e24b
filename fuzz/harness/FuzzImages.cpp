#include "harness/FuzzImages.h"

#include "common/Error.h"
#include "harness/FuzzSupport.h"
#include "image/Image.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace quarvel {

namespace fs = std::filesystem;

namespace {

using TDecoder = TDecodedImage (*)(const std::string&, int);

std::string Decode(TDecoder decode, const char* extension, const uint8_t* data, size_t size) {
  const std::string file = FuzzImageFile(extension);
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    FuzzCheck(static_cast<bool>(out));
  }
  TDecodedImage image;
  try {
    image = decode(file, FuzzImageMaxDimension);
  } catch (const Error& e) {
    // Every refusal names the file it is about.
    const std::string message = e.what();
    FuzzCheck(message.compare(0, file.size(), file) == 0);
    return message;
  }
  FuzzCheck(image.Width >= 1 && image.Width <= FuzzImageMaxDimension);
  FuzzCheck(image.Height >= 1 && image.Height <= FuzzImageMaxDimension);
  FuzzCheck(image.Pixels.size() ==
            static_cast<size_t>(image.Width) * static_cast<size_t>(image.Height) * 3);
  // At most 20 warnings and the line that counts the rest.
  FuzzCheck(image.Warnings.size() <= 21);
  for (const std::string& warning : image.Warnings)
    FuzzCheck(warning.compare(0, file.size(), file) == 0);
  return "";
}

} // namespace

std::string FuzzImageFile(const std::string& extension) {
  static const TFuzzFolder folder("images");
  return (folder.Path / ("input" + extension)).string();
}

std::string FuzzPNGFile(const uint8_t* data, size_t size) {
  return Decode(DecodePNG, ".png", data, size);
}

std::string FuzzJPEGFile(const uint8_t* data, size_t size) {
  return Decode(DecodeJPEG, ".jpg", data, size);
}

std::string FuzzBMPFile(const uint8_t* data, size_t size) {
  return Decode(DecodeBMP, ".bmp", data, size);
}

} // namespace quarvel
