#include "gl/Texture.h"
#include "common/Error.h"
#include "common/FileLookup.h"
#include "common/Messages.h"
#include "gl/GLTestUtil.h"
#include "image/Image.h"
#include "models/TextureFiles.h"

#include "TempFolder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <zlib.h>

namespace fs = std::filesystem;
using namespace quarvel;
using quarvel::test::EnsureGLView;
using quarvel::test::ExpectNoGLError;

namespace {

struct TempDir : test::TempFolder {
  TempDir() : TempFolder("texture") {}
};

// The upload buffer a texture should hold: the picture's rows from the bottom up.
std::vector<uint8_t> BottomUpRows(const TDecodedImage& image) {
  const size_t row = static_cast<size_t>(image.Width) * 3;
  std::vector<uint8_t> out;
  for (int r = image.Height - 1; r >= 0; --r)
    out.insert(out.end(), image.Pixels.begin() + static_cast<ptrdiff_t>(row * r),
               image.Pixels.begin() + static_cast<ptrdiff_t>(row * (r + 1)));
  return out;
}

// A material's texture as a model's GL side makes it: found by base name in `dir`,
// decoded, uploaded; 0 when no file is found.
GLuint LoadTexture(const std::string& dir, std::string name) {
  if (!FindTextureFile(dir, name))
    return 0;
  return MakeTexture(DecodeTextureFile(JoinPath(dir, name), MaxTextureSize()));
}

void PutLE(std::vector<uint8_t>& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i)
    out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

std::vector<uint8_t> BMPHeaders(int width, int height, int bits, uint32_t paletteEntries,
                                uint32_t pixelBytes) {
  const uint32_t offset = 14 + 40 + paletteEntries * 4;
  std::vector<uint8_t> b = {'B', 'M'};
  PutLE(b, offset + pixelBytes, 4);
  PutLE(b, 0, 4);
  PutLE(b, offset, 4);
  PutLE(b, 40, 4);
  PutLE(b, static_cast<uint32_t>(width), 4);
  PutLE(b, static_cast<uint32_t>(height), 4);
  PutLE(b, 1, 2);
  PutLE(b, static_cast<uint32_t>(bits), 2);
  PutLE(b, 0, 4); // uncompressed
  PutLE(b, pixelBytes, 4);
  PutLE(b, 2835, 4);
  PutLE(b, 2835, 4);
  PutLE(b, paletteEntries, 4);
  PutLE(b, 0, 4);
  return b;
}

void WriteBytes(const std::string& file, const std::vector<uint8_t>& bytes) {
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// A 24-bit bottom-up BMP of a decoded picture (rows padded to four bytes).
void WriteBMP(const std::string& file, const TDecodedImage& image) {
  const size_t row = static_cast<size_t>(image.Width) * 3;
  const size_t padded = (row + 3) / 4 * 4;
  std::vector<uint8_t> b =
      BMPHeaders(image.Width, image.Height, 24, 0, static_cast<uint32_t>(padded * image.Height));
  for (int y = image.Height - 1; y >= 0; --y) {
    for (int x = 0; x < image.Width; ++x) {
      const uint8_t* p = &image.Pixels[y * row + x * 3];
      b.insert(b.end(), {p[2], p[1], p[0]});
    }
    b.insert(b.end(), padded - row, 0);
  }
  WriteBytes(file, b);
}

// A baseline JPEG at quality 100 without chroma subsampling.
void WriteJPEG(const std::string& file, const TDecodedImage& image) {
  FILE* out = std::fopen(file.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, out);
  cinfo.image_width = static_cast<JDIMENSION>(image.Width);
  cinfo.image_height = static_cast<JDIMENSION>(image.Height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 100, TRUE);
  for (int c = 0; c < 3; ++c)
    cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
  jpeg_start_compress(&cinfo, TRUE);
  const size_t row = static_cast<size_t>(image.Width) * 3;
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW line = const_cast<JSAMPROW>(&image.Pixels[cinfo.next_scanline * row]);
    jpeg_write_scanlines(&cinfo, &line, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::fclose(out);
}

// 16 x 16, four flat 8 x 8 quarters (so JPEG keeps them nearly exact).
TDecodedImage Quarters() {
  TDecodedImage image;
  image.Width = image.Height = 16;
  image.Pixels.resize(16 * 16 * 3);
  const uint8_t colours[4][3] = {{200, 30, 30}, {30, 190, 60}, {20, 40, 220}, {250, 240, 20}};
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      for (int c = 0; c < 3; ++c)
        image.Pixels[(y * 16 + x) * 3 + c] = colours[(y / 8) * 2 + x / 8][c];
  return image;
}

// Texels of the bound 2D texture as RGB, texture row 0 first.
std::vector<uint8_t> BoundTexels(int& width, int& height) {
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &height);
  std::vector<uint8_t> texels(static_cast<size_t>(width) * height * 3 + 16, 0xAB);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, texels.data());
  return texels;
}

std::vector<int> Pixel(const std::vector<uint8_t>& px, int w, int bpp, int x, int y) {
  const uint8_t* p = &px.at((static_cast<size_t>(y) * w + x) * bpp);
  return std::vector<int>(p, p + bpp);
}

} // namespace

TEST(Texture, RowsGoUpBottomFirstWithoutPadding) {
  EnsureGLView();
  // 3 pixels wide: 9-byte rows, which a four-byte alignment would pad to 12.
  TDecodedImage image;
  image.Width = 3;
  image.Height = 2;
  for (int i = 0; i < 18; ++i)
    image.Pixels.push_back(static_cast<uint8_t>(10 + i));
  const std::vector<uint8_t> expected = {19, 20, 21, 22, 23, 24, 25, 26, 27,
                                         10, 11, 12, 13, 14, 15, 16, 17, 18};
  EXPECT_EQ(BottomUpRows(image), expected);
  const GLuint texture = BitmapToTexture(image);
  ASSERT_NE(texture, 0u);
  GLint bound = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  EXPECT_EQ(static_cast<GLuint>(bound), texture);
  int w = 0, h = 0;
  std::vector<uint8_t> texels = BoundTexels(w, h);
  EXPECT_EQ(w, 3);
  EXPECT_EQ(h, 2);
  EXPECT_EQ(std::vector<uint8_t>(texels.begin(), texels.begin() + 18), expected);
  EXPECT_EQ(texels[18], 0xAB) << "the texture is larger than 3 x 2 x 3 bytes";
  GLint minFilter = 0, wrapT = 0;
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &wrapT);
  EXPECT_EQ(minFilter, GL_NEAREST);
  EXPECT_EQ(wrapT, GL_REPEAT);
  glDeleteTextures(1, &texture);

  // Sizes are kept as they are: no power-of-two rounding.
  for (auto [iw, ih] : {std::pair{1, 1}, std::pair{300, 200}}) {
    TDecodedImage other;
    other.Width = iw;
    other.Height = ih;
    other.Pixels.assign(static_cast<size_t>(iw) * ih * 3, 77);
    const GLuint t = BitmapToTexture(other);
    BoundTexels(w, h);
    EXPECT_EQ(w, iw);
    EXPECT_EQ(h, ih);
    glDeleteTextures(1, &t);
  }
  ExpectNoGLError("bottom-up rows");
}

TEST(Texture, PNGBMPAndJPEGOfOnePictureGiveTheSameTexels) {
  EnsureGLView();
  TempDir dir;
  const TDecodedImage picture = Quarters();
  WritePNG(dir / "pic.png", 16, 16, 3, picture.Pixels.data());
  WriteBMP(dir / "pic.bmp", picture);
  WriteJPEG(dir / "pic.jpg", picture);
  const std::vector<uint8_t> expected = BottomUpRows(picture);

  auto texelsOf = [&](GLuint texture) {
    EXPECT_NE(texture, 0u);
    int w = 0, h = 0;
    std::vector<uint8_t> texels = BoundTexels(w, h);
    EXPECT_EQ(w, 16);
    EXPECT_EQ(h, 16);
    texels.resize(expected.size());
    glDeleteTextures(1, &texture);
    return texels;
  };
  EXPECT_EQ(texelsOf(LoadPNGTexture(dir / "pic.png")), expected);
  EXPECT_EQ(texelsOf(MakeTexture(DecodeBMP(dir / "pic.bmp", MaxTextureSize()))), expected);
  const std::vector<uint8_t> jpeg =
      texelsOf(MakeTexture(DecodeJPEG(dir / "pic.jpg", MaxTextureSize())));
  int worst = 0;
  for (size_t i = 0; i < expected.size(); ++i)
    worst = std::max(worst, std::abs(int(jpeg[i]) - int(expected[i])));
  EXPECT_LE(worst, 4) << "JPEG texels stray further than its loss allows";
  ExpectNoGLError("three formats");
}

TEST(Texture, FindingTextureFilesByBaseName) {
  EnsureGLView();
  TempDir dir;
  const std::string folder = dir.path.string() + "/";
  std::string name = "stone.tga";
  EXPECT_FALSE(FindTextureFile(folder, name));
  EXPECT_EQ(name, "stone");
  EXPECT_EQ(LoadTexture(folder, "stone.tga"), 0u);

  // The first of .png, .bmp, .jpg that exists, whatever the material wrote.
  WriteJPEG(dir / "stone.jpg", Quarters());
  name = "stone.tga";
  EXPECT_TRUE(FindTextureFile(folder, name));
  EXPECT_EQ(name, "stone.jpg");
  WriteBMP(dir / "stone.bmp", Quarters());
  name = "stone.jpg";
  EXPECT_TRUE(FindTextureFile(folder, name));
  EXPECT_EQ(name, "stone.bmp");
  WritePNG(dir / "stone.png", 16, 16, 3, Quarters().Pixels.data());
  name = "stone";
  EXPECT_TRUE(FindTextureFile(folder, name));
  EXPECT_EQ(name, "stone.png");

  // A dot in a folder name is no extension; "\" separates like "/"; case is ignored.
  fs::create_directories(dir.path / "Maps.v2");
  WritePNG(dir / "Maps.v2/Wood.PNG", 16, 16, 3, Quarters().Pixels.data());
  name = "maps.v2\\wood";
  EXPECT_TRUE(FindTextureFile(folder, name));
  EXPECT_EQ(name, "maps.v2\\wood.png");
  const GLuint texture = LoadTexture(folder, "MAPS.V2\\wood.jpg");
  EXPECT_NE(texture, 0u);
  int w = 0, h = 0;
  BoundTexels(w, h);
  EXPECT_EQ(w, 16);
  glDeleteTextures(1, &texture);

  // A file that exists but is no picture: the decoder's error reaches the caller.
  dir.Touch("broken.png");
  EXPECT_THROW(LoadTexture(folder, "broken"), Error);
  ExpectNoGLError("finding files");
}

TEST(Texture, OversizedPicturesAreRefusedBeforeDecoding) {
  EnsureGLView();
  TempDir dir;
  const int tooBig = MaxTextureSize() + 1;
  ASSERT_GT(tooBig, 1);
  // An IHDR for tooBig x 1 RGB, then an IDAT of bytes that are no zlib stream: only a
  // decoder that stops at the header reports the size rather than the broken data.
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  auto chunk = [&png](const char* type, std::vector<uint8_t> data) {
    auto put32 = [&png](uint32_t v) {
      for (int s = 24; s >= 0; s -= 8)
        png.push_back(static_cast<uint8_t>(v >> s));
    };
    put32(static_cast<uint32_t>(data.size()));
    data.insert(data.begin(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    put32(static_cast<uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size()))));
  };
  std::vector<uint8_t> ihdr;
  for (uint32_t v : {static_cast<uint32_t>(tooBig), 1u})
    for (int s = 24; s >= 0; s -= 8)
      ihdr.push_back(static_cast<uint8_t>(v >> s));
  ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
  chunk("IHDR", ihdr);
  chunk("IDAT", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
  chunk("IEND", {});
  WriteBytes(dir / "huge.png", png);
  try {
    LoadPNGTexture(dir / "huge.png");
    ADD_FAILURE() << "an oversized PNG was accepted";
  } catch (const Error& e) {
    const std::string message = e.what();
    EXPECT_NE(message.find("huge.png"), std::string::npos) << message;
    EXPECT_NE(message.find(std::to_string(tooBig)), std::string::npos) << message;
  }
  TDecodedImage wide;
  wide.Width = tooBig;
  wide.Height = 1;
  EXPECT_THROW(BitmapToTexture(wide), Error);
  ExpectNoGLError("oversized");
}

TEST(Texture, DecoderWarningsAreReportedNotDropped) {
  EnsureGLView();
  TempDir dir;
  // 8-bit BMP, 2 x 1, one palette entry; the second pixel indexes past the palette.
  std::vector<uint8_t> bmp = BMPHeaders(2, 1, 8, 1, 4);
  bmp.insert(bmp.end(), {10, 20, 30, 0}); // palette: blue, green, red, unused
  bmp.insert(bmp.end(), {0, 5, 0, 0});    // one row, padded to four bytes
  WriteBytes(dir / "pal.bmp", bmp);

  std::vector<std::string> warnings;
  GLuint texture = MakeTexture(DecodeBMP(dir / "pal.bmp", MaxTextureSize()), &warnings);
  EXPECT_NE(texture, 0u);
  glDeleteTextures(1, &texture);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("pal.bmp"), std::string::npos) << warnings[0];

  std::vector<std::pair<std::string, std::string>> shown;
  SetMessageSink(
      [&](const std::string& title, const std::string& text) { shown.emplace_back(title, text); });
  texture = MakeTexture(DecodeBMP(dir / "pal.bmp", MaxTextureSize()));
  SetMessageSink({});
  glDeleteTextures(1, &texture);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].first, "Texture Warning");
  EXPECT_EQ(shown[0].second, warnings[0]);
  ExpectNoGLError("warnings");
}

TEST(Texture, TexturedQuadCoversTheViewWithTheTextureUpright) {
  TOGL& view = EnsureGLView();
  // Texture rows bottom first: (0,0) red, (1,0) green / (0,1) blue, (1,1) white.
  const uint8_t rgba[16] = {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 255};
  const GLuint texture = CreateTexture(2, 2, GL_RGBA, rgba);
  glClearColor(0, 0, 0, 1);
  view.BeginFrame();
  view.Begin2D();
  glColor4f(1, 1, 1, 1);
  DrawTexturedQuad(0, 0, view.Width(), view.Height(), texture);
  view.End2D();
  glDisable(GL_DEPTH_TEST);
  view.EndFrame();
  const std::vector<uint8_t> px = view.ReadPixels(GL_RGB);
  const int w = view.Width(), h = view.Height();
  EXPECT_EQ(Pixel(px, w, 3, 0, 0), (std::vector<int>{255, 0, 0}));
  EXPECT_EQ(Pixel(px, w, 3, w - 1, 0), (std::vector<int>{0, 255, 0}));
  EXPECT_EQ(Pixel(px, w, 3, 0, h - 1), (std::vector<int>{0, 0, 255}));
  EXPECT_EQ(Pixel(px, w, 3, w - 1, h - 1), (std::vector<int>{255, 255, 255}));
  glDeleteTextures(1, &texture);
  ExpectNoGLError("textured quad");
}

TEST(Texture, CreatedTexturesHoldTheRowsAsGiven) {
  EnsureGLView();
  // 2 x 3 four-byte image whose bytes count up: row r starts at byte 8 r. It goes up
  // flipped, as a picture stored top row first does.
  std::vector<uint8_t> image(24);
  for (size_t i = 0; i < image.size(); ++i)
    image[i] = static_cast<uint8_t>(i);
  const std::vector<uint8_t> flipped = FlippedRows(image.data(), 2, 3, 4);
  ASSERT_EQ(flipped.size(), 24u);
  EXPECT_EQ(std::vector<uint8_t>(flipped.begin(), flipped.begin() + 8),
            std::vector<uint8_t>(image.begin() + 16, image.end()));
  EXPECT_EQ(std::vector<uint8_t>(flipped.begin() + 16, flipped.end()),
            std::vector<uint8_t>(image.begin(), image.begin() + 8));

  const GLuint texture = CreateTexture(2, 3, GL_RGBA, flipped.data());
  GLint bound = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  EXPECT_EQ(static_cast<GLuint>(bound), texture);
  std::vector<uint8_t> back(24, 0);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, back.data());
  EXPECT_EQ(back, flipped);
  GLint genMipmap = 1, magFilter = 0, wrapS = 0;
  glGetTexParameteriv(GL_TEXTURE_2D, GL_GENERATE_MIPMAP, &genMipmap);
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &magFilter);
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &wrapS);
  EXPECT_EQ(genMipmap, 0);
  EXPECT_EQ(magFilter, GL_NEAREST);
  EXPECT_EQ(wrapS, GL_REPEAT);
  glDeleteTextures(1, &texture);
  ExpectNoGLError("texture creation");
}
