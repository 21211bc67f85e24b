// Golden cases: sheets stored as PNG planes, with the raw files the program must write
// for them. Palettes are built and sheets finished exactly as a render job does.
#include "colour/Palette.h"
#include "image/Image.h"
#include "output/Finishing.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace quarvel {
namespace {

namespace fs = std::filesystem;

const fs::path GoldenDir = fs::path(QUARVEL_SHARED_TESTDATA) / "golden";

std::vector<uint8_t> ReadBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Grey planes decode to RGB with three equal bytes; the red byte is the plane's byte.
std::vector<uint8_t> GreyPlane(const TDecodedImage& image) {
  std::vector<uint8_t> plane(static_cast<size_t>(image.Width) * image.Height);
  for (size_t i = 0; i < plane.size(); ++i)
    plane[i] = image.Pixels[3 * i];
  return plane;
}

struct TGoldenCase {
  std::vector<TAngleSheet> Sheets;
  bool SingleOutput = false;
  std::vector<size_t> DistinctColours;
};

TGoldenCase LoadCase(const fs::path& dir) {
  TGoldenCase c;
  const nlohmann::json meta = nlohmann::json::parse(std::ifstream(dir / "meta.json"));
  c.SingleOutput = meta.at("single_output").get<bool>();
  c.DistinctColours = meta.at("distinct_colours").get<std::vector<size_t>>();
  const int angles = meta.at("angles").get<int>();
  for (int a = 0; a < angles; ++a) {
    const std::string stem = (dir / ("sheet_" + std::to_string(a))).string();
    const TDecodedImage colour = DecodePNG(stem + ".colour.png", 1 << 16);
    TAngleSheet sheet;
    sheet.SheetWidth = colour.Width;
    sheet.Height = colour.Height;
    sheet.FrameWidth = meta.at("frame_width").get<int>();
    sheet.ColourPlane.resize(colour.Pixels.size());
    for (size_t i = 0; i + 2 < colour.Pixels.size(); i += 3) { // RGB to blue, green, red
      sheet.ColourPlane[i] = colour.Pixels[i + 2];
      sheet.ColourPlane[i + 1] = colour.Pixels[i + 1];
      sheet.ColourPlane[i + 2] = colour.Pixels[i];
    }
    sheet.DepthPlane = GreyPlane(DecodePNG(stem + ".depth.png", 1 << 16));
    sheet.SidePlane = GreyPlane(DecodePNG(stem + ".side.png", 1 << 16));
    EXPECT_EQ(sheet.DepthPlane.size(), sheet.PixelCount());
    EXPECT_EQ(sheet.SidePlane.size(), sheet.PixelCount());
    c.Sheets.push_back(std::move(sheet));
  }
  return c;
}

class Golden : public ::testing::TestWithParam<std::string> {};

TEST_P(Golden, Raw2P5DFilesMatch) {
  const fs::path dir = GoldenDir / GetParam();
  if (!fs::exists(dir / "meta.json"))
    GTEST_SKIP() << "no golden data at " << dir;
  TGoldenCase c = LoadCase(dir);
  ASSERT_EQ(c.DistinctColours.size(), c.Sheets.size());
  for (size_t a = 0; a < c.Sheets.size(); ++a)
    EXPECT_EQ(DistinctColours(c.Sheets[a]).size() - ReservedEntries, c.DistinctColours[a]);

  BuildSheetPalettes(c.Sheets, c.SingleOutput, nullptr);
  for (size_t a = 0; a < c.Sheets.size(); ++a) {
    FinishSheet(c.Sheets[a]);
    const std::vector<uint8_t> expected = ReadBytes(dir / ("sheet_" + std::to_string(a) + ".2p5d"));
    const std::vector<uint8_t> got = Make2P5D(c.Sheets[a]);
    ASSERT_EQ(got.size(), expected.size()) << "sheet " << a;
    // Name the first differing byte and the part of the file it lies in.
    const size_t planes = c.Sheets[a].PixelCount();
    for (size_t i = 0; i < got.size(); ++i)
      if (got[i] != expected[i]) {
        const char* part = i < 12                ? "sizes"
                           : i < 12 + planes     ? "depth plane"
                           : i < 12 + 2 * planes ? "index plane"
                                                 : "palette";
        FAIL() << "sheet " << a << ": byte " << i << " (" << part << ") is " << int{got[i]}
               << ", expected " << int{expected[i]};
      }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, Golden,
                         ::testing::Values("few-colours", "shaded", "single-output", "noisy"),
                         [](const ::testing::TestParamInfo<std::string>& param) {
                           std::string name = param.param;
                           for (char& ch : name)
                             if (ch == '-')
                               ch = '_';
                           return name;
                         });

} // namespace
} // namespace quarvel
