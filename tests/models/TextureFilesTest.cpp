// The one texture loading of a model: each file decoded once and shared, pictures refused
// from their header, the job's decoded memory bounded, and every texture that cannot be
// used reported as a warning at its map_kd line.
#include "ModelTestUtil.h"
#include "support/TestSystem.h"

#include "common/Error.h"
#include "common/FileLookup.h"
#include "common/Interrupt.h"
#include "image/Image.h"
#include "models/ModelLoader.h"
#include "models/TextureFiles.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <vector>

namespace quarvel {
namespace {

namespace fs = std::filesystem;
using test::ScratchDir;

uint32_t Crc32(const uint8_t* data, size_t size) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k)
      crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void PutU32(std::string& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out += static_cast<char>((v >> shift) & 0xFF);
}

// A PNG file whose header declares width x height RGB pixels, followed by a few bytes of
// pixel data: what a decompression bomb looks like before its data is inflated.
std::string PngHeaderOnly(uint32_t width, uint32_t height) {
  std::string out = "\x89PNG\r\n\x1a\n";
  std::string ihdr = "IHDR";
  PutU32(ihdr, width);
  PutU32(ihdr, height);
  ihdr += std::string("\x08\x02\x00\x00\x00", 5);
  PutU32(out, 13);
  out += ihdr;
  PutU32(out, Crc32(reinterpret_cast<const uint8_t*>(ihdr.data()), ihdr.size()));
  std::string idat = "IDAT" + std::string("\x78\x9c\x03\x00", 4);
  PutU32(out, 4);
  out += idat;
  PutU32(out, Crc32(reinterpret_cast<const uint8_t*>(idat.data()), idat.size()));
  return out;
}

void WriteTexture(const ScratchDir& dir, const std::string& name, int width, int height) {
  std::vector<uint8_t> pixels(static_cast<size_t>(width * height * 3), 0x80);
  fs::create_directories(fs::path(dir.Path() + "/" + name).parent_path());
  WritePNG(dir.Path() + "/" + name, width, height, 3, pixels.data());
}

std::unique_ptr<TOBJFile> LoadModel(const std::string& root, const std::string& name) {
  return LoadOBJModel(root, name, name);
}

} // namespace

TEST(ModelTextures, EachFileDecodedOnceAndEveryUnusableTextureWarnedAtItsLine) {
  ScratchDir outer;
  const std::string root = outer.Path() + "/root";
  ScratchDir& dir = outer;
  dir.Write("root/units/m.obj", "mtllib m.mtl\nv 0 0 0\nusemtl a\nf 1 1 1\n");
  dir.Write("root/units/m.mtl", "newmtl a\nmap_Kd good.png\n"
                                "newmtl b\nmap_Kd GOOD.jpg\n"
                                "newmtl c\nmap_Kd good.png\n"
                                "newmtl d\nmap_Kd good.tga\n"
                                "newmtl e\nmap_Kd missing.png\n"
                                "newmtl f\nmap_Kd bomb.png\n"
                                "newmtl g\nmap_Kd cut.png\n"
                                "newmtl h\nmap_Kd ../../etc/passwd\n"
                                "newmtl i\nmap_Kd link.png\n"
                                "newmtl j\n");
  WriteTexture(dir, "root/units/good.png", 4, 2);
  dir.Write("root/units/bomb.png", PngHeaderOnly(16000, 16000));
  WriteTexture(dir, "cut-source.png", 4, 2);
  const std::string source = ReadWholeFile(dir.Path() + "/cut-source.png");
  dir.Write("root/units/cut.png", source.substr(0, source.size() - 20));
  WriteTexture(dir, "outside.png", 2, 2);
  // Where no link can be made, link.png is simply missing.
  if (test::HasSymbolicLinks)
    fs::create_symlink(dir.Path() + "/outside.png", root + "/units/link.png");

  auto model = LoadModel(root, "units/m");
  TTextureSet set;
  std::vector<std::string> warnings;
  const TModelTextures textures = LoadModelTextures(*model, set, warnings);

  // Four materials name one file (by other cases and extensions): one decode, one picture.
  EXPECT_EQ(set.Decodes, 1);
  ASSERT_EQ(textures.Images.size(), 1u);
  EXPECT_EQ(textures.Images[0]->Width, 4);
  EXPECT_EQ(textures.ImageOfMaterial, (std::vector<int32_t>{0, 0, 0, 0, -1, -1, -1, -1, -1, -1}));
  EXPECT_EQ(set.DecodedBytes, 4u * 2u * 3u);

  const std::string tail = "; drawn without texture (model units/m.obj)";
  const std::vector<std::string> expected = {
      "units/m.mtl:10: texture 'missing.png' not found: no units/missing.png, .bmp or .jpg" + tail,
      "units/m.mtl:12: texture units/bomb.png cannot be used: image is 16000 x 16000 pixels "
      "(256000000), more than the 67108864 pixels a picture may have (--max-texture-pixels "
      "raises the limit)" +
          tail,
      "units/m.mtl:14: texture units/cut.png cannot be used: PNG file is truncated" + tail,
      "units/m.mtl:16: texture refused: units/../../etc/passwd.png is outside the root folder " +
          root + " (inputs are read only from below the root, --allow-outside-root lifts this)" +
          tail,
      test::HasSymbolicLinks
          ? "units/m.mtl:18: texture refused: units/link.png is outside the root folder " + root +
                " (it leads to " + fs::canonical(dir.Path() + "/outside.png").string() +
                "; inputs are read only from below the root, --allow-outside-root lifts this)" +
                tail
          : "units/m.mtl:18: texture 'link.png' not found: no units/link.png, .bmp or .jpg" + tail,
  };
  EXPECT_EQ(warnings, expected);

  // A second model naming the same file, through the same set: still one decode.
  dir.Write("root/units/n.obj", "mtllib m.mtl\n");
  std::vector<std::string> more;
  LoadModelTextures(*LoadModel(root, "units/n"), set, more);
  EXPECT_EQ(set.Decodes, 1);
}

TEST(ModelTextures, LimitsRefuseFromTheHeaderAndBoundTheJob) {
  ScratchDir dir;
  dir.Write("m.obj", "mtllib m.mtl\n");
  dir.Write("m.mtl", "newmtl a\nmap_Kd one.png\nnewmtl b\nmap_Kd two.png\n");
  WriteTexture(dir, "one.png", 4, 2);
  WriteTexture(dir, "two.png", 4, 2);
  auto model = LoadModel(dir.Path(), "m");

  struct Case {
    long long maxPixels;
    uint64_t maxBytes;
    std::vector<int32_t> images; // per material
    size_t warnings;
    std::string error; // "" = none
  } cases[] = {
      {64, 1024, {0, 1}, 0, ""},
      {8, 48, {0, 1}, 0, ""},     // exactly the limits
      {7, 1024, {-1, -1}, 2, ""}, // each picture refused alone: warnings
      {64,
       47,
       {},
       0,
       "m.mtl:4: texture two.png (4 x 2 pixels) would bring the job's decoded "
       "textures to 1 MiB, more than the 47 bytes one job may hold"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.maxBytes);
    TTextureLimits limits;
    limits.MaxPixels = c.maxPixels;
    limits.MaxTotalBytes = c.maxBytes;
    TTextureSet set(limits);
    std::vector<std::string> warnings;
    try {
      const TModelTextures t = LoadModelTextures(*model, set, warnings);
      EXPECT_EQ(c.error, "");
      EXPECT_EQ(t.ImageOfMaterial, c.images);
      EXPECT_EQ(warnings.size(), c.warnings);
      for (const std::string& w : warnings)
        EXPECT_NE(w.find("more than the 7 pixels a picture may have (--max-texture-pixels"),
                  std::string::npos)
            << w;
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()).substr(0, c.error.size()), c.error);
      EXPECT_NE(c.error, "");
    }
  }
}

TEST(ModelTextures, AnInterruptStopsTheDecodeInsteadOfBecomingAWarning) {
  ScratchDir dir;
  dir.Write("m.obj", "mtllib m.mtl\n");
  dir.Write("m.mtl", "newmtl a\nmap_Kd one.png\n");
  WriteTexture(dir, "one.png", 4, 2);
  auto model = LoadModel(dir.Path(), "m");
  TTextureSet set;
  std::vector<std::string> warnings;
  RequestInterrupt(2);
  EXPECT_THROW(LoadModelTextures(*model, set, warnings), Interrupted);
  ClearInterrupt();
  EXPECT_TRUE(warnings.empty());
}

} // namespace quarvel
