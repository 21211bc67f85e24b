// The PNG sheets a render wrote, read back with their alpha (the program's own decoders
// drop it), and the small helpers the sheet tests share.
#pragma once

#include "cli/CliRun.h"

#include <nlohmann/json.hpp>
#include <png.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace quarvel::test {

struct TRGBAPicture {
  int Width = 0;
  int Height = 0;
  int Channels = 0;            // 1 (grey) or 4 (RGBA), as the file holds them
  std::vector<uint8_t> Pixels; // rows packed, row 0 at the top
  const uint8_t* At(int x, int y) const {
    return &Pixels[(static_cast<size_t>(y) * static_cast<size_t>(Width) + static_cast<size_t>(x)) *
                   static_cast<size_t>(Channels)];
  }
};

// The picture as libpng's simplified reader gives it: grey files as grey, others RGBA.
inline TRGBAPicture ReadSheet(const std::string& file) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  TRGBAPicture p;
  if (!png_image_begin_read_from_file(&image, file.c_str()))
    return p;
  const bool grey = (image.format & PNG_FORMAT_FLAG_COLOR) == 0;
  image.format = grey ? PNG_FORMAT_GRAY : PNG_FORMAT_RGBA;
  p.Width = static_cast<int>(image.width);
  p.Height = static_cast<int>(image.height);
  p.Channels = grey ? 1 : 4;
  p.Pixels.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, p.Pixels.data(), 0, nullptr))
    p = TRGBAPicture{};
  return p;
}

inline nlohmann::json ReadJSON(const std::string& file) {
  std::ifstream in(file);
  return nlohmann::json::parse(in, nullptr, false);
}

inline std::string Base64(const std::vector<uint8_t>& bytes) {
  static const char* const digits =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const uint32_t n = static_cast<uint32_t>(bytes[i]) << 16 |
                       (i + 1 < bytes.size() ? static_cast<uint32_t>(bytes[i + 1]) << 8 : 0) |
                       (i + 2 < bytes.size() ? bytes[i + 2] : 0);
    out += digits[n >> 18 & 63];
    out += digits[n >> 12 & 63];
    out += i + 1 < bytes.size() ? digits[n >> 6 & 63] : '=';
    out += i + 2 < bytes.size() ? digits[n & 63] : '=';
  }
  return out;
}

inline std::string ExamplesRoot() {
  return std::string(QUARVEL_SOURCE_DIR) + "/examples";
}

} // namespace quarvel::test
