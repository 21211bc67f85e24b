#include "models/FuzzImages.h"

#include "common/Error.h"
#include "models/Image.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace quarvel {

namespace fs = std::filesystem;

namespace {

void Check(bool condition) {
  if (!condition)
    std::abort();
}

struct TFuzzFolder {
  fs::path Path;
  TFuzzFolder() {
    Path = fs::temp_directory_path() / ("quarvel-fuzz-images-" + std::to_string(::getpid()));
    fs::remove_all(Path);
    fs::create_directories(Path);
  }
  ~TFuzzFolder() {
    std::error_code ec;
    fs::remove_all(Path, ec);
  }
  TFuzzFolder(const TFuzzFolder&) = delete;
  TFuzzFolder& operator=(const TFuzzFolder&) = delete;
};

using TDecoder = TDecodedImage (*)(const std::string&, int);

std::string Decode(TDecoder decode, const char* extension, const uint8_t* data, size_t size) {
  const std::string file = FuzzImageFile(extension);
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    Check(static_cast<bool>(out));
  }
  TDecodedImage image;
  try {
    image = decode(file, FuzzImageMaxDimension);
  } catch (const Error& e) {
    // Every refusal names the file it is about.
    const std::string message = e.what();
    Check(message.compare(0, file.size(), file) == 0);
    return message;
  }
  Check(image.Width >= 1 && image.Width <= FuzzImageMaxDimension);
  Check(image.Height >= 1 && image.Height <= FuzzImageMaxDimension);
  Check(image.Pixels.size() ==
        static_cast<size_t>(image.Width) * static_cast<size_t>(image.Height) * 3);
  // At most 20 warnings and the line that counts the rest.
  Check(image.Warnings.size() <= 21);
  for (const std::string& warning : image.Warnings)
    Check(warning.compare(0, file.size(), file) == 0);
  return "";
}

} // namespace

std::string FuzzImageFile(const std::string& extension) {
  static const TFuzzFolder folder;
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
