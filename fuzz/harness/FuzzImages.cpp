#include "harness/FuzzImages.h"

#include "common/Error.h"
#include "harness/FuzzSupport.h"
#include "image/Image.h"

namespace quarvel {

const char* const FuzzImageName = "fuzz-picture";

namespace {

using TDecoder = TDecodedImage (*)(const uint8_t*, size_t, const std::string&, int, long long);

std::string Decode(TDecoder decode, const uint8_t* data, size_t size) {
  const std::string name = FuzzImageName;
  TDecodedImage image;
  try {
    image = decode(data, size, name, FuzzImageMaxDimension, MaxImagePixels);
  } catch (const Error& e) {
    // Every refusal names the picture it is about.
    const std::string message = e.what();
    FuzzCheck(message.rfind(name + ": ", 0) == 0);
    return message;
  }
  FuzzCheck(image.Width >= 1 && image.Width <= FuzzImageMaxDimension);
  FuzzCheck(image.Height >= 1 && image.Height <= FuzzImageMaxDimension);
  FuzzCheck(image.Pixels.size() ==
            static_cast<size_t>(image.Width) * static_cast<size_t>(image.Height) * 3);
  // At most 20 warnings and the line that counts the rest.
  FuzzCheck(image.Warnings.size() <= 21);
  for (const std::string& warning : image.Warnings)
    FuzzCheck(warning.rfind(name + ": ", 0) == 0);
  return "";
}

} // namespace

std::string FuzzPNGBytes(const uint8_t* data, size_t size) {
  return Decode(DecodePNG, data, size);
}

std::string FuzzJPEGBytes(const uint8_t* data, size_t size) {
  return Decode(DecodeJPEG, data, size);
}

std::string FuzzBMPBytes(const uint8_t* data, size_t size) {
  return Decode(DecodeBMP, data, size);
}

} // namespace quarvel
