// Image decoders (from files and from memory) and the PNG writer. The test pictures are made
// here: PNG through libpng (and WritePNG), JPEG through libjpeg, BMP byte by byte, so every
// variant is known exactly.

#include "common/Error.h"
#include "image/Image.h"

#include "TempFolder.h"
#include "support/TestSystem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <png.h>
#include <zlib.h>
// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

namespace fs = std::filesystem;
using namespace quarvel;

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int MaxSize = 4096;

struct TempDir : test::TempFolder {
  TempDir() : TempFolder("image") {}
  std::string File(const std::string& name) const { return *this / name; }
  std::string Put(const std::string& name, const Bytes& bytes) const {
    std::ofstream(File(name), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return File(name);
  }
};

Bytes ReadFile(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  const std::string s = text.str();
  return Bytes(s.begin(), s.end());
}

// The reference picture: 13 x 9 (odd, so BMP rows need padding) in blocks of 4 x 3 of up
// to sixteen colours, so that palette formats hold it and a JPEG of it stays close.
constexpr int W = 13;
constexpr int H = 9;
// clang-format off
const uint8_t Colours[16][3] = {
    {0, 0, 0}, {255, 255, 255}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0},
    {0, 255, 255}, {255, 0, 255}, {128, 64, 32}, {32, 64, 128}, {200, 150, 100},
    {10, 20, 30}, {90, 180, 45}, {250, 128, 5}, {60, 60, 60}, {140, 210, 230}};
// clang-format on

// Palette indices, row 0 at the top; pixel (0, 0) is colour 0, pixel (1, 0) colour 1.
std::vector<int> Indexes(int colours) {
  std::vector<int> out;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      out.push_back((x / 4 + (y / 3) * 4 + (x == 0 && y == 0 ? 0 : 1)) % colours);
  return out;
}

Bytes Rgb(int colours = 16) {
  Bytes out;
  for (int i : Indexes(colours))
    out.insert(out.end(), Colours[i], Colours[i] + 3);
  return out;
}

// A grey picture with a different level in every pixel, and the same as RGB.
Bytes Grey() {
  Bytes out;
  for (int i = 0; i < W * H; ++i)
    out.push_back(static_cast<uint8_t>((i * 37 + 11) % 256));
  return out;
}
Bytes GreyAsRgb() {
  Bytes out;
  for (uint8_t g : Grey())
    out.insert(out.end(), 3, g);
  return out;
}

// Adds an alpha channel that takes many values, zero (fully transparent) included.
Bytes WithAlpha(const Bytes& pixels, size_t channels) {
  Bytes out;
  for (size_t i = 0; i < pixels.size() / channels; ++i) {
    out.insert(out.end(), pixels.begin() + i * channels, pixels.begin() + (i + 1) * channels);
    out.push_back(static_cast<uint8_t>(i % 3 == 0 ? 0 : i * 29));
  }
  return out;
}

// Packs values of 1, 2, 4 or 8 bits, the first in the high bits.
Bytes PackRow(const std::vector<int>& values, int bits) {
  Bytes row((values.size() * static_cast<size_t>(bits) + 7) / 8, 0);
  for (size_t i = 0; i < values.size(); ++i) {
    const size_t bit = i * static_cast<size_t>(bits);
    row[bit / 8] |= static_cast<uint8_t>(values[i] << (8 - bits - static_cast<int>(bit % 8)));
  }
  return row;
}

// ----- PNG through libpng, any layout (libpng aborts on an error here) -----------------

struct PngLayout {
  int ColourType = PNG_COLOR_TYPE_RGB;
  int BitDepth = 8;
  bool Interlaced = false;
  std::vector<Bytes> Rows;
  int PaletteSize = 0; // first entries of Colours
  Bytes Trans;         // tRNS alphas of the palette
};

extern "C" void AppendPng(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}
extern "C" void FlushPng(png_structp) {}

Bytes MakePng(const PngLayout& layout) {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &out, AppendPng, FlushPng);
  png_set_IHDR(png, info, W, H, layout.BitDepth, layout.ColourType,
               layout.Interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  std::vector<png_color> palette;
  for (int i = 0; i < layout.PaletteSize; ++i)
    palette.push_back({Colours[i][0], Colours[i][1], Colours[i][2]});
  if (!palette.empty())
    png_set_PLTE(png, info, palette.data(), layout.PaletteSize);
  if (!layout.Trans.empty())
    png_set_tRNS(png, info, layout.Trans.data(), static_cast<int>(layout.Trans.size()), nullptr);
  png_write_info(png, info);
  std::vector<png_bytep> rows;
  for (const Bytes& row : layout.Rows)
    rows.push_back(const_cast<png_bytep>(row.data()));
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

PngLayout PalettePng(int colours, int bits, bool interlaced = false) {
  PngLayout layout{PNG_COLOR_TYPE_PALETTE, bits, interlaced, {}, colours, {}};
  const std::vector<int> indexes = Indexes(colours);
  for (int y = 0; y < H; ++y)
    layout.Rows.push_back(
        PackRow(std::vector<int>(indexes.begin() + y * W, indexes.begin() + (y + 1) * W), bits));
  return layout;
}

// Rows of `channels` samples per pixel; for 16 bits each sample v becomes v * 257.
PngLayout SamplePng(int colourType, const Bytes& pixels, int bitDepth, bool interlaced = false) {
  PngLayout layout{colourType, bitDepth, interlaced, {}, 0, {}};
  const size_t rowSamples = pixels.size() / H;
  for (size_t y = 0; y < H; ++y) {
    Bytes row;
    for (size_t i = 0; i < rowSamples; ++i)
      row.insert(row.end(), bitDepth == 16 ? 2 : 1, pixels[y * rowSamples + i]);
    layout.Rows.push_back(row);
  }
  return layout;
}

// ----- BMP byte by byte ----------------------------------------------------------------

void Put16(Bytes& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(Bytes& b, size_t at, uint32_t v) {
  Put16(b, at, v);
  Put16(b, at + 2, v >> 16);
}

struct BmpLayout {
  int Bits = 24;
  bool TopDown = false;
  int PaletteSize = 0;         // entries written for 1, 4 and 8 bits
  std::vector<uint32_t> Masks; // red, green, blue masks (BI_BITFIELDS) for 16 and 32 bits
};

// A BMP with a 40-byte header of the reference picture drawn with `colours` colours.
Bytes MakeBmp(const BmpLayout& layout, int colours = 16) {
  const size_t stride = (static_cast<size_t>(W * layout.Bits) + 31) / 32 * 4;
  const size_t offset = 54 + layout.Masks.size() * 4 + static_cast<size_t>(layout.PaletteSize) * 4;
  Bytes b(offset + stride * H, 0);
  b[0] = 'B';
  b[1] = 'M';
  Put32(b, 2, static_cast<uint32_t>(b.size()));
  Put32(b, 10, static_cast<uint32_t>(offset));
  Put32(b, 14, 40);
  Put32(b, 18, W);
  Put32(b, 22, static_cast<uint32_t>(layout.TopDown ? -H : H));
  Put16(b, 26, 1);
  Put16(b, 28, static_cast<uint32_t>(layout.Bits));
  Put32(b, 30, layout.Masks.empty() ? 0 : 3);
  Put32(b, 46, static_cast<uint32_t>(layout.PaletteSize));
  for (size_t i = 0; i < layout.Masks.size(); ++i)
    Put32(b, 54 + 4 * i, layout.Masks[i]);
  for (int i = 0; i < layout.PaletteSize; ++i)
    for (int c = 0; c < 3; ++c)
      b[54 + layout.Masks.size() * 4 + 4 * static_cast<size_t>(i) + static_cast<size_t>(c)] =
          Colours[i][2 - c];
  const std::vector<int> indexes = Indexes(colours);
  for (int y = 0; y < H; ++y) {
    uint8_t* row = b.data() + offset + static_cast<size_t>(layout.TopDown ? y : H - 1 - y) * stride;
    const std::vector<int> line(indexes.begin() + y * W, indexes.begin() + (y + 1) * W);
    if (layout.Bits <= 8) {
      const Bytes packed = PackRow(line, layout.Bits);
      std::copy(packed.begin(), packed.end(), row);
      continue;
    }
    for (int x = 0; x < W; ++x) {
      const uint8_t* c = Colours[line[static_cast<size_t>(x)]];
      uint32_t value = 0;
      for (int k = 0; k < 3 && !layout.Masks.empty(); ++k) {
        // The component's top bits in its mask's place.
        const uint32_t mask = layout.Masks[static_cast<size_t>(k)];
        int shift = 0, bits = 0;
        while (((mask >> shift) & 1) == 0)
          ++shift;
        while (shift + bits < 32 && ((mask >> (shift + bits)) & 1) != 0)
          ++bits;
        value |= static_cast<uint32_t>(c[k] >> (8 - bits)) << shift;
      }
      if (layout.Masks.empty()) // blue, green, red, and for 32 bits an unused byte
        value = static_cast<uint32_t>(c[2] | c[1] << 8 | c[0] << 16) | 0x5A000000u;
      for (int k = 0; k < layout.Bits / 8; ++k)
        row[x * layout.Bits / 8 + k] = static_cast<uint8_t>(value >> (8 * k));
    }
  }
  return b;
}

// ----- JPEG through libjpeg at quality 100, no chroma subsampling -------------------------

Bytes MakeJpeg(const Bytes& pixels, int components, J_COLOR_SPACE space, bool progressive = false) {
  jpeg_compress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = W;
  info.image_height = H;
  info.input_components = components;
  info.in_color_space = space;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 100, TRUE);
  for (int c = 0; c < info.num_components; ++c)
    info.comp_info[c].h_samp_factor = info.comp_info[c].v_samp_factor = 1;
  if (progressive)
    jpeg_simple_progression(&info);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(pixels.data()) +
                   static_cast<size_t>(info.next_scanline) * static_cast<size_t>(W * components);
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  Bytes out(buffer, buffer + size);
  std::free(buffer);
  return out;
}

// ----- checks ----------------------------------------------------------------------------

using Decoder = TDecodedImage (*)(const std::string&, int, long long);

// The message of the quarvel::Error the decoder throws ("" when it throws none).
std::string ErrorOf(Decoder decode, const std::string& file, int maxDimension = MaxSize) {
  try {
    decode(file, maxDimension, MaxImagePixels);
  } catch (const Error& e) {
    return e.what();
  }
  return "";
}

bool StartsWith(const std::string& text, const std::string& start) {
  return text.rfind(start, 0) == 0;
}

void ExpectPixels(const TDecodedImage& image, const Bytes& expected, const std::string& what) {
  EXPECT_EQ(image.Width, W) << what;
  EXPECT_EQ(image.Height, H) << what;
  ASSERT_EQ(image.Pixels.size(), expected.size()) << what;
  const auto diff = std::mismatch(expected.begin(), expected.end(), image.Pixels.begin());
  if (diff.first != expected.end()) {
    const long i = diff.first - expected.begin();
    ADD_FAILURE() << what << ": first difference at x " << i / 3 % W << ", y " << i / 3 / W
                  << ", byte " << i % 3 << ": " << int(*diff.second) << " instead of "
                  << int(*diff.first);
  }
}

int MaxDifference(const Bytes& a, const Bytes& b) {
  int worst = a.size() == b.size() ? 0 : 256;
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
    worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
  return worst;
}

} // namespace

TEST(ImageDecode, PngLayoutsGiveTheSamePixels) {
  TempDir dir;
  const Bytes rgb = Rgb();
  const Bytes rgba = WithAlpha(rgb, 3);
  const Bytes greyAlpha = WithAlpha(Grey(), 1);

  // Our own writer: RGB, grey, and RGBA whose alpha (zero for some texels) is dropped,
  // leaving every texel the RGB stored for it. Found whatever the letter case.
  WritePNG(dir.File("RGB.Png"), W, H, 3, rgb.data());
  ExpectPixels(DecodePNG(dir.File("rgb.png"), MaxSize), rgb, "RGB");
  WritePNG(dir.File("rgba.png"), W, H, 4, rgba.data());
  ExpectPixels(DecodePNG(dir.File("rgba.png"), MaxSize), rgb, "RGBA");
  WritePNG(dir.File("grey.png"), W, H, 1, Grey().data());
  ExpectPixels(DecodePNG(dir.File("grey.png"), MaxSize), GreyAsRgb(), "grey");

  PngLayout transparentPalette = PalettePng(16, 8);
  transparentPalette.Trans = {0, 128, 255, 0};
  const struct {
    const char* Name;
    PngLayout Layout;
    Bytes Expected;
  } cases[] = {
      {"RGB 16-bit", SamplePng(PNG_COLOR_TYPE_RGB, rgb, 16), rgb},
      {"RGBA 16-bit", SamplePng(PNG_COLOR_TYPE_RGB_ALPHA, rgba, 16), rgb},
      {"RGBA interlaced", SamplePng(PNG_COLOR_TYPE_RGB_ALPHA, rgba, 8, true), rgb},
      {"grey 16-bit", SamplePng(PNG_COLOR_TYPE_GRAY, Grey(), 16), GreyAsRgb()},
      {"grey+alpha", SamplePng(PNG_COLOR_TYPE_GRAY_ALPHA, greyAlpha, 8), GreyAsRgb()},
      {"grey+alpha 16 interlaced", SamplePng(PNG_COLOR_TYPE_GRAY_ALPHA, greyAlpha, 16, true),
       GreyAsRgb()},
      // Transparent palette entries: each texel keeps its palette colour.
      {"palette 8-bit with tRNS", transparentPalette, rgb},
      {"palette 4-bit interlaced", PalettePng(16, 4, true), rgb},
      {"palette 1-bit", PalettePng(2, 1), Rgb(2)},
  };
  for (const auto& c : cases)
    ExpectPixels(DecodePNG(dir.Put("case.png", MakePng(c.Layout)), MaxSize), c.Expected, c.Name);
}

TEST(ImageDecode, BmpLayoutsGiveTheSamePixels) {
  TempDir dir;
  const struct {
    const char* Name;
    BmpLayout Layout;
    int Colours;
  } cases[] = {
      {"24-bit bottom-up", {24, false, 0, {}}, 16},
      {"24-bit top-down", {24, true, 0, {}}, 16},
      {"32-bit", {32, false, 0, {}}, 16},
      {"32-bit masks, red low, top-down", {32, true, 0, {0xFF, 0xFF00, 0xFF0000}}, 16},
      {"8-bit palette", {8, false, 16, {}}, 16},
      {"8-bit palette top-down", {8, true, 16, {}}, 16},
      {"4-bit palette", {4, false, 16, {}}, 16},
      {"1-bit palette", {1, false, 2, {}}, 2},
      {"1-bit palette top-down", {1, true, 2, {}}, 2},
  };
  for (const auto& c : cases)
    ExpectPixels(DecodeBMP(dir.Put("case.bmp", MakeBmp(c.Layout, c.Colours)), MaxSize),
                 Rgb(c.Colours), c.Name);

  // 5-6-5 keeps the top bits of each component; full and empty components stay 255 and 0.
  const TDecodedImage image =
      DecodeBMP(dir.Put("565.bmp", MakeBmp({16, false, 0, {0xF800, 0x07E0, 0x001F}})), MaxSize);
  EXPECT_LE(MaxDifference(image.Pixels, Rgb()), 8);
  EXPECT_EQ(image.Pixels[0], 0);   // pixel (0, 0): black
  EXPECT_EQ(image.Pixels[3], 255); // pixel (1, 0): white

  // An index past the palette's end (in the first pixel of the file, the bottom-left one)
  // gives black and a warning.
  Bytes shortPalette = MakeBmp({8, false, 16, {}});
  shortPalette[54 + 16 * 4] = 200;
  const std::string shortFile = dir.Put("short.bmp", shortPalette);
  const TDecodedImage warned = DecodeBMP(shortFile, MaxSize);
  EXPECT_EQ(Bytes(warned.Pixels.end() - W * 3, warned.Pixels.end() - W * 3 + 3), Bytes(3, 0));
  EXPECT_EQ(warned.Warnings, std::vector<std::string>{shortFile + ": 1 pixels use colours past "
                                                                  "the end of the palette (drawn "
                                                                  "black)"});

  // The old 12-byte header: 8-bit, three-byte palette entries (red, green, blue), 2 x 2.
  Bytes core(14 + 12 + 9 + 8, 0);
  core[0] = 'B';
  core[1] = 'M';
  Put32(core, 10, 35);
  Put32(core, 14, 12);
  Put16(core, 18, 2);
  Put16(core, 20, 2);
  Put16(core, 22, 1);
  Put16(core, 24, 8);
  const uint8_t palette[9] = {0, 0, 255, 0, 255, 0, 255, 0, 0}; // stored blue, green, red
  std::copy(palette, palette + 9, core.begin() + 26);
  core[35] = 2; // bottom row: blue, red
  core[39] = 1; // top row: green, blue
  core[40] = 2;
  const TDecodedImage old = DecodeBMP(dir.Put("core.bmp", core), MaxSize);
  EXPECT_EQ(old.Width, 2);
  EXPECT_EQ(old.Pixels, (Bytes{0, 255, 0, 0, 0, 255, 0, 0, 255, 255, 0, 0}));
}

TEST(ImageDecode, JpegMatchesWithinLoss) {
  TempDir dir;
  const TDecodedImage colour = DecodeJPEG(dir.Put("c.jpg", MakeJpeg(Rgb(), 3, JCS_RGB)), MaxSize);
  EXPECT_EQ(colour.Width, W);
  EXPECT_EQ(colour.Height, H);
  EXPECT_LE(MaxDifference(colour.Pixels, Rgb()), 8);

  const TDecodedImage grey = DecodeJPEG(dir.Put("g.jpg", MakeJpeg(Grey(), 1, JCS_GRAYSCALE)), 16);
  ASSERT_EQ(grey.Pixels.size(), size_t(W * H * 3));
  for (size_t i = 0; i < grey.Pixels.size(); i += 3) {
    EXPECT_EQ(grey.Pixels[i], grey.Pixels[i + 1]);
    EXPECT_EQ(grey.Pixels[i], grey.Pixels[i + 2]);
  }
  EXPECT_LE(MaxDifference(grey.Pixels, GreyAsRgb()), 3);

  const std::string cmyk = dir.Put("k.jpg", MakeJpeg(Bytes(W * H * 4, 100), 4, JCS_CMYK));
  EXPECT_EQ(ErrorOf(DecodeJPEG, cmyk), cmyk + ": CMYK JPEG images are not supported");
}

TEST(ImageDecode, TruncatedAndDamagedFilesGiveErrors) {
  TempDir dir;
  WritePNG(dir.File("rgba.png"), W, H, 4, WithAlpha(Rgb(), 3).data());
  const struct {
    const char* Ext;
    Decoder Decode;
    Bytes Whole;
    const char* Truncated;
  } cases[] = {
      {"png", DecodePNG, ReadFile(dir.File("rgba.png")), "PNG file is truncated"},
      {"png", DecodePNG, MakePng(PalettePng(16, 4, true)), "PNG file is truncated"},
      {"jpg", DecodeJPEG, MakeJpeg(Rgb(), 3, JCS_RGB), "JPEG file is truncated"},
      {"bmp", DecodeBMP, MakeBmp({24, false, 0, {}}), "BMP file is truncated"},
      {"bmp", DecodeBMP, MakeBmp({4, true, 16, {}}), "BMP file is truncated"},
      {"bmp", DecodeBMP, MakeBmp({32, false, 0, {0xFF0000, 0xFF00, 0xFF}}),
       "BMP file is truncated"},
  };
  for (const auto& c : cases) {
    const std::string name = std::string("cut.") + c.Ext;
    const std::string file = dir.Put(name, c.Whole);
    ASSERT_EQ(ErrorOf(c.Decode, file), "") << c.Ext;
    // Every prefix of the file is refused, and past the first few bytes (signature,
    // magic) it is named as a truncation.
    int truncations = 0;
    for (size_t length = 0; length < c.Whole.size(); ++length) {
      const std::string message =
          ErrorOf(c.Decode, dir.Put(name, Bytes(c.Whole.begin(), c.Whole.begin() + length)));
      ASSERT_TRUE(StartsWith(message, file + ": ")) << length << " bytes: '" << message << "'";
      truncations += message == file + ": " + c.Truncated;
    }
    EXPECT_GT(truncations, int(c.Whole.size()) * 3 / 4) << c.Ext;

    // Bytes of the headers and first data set to values that break lengths and sizes:
    // each decodes within the size limit or gives an Error naming the file. Under the
    // sanitizers this also shows no bad memory access and no leak on the error paths.
    for (size_t at = 0; at < std::min<size_t>(c.Whole.size(), 160); ++at) {
      for (uint8_t value : {uint8_t(0), uint8_t(0xFF), uint8_t(c.Whole[at] ^ 1)}) {
        Bytes damaged = c.Whole;
        damaged[at] = value;
        try {
          const TDecodedImage image = c.Decode(dir.Put(name, damaged), 64, MaxImagePixels);
          ASSERT_TRUE(image.Width > 0 && image.Width <= 64 && image.Height > 0 &&
                      image.Height <= 64);
          ASSERT_EQ(image.Pixels.size(), size_t(image.Width) * size_t(image.Height) * 3);
        } catch (const Error& e) {
          ASSERT_TRUE(StartsWith(e.what(), file + ": ")) << e.what();
        }
      }
    }
  }
  EXPECT_EQ(ErrorOf(DecodePNG, dir.Put("empty.png", {})),
            dir.File("empty.png") + ": image file is empty");
  const std::string missing = dir.File("none.png");
  EXPECT_TRUE(StartsWith(ErrorOf(DecodePNG, missing), missing + ": "));
}

TEST(ImageDecode, HugeOrEmptyHeadersAreRefusedBeforeDecoding) {
  TempDir dir;
  const std::string tail = " pixels, larger than the largest texture (4096)";

  // PNG: the IHDR rewritten, with a fresh CRC, to claim other sizes.
  WritePNG(dir.File("big.png"), W, H, 3, Rgb().data());
  const Bytes png = ReadFile(dir.File("big.png"));
  auto withIhdr = [&png](uint32_t width, uint32_t height) {
    Bytes b = png;
    for (int i = 0; i < 4; ++i) {
      b[16 + static_cast<size_t>(i)] = static_cast<uint8_t>(width >> (24 - 8 * i));
      b[20 + static_cast<size_t>(i)] = static_cast<uint8_t>(height >> (24 - 8 * i));
    }
    const uLong crc = crc32(0, b.data() + 12, 17);
    for (int i = 0; i < 4; ++i)
      b[29 + static_cast<size_t>(i)] = static_cast<uint8_t>(crc >> (24 - 8 * i));
    return b;
  };
  const std::string pngFile = dir.Put("big.png", withIhdr(50000, 40000));
  EXPECT_EQ(ErrorOf(DecodePNG, pngFile), pngFile + ": image is 50000 x 40000" + tail);
  dir.Put("big.png", withIhdr(0x7FFFFFFF, 0x7FFFFFFF)); // no allocation, no crash
  EXPECT_EQ(ErrorOf(DecodePNG, pngFile), pngFile + ": image is 2147483647 x 2147483647" + tail);
  dir.Put("big.png", png);
  EXPECT_EQ(ErrorOf(DecodePNG, pngFile, W - 1),
            pngFile + ": image is 13 x 9 pixels, larger than the largest texture (12)");
  EXPECT_EQ(ErrorOf(DecodePNG, pngFile, W), "");

  // JPEG: the frame header (height, then width) claiming 60000 x 50000.
  Bytes jpeg = MakeJpeg(Rgb(), 3, JCS_RGB);
  size_t sof = 2;
  while (sof + 1 < jpeg.size() && !(jpeg[sof] == 0xFF && jpeg[sof + 1] == 0xC0))
    ++sof;
  ASSERT_LT(sof + 9, jpeg.size());
  const uint8_t size[4] = {50000 >> 8, 50000 & 0xFF, 60000 >> 8, 60000 & 0xFF};
  std::copy(size, size + 4, jpeg.begin() + static_cast<long>(sof) + 5);
  const std::string jpegFile = dir.Put("big.jpg", jpeg);
  EXPECT_EQ(ErrorOf(DecodeJPEG, jpegFile), jpegFile + ": image is 60000 x 50000" + tail);

  // A progressive JPEG decodes through a buffer of all its coefficients: the same
  // coefficients as the baseline file, so the same pixels; but a header that claims a
  // picture whose buffer would pass the largest picture's size is refused before it.
  Bytes progressive = MakeJpeg(Rgb(), 3, JCS_RGB, true);
  const std::string progressiveFile = dir.Put("progressive.jpg", progressive);
  ASSERT_EQ(ErrorOf(DecodeJPEG, progressiveFile), "");
  EXPECT_EQ(DecodeJPEG(progressiveFile, MaxSize).Pixels,
            DecodeJPEG(dir.Put("baseline.jpg", MakeJpeg(Rgb(), 3, JCS_RGB)), MaxSize).Pixels);
  size_t sof2 = 2;
  while (sof2 + 1 < progressive.size() &&
         !(progressive[sof2] == 0xFF && progressive[sof2 + 1] == 0xC2))
    ++sof2;
  ASSERT_LT(sof2 + 9, progressive.size());
  const uint8_t full[4] = {16384 >> 8, 16384 & 0xFF, 16384 >> 8, 16384 & 0xFF};
  std::copy(full, full + 4, progressive.begin() + static_cast<long>(sof2) + 5);
  dir.Put("progressive.jpg", progressive);
  EXPECT_EQ(ErrorOf(DecodeJPEG, progressiveFile, 16384),
            progressiveFile + ": image is 16384 x 16384 pixels stored in several scans, which "
                              "takes 1536 MiB to decode, more than 768 MiB");

  // BMP: a negative height means top-down, so its size is the magnitude.
  Bytes bmp = MakeBmp({24, false, 0, {}});
  const std::string bmpFile = dir.File("big.bmp");
  const struct {
    uint32_t Width, Height;
    std::string Message;
  } cases[] = {
      {100000, static_cast<uint32_t>(-200000), "image is 100000 x 200000" + tail},
      {0x7FFFFFFF, 0x80000000u, "image is 2147483647 x 2147483648" + tail},
      {0, H, "image is 0 x 9 pixels, which is not a valid size"},
      {static_cast<uint32_t>(-5), H, "image is -5 x 9 pixels, which is not a valid size"},
  };
  for (const auto& c : cases) {
    Put32(bmp, 18, c.Width);
    Put32(bmp, 22, c.Height);
    EXPECT_EQ(ErrorOf(DecodeBMP, dir.Put("big.bmp", bmp)), bmpFile + ": " + c.Message);
  }

  // A driver that allows huge textures each way still gets no gigapixel picture: the
  // pixel count is limited too, also where width * height overflows 32 bits.
  const int wide = 65535;
  const std::string most = " pixels a picture may have";
  dir.Put("big.png", withIhdr(40000, 30000));
  EXPECT_EQ(ErrorOf(DecodePNG, pngFile, wide),
            pngFile + ": image is 40000 x 30000 pixels (1200000000), more than the 268435456" +
                most);
  dir.Put("big.png", withIhdr(16385, 16384));
  EXPECT_EQ(ErrorOf(DecodePNG, pngFile, wide),
            pngFile + ": image is 16385 x 16384 pixels (268451840), more than the 268435456" +
                most);
  EXPECT_EQ(ErrorOf(DecodeJPEG, jpegFile, wide),
            jpegFile + ": image is 60000 x 50000 pixels (3000000000), more than the 268435456" +
                most);
  Put32(bmp, 18, 65535);
  Put32(bmp, 22, static_cast<uint32_t>(-65535));
  EXPECT_EQ(ErrorOf(DecodeBMP, dir.Put("big.bmp", bmp), wide),
            bmpFile + ": image is 65535 x 65535 pixels (4294836225), more than the 268435456" +
                most);
  // 16384 x 16384 itself is allowed: this header passes the size checks and fails only
  // for its missing pixel rows.
  Put32(bmp, 18, 16384);
  Put32(bmp, 22, 16384);
  EXPECT_EQ(ErrorOf(DecodeBMP, dir.Put("big.bmp", bmp), wide), bmpFile + ": BMP file is truncated");
}

TEST(ImageDecode, UnsupportedOrCorruptBmpHeaders) {
  TempDir dir;
  const Bytes good = MakeBmp({8, false, 16, {}});
  const struct {
    size_t At;
    uint32_t Value;
    const char* Message;
  } cases[] = {
      {30, 1, "compressed BMP (RLE8) is not supported"},
      {30, 2, "compressed BMP (RLE4) is not supported"},
      {30, 4, "compressed BMP (JPEG) is not supported"},
      {30, 11, "BMP compression 11 is not supported"},
      {30, 3, "corrupt BMP header: colour masks with 8 bits per pixel"},
      {28, 2, "BMP with 2 bits per pixel is not supported"},
      {26, 3, "corrupt BMP header: 3 planes"},
      {14, 64, "OS/2 BMP variant (64-byte header) is not supported"},
      {14, 41, "corrupt BMP header: unknown header size 41"},
      {10, 20, "corrupt BMP header: pixel data offset 20"},
      {10, 54, "corrupt BMP header: no palette"},
      {10, 54 + 64 + 4, "BMP file is truncated"},
      {10, 0xFFFFFFF0u, "BMP file is truncated"},
  };
  for (const auto& c : cases) {
    Bytes b = good;
    if (c.At == 26 || c.At == 28)
      Put16(b, c.At, c.Value);
    else
      Put32(b, c.At, c.Value);
    const std::string file = dir.Put("damaged.bmp", b);
    EXPECT_EQ(ErrorOf(DecodeBMP, file), file + ": " + c.Message) << "byte " << c.At;
  }
  const std::string gapped =
      dir.Put("gapped.bmp", MakeBmp({32, false, 0, {0xFF00FF, 0xFF00, 0xFF000000}}));
  EXPECT_EQ(ErrorOf(DecodeBMP, gapped),
            gapped + ": corrupt BMP header: colour masks are not contiguous");

  // A file of another kind under the wrong extension.
  const std::string png = dir.Put("png.bmp", MakePng(PalettePng(2, 1)));
  EXPECT_EQ(ErrorOf(DecodeBMP, png), png + ": not a BMP file");
  const std::string bmp = dir.Put("bmp.png", good);
  EXPECT_EQ(ErrorOf(DecodePNG, bmp), bmp + ": not a PNG file");
  const std::string jpg = dir.Put("bmp.jpg", good);
  EXPECT_EQ(ErrorOf(DecodeJPEG, jpg), jpg + ": not a JPEG file");
}

TEST(ImageWrite, WritesExactPixelsAndRefusesBadArguments) {
  TempDir dir;
  // Read back through libpng's simplified API, not our decoder (which drops alpha).
  Bytes rgba(3 * 2 * 4);
  for (size_t i = 0; i < rgba.size(); ++i)
    rgba[i] = static_cast<uint8_t>(i * 11 + 1);
  const std::string file = dir.File("sub/folder/out.png");
  WritePNG(file, 3, 2, 4, rgba.data());
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_file(&image, file.c_str()));
  EXPECT_EQ(image.width, 3u);
  EXPECT_EQ(image.height, 2u);
  image.format = PNG_FORMAT_RGBA;
  Bytes back(PNG_IMAGE_SIZE(image));
  ASSERT_TRUE(png_image_finish_read(&image, nullptr, back.data(), 0, nullptr));
  EXPECT_EQ(back, rgba);

  // Writing again replaces the file with the same bytes and leaves nothing else.
  const Bytes first = ReadFile(file);
  WritePNG(file, 3, 2, 4, rgba.data());
  EXPECT_EQ(ReadFile(file), first);
  EXPECT_EQ(
      std::distance(fs::directory_iterator(dir.path / "sub/folder"), fs::directory_iterator()), 1);

  const uint8_t pixel[4] = {};
  auto errorOf = [&](int width, int height, int channels, const uint8_t* pixels,
                     const std::string& name = "bad.png") {
    try {
      WritePNG(dir.File(name), width, height, channels, pixels);
    } catch (const Error& e) {
      return std::string(e.what());
    }
    return std::string();
  };
  const std::string bad = dir.File("bad.png");
  EXPECT_EQ(errorOf(0, 1, 3, pixel), bad + ": cannot write a picture of 0 x 1 pixels");
  EXPECT_EQ(errorOf(1, -1, 3, pixel), bad + ": cannot write a picture of 1 x -1 pixels");
  EXPECT_EQ(errorOf(1, 1, 2, pixel), bad + ": cannot write a picture of 2 bytes per pixel");
  EXPECT_EQ(errorOf(1, 1, 3, nullptr), bad + ": no pixels to write");
  fs::create_directories(dir.path / "taken.png");
  EXPECT_TRUE(StartsWith(errorOf(1, 1, 1, pixel, "taken.png"), dir.File("taken.png") + ": "));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()),
            2); // sub, taken.png
}

TEST(ImageDecode, RealTexturesDecodeOrFailClearly) {
  const fs::path root = fs::path(QUARVEL_SHARED_TESTDATA) / "real-obj";
  if (!fs::exists(root))
    GTEST_SKIP() << "no shared test data at " << root;
  int decoded = 0;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    std::string ext = entry.path().extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char ch) { return char(std::tolower(ch)); });
    const Decoder decode = ext == ".png"                     ? Decoder(DecodePNG)
                           : ext == ".bmp"                   ? Decoder(DecodeBMP)
                           : ext == ".jpg" || ext == ".jpeg" ? Decoder(DecodeJPEG)
                                                             : nullptr;
    if (decode == nullptr || !entry.is_regular_file())
      continue;
    const std::string file = entry.path().string();
    try {
      const TDecodedImage image = decode(file, 16384, MaxImagePixels);
      EXPECT_EQ(image.Pixels.size(), size_t(image.Width) * size_t(image.Height) * 3) << file;
      EXPECT_GT(image.Width * image.Height, 0) << file;
      for (const std::string& warning : image.Warnings)
        std::printf("warning: %s\n", warning.c_str());
      ++decoded;
    } catch (const Error& e) {
      std::printf("refused: %s\n", e.what());
      EXPECT_TRUE(StartsWith(e.what(), file + ": ")) << e.what();
    }
  }
  EXPECT_GT(decoded, 0);
}

// ----- decoding from memory ------------------------------------------------------------

namespace {

using MemoryDecoder = TDecodedImage (*)(const uint8_t*, size_t, const std::string&, int, long long);

// Bytes placed at the very end of readable memory, right before a page that cannot be
// read: a decoder reading even one byte past the end crashes, sanitizers or not.
class GuardedBytes {
public:
  explicit GuardedBytes(const Bytes& bytes)
      : Start(test::AllocateGuarded(bytes.size())), Size(bytes.size()) {
    std::copy(bytes.begin(), bytes.end(), Start);
  }
  ~GuardedBytes() { test::FreeGuarded(Start, Size); }
  GuardedBytes(const GuardedBytes&) = delete;
  GuardedBytes& operator=(const GuardedBytes&) = delete;

  const uint8_t* data() const { return Start; }
  size_t size() const { return Size; }

private:
  uint8_t* Start = nullptr;
  size_t Size = 0;
};

// What a decode ended in, to compare two decodes in one go.
struct Outcome {
  std::string Error;
  int Width = 0;
  int Height = 0;
  Bytes Pixels;
  std::vector<std::string> Warnings;
  bool operator==(const Outcome& o) const {
    return Error == o.Error && Width == o.Width && Height == o.Height && Pixels == o.Pixels &&
           Warnings == o.Warnings;
  }
};

template <typename Decode> Outcome OutcomeOf(Decode decode) {
  Outcome out;
  try {
    TDecodedImage image = decode();
    out.Width = image.Width;
    out.Height = image.Height;
    out.Pixels = std::move(image.Pixels);
    out.Warnings = std::move(image.Warnings);
  } catch (const Error& e) {
    out.Error = e.what();
  }
  return out;
}

std::ostream& operator<<(std::ostream& os, const Outcome& o) {
  os << "{error '" << o.Error << "', " << o.Width << " x " << o.Height << ", " << o.Pixels.size()
     << " bytes of pixels, warnings:";
  for (const std::string& w : o.Warnings)
    os << " '" << w << "'";
  return os << "}";
}

// A PNG of the reference picture with a text chunk whose CRC is wrong, just after IHDR:
// libpng warns about it and decodes the picture anyway.
Bytes PngWithDamagedTextChunk() {
  Bytes png = MakePng(PalettePng(16, 4));
  const size_t afterIhdr = 8 + 4 + 4 + 13 + 4;
  const Bytes chunk = {0, 0, 0, 3, 't', 'E', 'X', 't', 'a', 0, 'b', 0xDE, 0xAD, 0xBE, 0xEF};
  png.insert(png.begin() + afterIhdr, chunk.begin(), chunk.end());
  return png;
}

} // namespace

TEST(ImageDecodeMemory, SameOutcomeAsTheFileOfTheSameBytes) {
  TempDir dir;
  WritePNG(dir.File("rgba.png"), W, H, 4, WithAlpha(Rgb(), 3).data());
  Bytes shortPalette = MakeBmp({8, false, 16, {}});
  shortPalette[54 + 16 * 4] = 200;
  const Bytes png = ReadFile(dir.File("rgba.png"));
  const Bytes jpeg = MakeJpeg(Rgb(), 3, JCS_RGB);
  Bytes rle = MakeBmp({8, false, 16, {}});
  Put32(rle, 30, 1);
  const struct {
    const char* Name;
    Decoder FromFile;
    MemoryDecoder FromMemory;
    Bytes Input;
    int MaxDimension;
  } cases[] = {
      {"rgba.png", DecodePNG, DecodePNG, png, MaxSize},
      {"interlaced.png", DecodePNG, DecodePNG, MakePng(PalettePng(16, 8, true)), MaxSize},
      {"warned.png", DecodePNG, DecodePNG, PngWithDamagedTextChunk(), MaxSize},
      {"cut.png", DecodePNG, DecodePNG, Bytes(png.begin(), png.end() - 20), MaxSize},
      {"small.png", DecodePNG, DecodePNG, png, W - 1},
      {"empty.png", DecodePNG, DecodePNG, {}, MaxSize},
      {"rgb.jpg", DecodeJPEG, DecodeJPEG, jpeg, MaxSize},
      {"grey.jpg", DecodeJPEG, DecodeJPEG, MakeJpeg(Grey(), 1, JCS_GRAYSCALE, true), MaxSize},
      {"cut.jpg", DecodeJPEG, DecodeJPEG, Bytes(jpeg.begin(), jpeg.begin() + 400), MaxSize},
      {"rgb.bmp", DecodeBMP, DecodeBMP, MakeBmp({24, true, 0, {}}), MaxSize},
      {"warned.bmp", DecodeBMP, DecodeBMP, shortPalette, MaxSize},
      {"rle.bmp", DecodeBMP, DecodeBMP, rle, MaxSize},
      {"png.bmp", DecodeBMP, DecodeBMP, png, MaxSize},
  };
  int decoded = 0;
  int warned = 0;
  for (const auto& c : cases) {
    const std::string file = dir.Put(c.Name, c.Input);
    const Outcome fromFile =
        OutcomeOf([&] { return c.FromFile(file, c.MaxDimension, MaxImagePixels); });
    const GuardedBytes bytes(c.Input);
    const Outcome fromMemory = OutcomeOf([&] {
      return c.FromMemory(bytes.data(), bytes.size(), file, c.MaxDimension, MaxImagePixels);
    });
    EXPECT_EQ(fromMemory, fromFile) << c.Name;
    decoded += fromFile.Error.empty() && fromFile.Width == W;
    warned += !fromFile.Warnings.empty();
  }
  // The comparison covers pictures, warnings and errors alike.
  EXPECT_EQ(decoded, 7);
  EXPECT_EQ(warned, 2);
}

TEST(ImageDecodeMemory, NamesTheGivenNameAndTouchesNoFile) {
  const std::string name = "no such folder/texture";
  const Bytes png = MakePng(PalettePng(16, 8));
  const TDecodedImage image = DecodePNG(png.data(), png.size(), name, MaxSize);
  ExpectPixels(image, Rgb(), "PNG from memory");
  const Bytes jpeg = MakeJpeg(Grey(), 1, JCS_GRAYSCALE);
  const TDecodedImage grey = DecodeJPEG(jpeg.data(), jpeg.size(), name, MaxSize);
  EXPECT_EQ(grey.Width, W);
  EXPECT_LE(MaxDifference(grey.Pixels, GreyAsRgb()), 3);
  const Bytes bmp = MakeBmp({4, false, 16, {}});
  ExpectPixels(DecodeBMP(bmp.data(), bmp.size(), name, MaxSize), Rgb(), "BMP from memory");

  auto errorOf = [&](MemoryDecoder decode, const Bytes& bytes, int maxDimension = MaxSize) {
    const GuardedBytes guarded(bytes);
    return OutcomeOf([&] {
             return decode(guarded.data(), guarded.size(), name, maxDimension, MaxImagePixels);
           })
        .Error;
  };
  EXPECT_EQ(errorOf(DecodePNG, png, W - 1),
            name + ": image is 13 x 9 pixels, larger than the largest texture (12)");
  EXPECT_EQ(errorOf(DecodeJPEG, bmp), name + ": not a JPEG file");
  EXPECT_EQ(errorOf(DecodeBMP, jpeg), name + ": not a BMP file");
  for (MemoryDecoder decode :
       {MemoryDecoder(DecodePNG), MemoryDecoder(DecodeJPEG), MemoryDecoder(DecodeBMP)}) {
    EXPECT_EQ(OutcomeOf([&] { return decode(nullptr, 0, name, MaxSize, MaxImagePixels); }).Error,
              name + ": image file is empty");
  }
}

TEST(ImageDecodeMemory, EveryCutOfAPictureIsRefusedByName) {
  const std::string name = "cut picture";
  Bytes rgbaPng;
  {
    TempDir dir;
    WritePNG(dir.File("rgba.png"), W, H, 4, WithAlpha(Rgb(), 3).data());
    rgbaPng = ReadFile(dir.File("rgba.png"));
  }
  const struct {
    const char* What;
    MemoryDecoder Decode;
    Bytes Whole;
    const char* Truncated;
  } cases[] = {
      {"PNG", DecodePNG, rgbaPng, "PNG file is truncated"},
      {"interlaced PNG", DecodePNG, MakePng(PalettePng(16, 4, true)), "PNG file is truncated"},
      {"JPEG", DecodeJPEG, MakeJpeg(Rgb(), 3, JCS_RGB), "JPEG file is truncated"},
      {"progressive JPEG", DecodeJPEG, MakeJpeg(Rgb(), 3, JCS_RGB, true), "JPEG file is truncated"},
      {"BMP", DecodeBMP, MakeBmp({24, false, 0, {}}), "BMP file is truncated"},
      {"BMP with masks", DecodeBMP, MakeBmp({32, false, 0, {0xFF0000, 0xFF00, 0xFF}}),
       "BMP file is truncated"},
  };
  for (const auto& c : cases) {
    {
      const GuardedBytes whole(c.Whole);
      ASSERT_EQ(OutcomeOf([&] {
                  return c.Decode(whole.data(), whole.size(), name, MaxSize, MaxImagePixels);
                }).Error,
                "")
          << c.What;
    }
    int truncations = 0;
    for (size_t length = 0; length < c.Whole.size(); ++length) {
      // Each cut ends right before unreadable memory.
      const GuardedBytes cut(Bytes(c.Whole.begin(), c.Whole.begin() + length));
      const std::string message =
          OutcomeOf([&] {
            return c.Decode(cut.data(), cut.size(), name, MaxSize, MaxImagePixels);
          }).Error;
      ASSERT_TRUE(StartsWith(message, name + ": "))
          << c.What << ", " << length << " bytes: '" << message << "'";
      truncations += message == name + ": " + c.Truncated;
    }
    EXPECT_GT(truncations, int(c.Whole.size()) * 3 / 4) << c.What;
  }
}

TEST(ImageDecodeFile, ReadsOnlyRegularFilesOfBoundedSize) {
  TempDir dir;
  // A file one byte over the limit, made sparse: refused from its size, before reading.
  const std::string huge = dir.File("huge.png");
  std::ofstream(huge, std::ios::binary).put('\x89');
  fs::resize_file(huge, MaxImageFileBytes + 1);
  EXPECT_EQ(ErrorOf(DecodePNG, huge), huge + ": image file is 268435457 bytes, more than the "
                                             "268435456 bytes (256 MiB) a picture file may have");

  fs::create_directories(dir.path / "folder.bmp");
  EXPECT_EQ(ErrorOf(DecodeBMP, dir.File("folder.bmp")),
            dir.File("folder.bmp") + ": is a folder, not a file");
  // A device: this one would read as empty, but others never end, and a pipe opened
  // without a writer blocks.
  if (fs::exists("/dev/null")) {
    EXPECT_EQ(ErrorOf(DecodeJPEG, "/dev/null"), "/dev/null: is not a regular file");
  }
}
