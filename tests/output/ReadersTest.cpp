// Readers of the output files: round trips through the writers in every mode, and damaged
// files refused with the file and frame named (never a crash or an out-of-bounds read;
// run under the sanitizer build to see the latter).
#include "output/Readers.h"
#include "common/Error.h"
#include "output/KXFile.h"

#include <gtest/gtest.h>

#include <random>

namespace quarvel {
namespace {

using Bytes = std::vector<uint8_t>;

struct TPlanes {
  int Width = 0;
  int Height = 0;
  std::vector<Bytes> Index;
  std::vector<Bytes> Depth;
};

// Random frames with long transparent stretches, colour runs and noise, so every code
// and every split (127, 63, 255) is reached.
TPlanes RandomPlanes(std::mt19937& rng, int width, int height, int frames) {
  TPlanes p;
  p.Width = width;
  p.Height = height;
  std::uniform_int_distribution<int> byte(0, 255), style(0, 3), length(1, 400);
  for (int f = 0; f < frames; ++f) {
    Bytes index(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    Bytes depth(index.size(), 0);
    const int kind = style(rng);
    size_t i = 0;
    while (kind != 0 && i < index.size()) {
      const size_t n = std::min<size_t>(static_cast<size_t>(length(rng)), index.size() - i);
      const int what = style(rng);
      const uint8_t value = static_cast<uint8_t>(byte(rng));
      for (size_t k = 0; k < n; ++k, ++i) {
        index[i] = what == 0 ? 0 : what == 1 ? value : static_cast<uint8_t>(byte(rng) % 3);
        depth[i] = static_cast<uint8_t>(byte(rng));
      }
    }
    p.Index.push_back(index);
    p.Depth.push_back(depth);
  }
  return p;
}

Bytes Write(const TPlanes& p, char mode) {
  TKX_File kx(mode);
  kx.FrameWidth = p.Width;
  kx.FrameHeight = p.Height;
  kx.SetFrameCount(static_cast<int>(p.Index.size()));
  for (size_t f = 0; f < p.Index.size(); ++f)
    kx.AddFrame(static_cast<int>(f), p.Index[f].data(), p.Depth[f].data());
  Bytes out;
  kx.WriteToStream(out);
  return out;
}

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TKXContents Decode(const Bytes& b, int fw = 0, int fh = 0) {
  return DecodeKXZ(b.data(), b.size(), "t.kxz", fw, fh);
}

std::string DecodeError(const Bytes& b, int fw = 0, int fh = 0) {
  try {
    Decode(b, fw, fh);
  } catch (const Error& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(KXReader, RoundTripEveryMode) {
  std::mt19937 rng(1234);
  const std::vector<std::pair<int, int>> sizes{{1, 1}, {3, 2}, {17, 9}, {300, 4}, {64, 48}};
  for (const auto& [w, h] : sizes) {
    const TPlanes p = RandomPlanes(rng, w, h, 6);
    for (char mode : {'S', 'X', 'Z'}) {
      const TKXContents kx = Decode(Write(p, mode), w, h);
      ASSERT_EQ(kx.Mode, mode);
      ASSERT_EQ(kx.Frames.size(), p.Index.size());
      for (size_t f = 0; f < p.Index.size(); ++f) {
        Bytes index = p.Index[f], depth = p.Depth[f];
        for (size_t i = 0; i < index.size(); ++i) {
          if (mode == 'S' && index[i] != 0)
            index[i] = MaskIndex;
          // Only mode 'Z' keeps depth, and only under visible pixels.
          if (mode != 'Z' || index[i] == 0)
            depth[i] = 0;
        }
        EXPECT_EQ(kx.Frames[f].IndexPlane, index) << mode << " " << w << "x" << h << " frame " << f;
        EXPECT_EQ(kx.Frames[f].DepthPlane, depth) << mode << " " << w << "x" << h << " frame " << f;
      }
    }
  }
}

TEST(KXReader, FrameSizeAndSheet) {
  // A frame with nothing visible is stored whole, which pins the inferred size exactly.
  TPlanes p;
  p.Width = 7;
  p.Height = 5;
  p.Index = {Bytes(35, 0), Bytes(35, 0)};
  p.Depth = {Bytes(35, 0), Bytes(35, 0)};
  p.Index[1][4 * 7 + 6] = 9; // bottom right corner
  p.Depth[1][4 * 7 + 6] = 77;
  TKXContents kx = Decode(Write(p, 'Z'));
  EXPECT_EQ(kx.FrameWidth, 7);
  EXPECT_EQ(kx.FrameHeight, 5);
  EXPECT_EQ(kx.Frames[1].IndexPlane, p.Index[1]);
  EXPECT_EQ(kx.Frames[1].OffsetX, 6 - 3);
  EXPECT_EQ(kx.Frames[1].OffsetY, 4 - 2);

  // Without such a frame the smallest frame that holds the crop around its centre.
  p.Index.erase(p.Index.begin());
  p.Depth.erase(p.Depth.begin());
  kx = Decode(Write(p, 'Z'));
  EXPECT_EQ(kx.FrameWidth, 7); // OffsetX 3, width 1: needs 4 right of the centre
  EXPECT_EQ(kx.FrameHeight, 5);

  // The frames side by side.
  p.Index.push_back(Bytes(35, 0));
  p.Depth.push_back(Bytes(35, 0));
  p.Index[1][0] = 4;
  const TAngleSheet sheet = KXZToSheet(Decode(Write(p, 'Z'), 7, 5));
  EXPECT_EQ(sheet.SheetWidth, 14);
  EXPECT_EQ(sheet.Height, 5);
  EXPECT_EQ(sheet.FrameWidth, 7);
  EXPECT_EQ(sheet.IndexPlane[4 * 14 + 6], 9);
  EXPECT_EQ(sheet.DepthPlane[4 * 14 + 6], 77);
  EXPECT_EQ(sheet.IndexPlane[7], 4);

  // A crop that does not fit the frame size given.
  EXPECT_EQ(DecodeError(Write(p, 'Z'), 6, 5),
            "t.kxz: frame 0 of 2: the 1 x 1 crop at (3, 2) lies outside the 6 x 5 frame");
}

// A two-frame mode 'Z' container: a 2 x 2 crop and a 1 x 1 crop.
Bytes Small() {
  TPlanes p;
  p.Width = 4;
  p.Height = 3;
  p.Index = {Bytes{0, 1, 2, 0, 0, 0, 3, 0, 0, 0, 0, 0}, Bytes(12, 0)};
  p.Depth = {Bytes{9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2}, Bytes(12, 0)};
  p.Index[1][11] = 5;
  return Write(p, 'Z');
}

TEST(KXReader, RefusesDamage) {
  const Bytes good = Small();
  ASSERT_EQ(DecodeError(good), "(no error)");

  Bytes b = good;
  b[3] = b[6] = 'Q';
  EXPECT_EQ(DecodeError(b), "t.kxz: unknown compression mode 81");
  b = good;
  b[6] = 'X';
  EXPECT_EQ(DecodeError(b), "t.kxz: damaged header for mode 'Z'");
  EXPECT_EQ(DecodeError(Bytes{0x89, 'P', 'N', 'G'}),
            "t.kxz: header: needs 9 bytes at offset 0, the file has 4 (truncated)");
  b = good;
  b[7] = 3; // a frame more than there are records
  EXPECT_EQ(DecodeError(b),
            "t.kxz: frame 2 of 3: ExtraSize: needs 2 bytes at offset 59, the file has 59 "
            "(truncated)");
  b = good;
  b[19] = 200; // frame 0's DataSize
  EXPECT_EQ(DecodeError(b),
            "t.kxz: frame 0 of 2: DataSize 200 runs past the end of the file (36 bytes left)");
  b = good;
  b.push_back(0);
  EXPECT_EQ(DecodeError(b), "t.kxz: 1 byte after the last of 2 frames");

  // Frame 0, a 2 x 2 crop: row table 0, 4; pairs (1,8) (2,7) | (0,1) (3,3).
  b = good;
  ASSERT_EQ(Bytes(b.begin() + 23, b.begin() + 39),
            (Bytes{0, 0, 0, 0, 4, 0, 0, 0, 1, 8, 2, 7, 0, 1, 3, 3}));
  b[15] = 3; // Width 3 now; same data
  EXPECT_EQ(DecodeError(b), "t.kxz: frame 0 of 2: row table entry 1 is 4, but the row's pairs "
                            "begin at 6");
  b = good;
  b[37] = 0;
  b[38] = 2; // (3,3) becomes a run of 2 at the end of a row with one pixel left
  EXPECT_EQ(DecodeError(b), "t.kxz: frame 0 of 2: run of 2 pixels overflows row 1 (1 of 2 pixels "
                            "left)");
  b = good;
  b[36] = 0; // (0,1) becomes (0,0)
  EXPECT_EQ(DecodeError(b), "t.kxz: frame 0 of 2: a run of no pixels in row 1");
  b = good;
  b[30] = 9; // top byte of table entry 1
  EXPECT_EQ(DecodeError(b), "t.kxz: frame 0 of 2: row table entry 1 is 150994948, but the row's "
                            "pairs begin at 4");
  b = good;
  b[9] = 0; // ExtraSize 0: the offsets and the rest of the record shift
  EXPECT_NE(DecodeError(b).find("t.kxz: frame 0 of 2: "), std::string::npos);

  // Mode 'S' and 'X' runs past their crop.
  Bytes s{0xFF, 'K', 'X', 'S', 0, 0, 'S', 1, 0, 4, 0, 0, 0, 0, 0, 2, 0, 1, 0, 2, 0, 0, 0};
  EXPECT_EQ(DecodeError(Cat(s, Bytes{0x81, 0x81})), "(no error)");
  EXPECT_EQ(DecodeError(Cat(s, Bytes{0x81, 0x82})),
            "t.kxz: frame 0 of 1: run of 2 pixels at data byte 1 overflows the crop of 2 pixels "
            "(1 left)");
  EXPECT_EQ(DecodeError(Cat(s, Bytes{0x80, 0x82})),
            "t.kxz: frame 0 of 1: code 128 at data byte 0 is a run of no pixels");
  Bytes x = s;
  x[3] = x[6] = 'X';
  EXPECT_EQ(DecodeError(Cat(x, Bytes{0xC2, 5})),
            "t.kxz: frame 0 of 1: literal of 2 bytes at data byte 0 runs past DataSize");
  EXPECT_EQ(DecodeError(Cat(x, Bytes{0x01, 0x82})),
            "t.kxz: frame 0 of 1: run of 2 pixels at data byte 1 overflows the crop of 2 pixels "
            "(1 left)");
  EXPECT_EQ(DecodeError(Cat(x, Bytes{0x01, 0x81})),
            "t.kxz: frame 0 of 1: run at data byte 1 has no index byte before DataSize ends");
  x[19] = 1;
  EXPECT_EQ(DecodeError(Cat(x, Bytes{0x01})),
            "t.kxz: frame 0 of 1: data ends after 1 of the crop's 2 pixels");
  // A huge crop with a few bytes of data is refused before anything is allocated.
  x[15] = x[16] = x[17] = x[18] = 0xFF;
  EXPECT_EQ(DecodeError(Cat(x, Bytes{0x01})),
            "t.kxz: frame 0 of 1: DataSize 1 is too small for a 65535 x 65535 crop");
}

TEST(KXReader, TruncatedAndFlippedContainers) {
  const Bytes good = Small();
  for (size_t n = 0; n < good.size(); ++n) {
    const std::string e =
        DecodeError(Bytes(good.begin(), good.begin() + static_cast<long>(n)), 4, 3);
    EXPECT_EQ(e.rfind("t.kxz: ", 0), 0u) << n << ": " << e;
    if (n >= 9) { // past the header every complaint names the frame
      EXPECT_NE(e.find("frame "), std::string::npos) << n << ": " << e;
    }
  }
  // Random byte flips either decode or are refused with an Error; anything else (a crash,
  // another exception, a sanitizer report) fails the test.
  std::mt19937 rng(99);
  std::vector<std::pair<Bytes, std::pair<int, int>>> seeds{{good, {4, 3}}};
  TPlanes p = RandomPlanes(rng, 40, 12, 4);
  for (char mode : {'S', 'X', 'Z'})
    seeds.push_back({Write(p, mode), {40, 12}});
  int refused = 0;
  for (const auto& [seed, size] : seeds) {
    for (int round = 0; round < 1500; ++round) {
      Bytes b = seed;
      const int flips = 1 + round % 3;
      for (int k = 0; k < flips; ++k)
        b[std::uniform_int_distribution<size_t>(0, b.size() - 1)(rng)] ^=
            static_cast<uint8_t>(1u << std::uniform_int_distribution<int>(0, 7)(rng));
      // Mostly with the frame size known; single flips also through the size inference
      // (several flips could make it infer frames of hundreds of megabytes).
      const bool infer = flips == 1 && round % 2 == 0;
      try {
        Decode(b, infer ? 0 : size.first, infer ? 0 : size.second);
      } catch (const Error&) {
        ++refused;
      }
    }
  }
  EXPECT_GT(refused, 1000);
}

TEST(Palette16Reader, Words) {
  Bytes b(512, 0);
  b[0] = 0x0C;
  b[1] = 0xFC;
  b[510] = 0x1F;
  b[511] = 0xF8;
  const auto words = DecodePalette16(b.data(), b.size(), "t.p16");
  EXPECT_EQ(words[0], 0xFC0C);
  EXPECT_EQ(words[255], 0xF81F);
  const auto entries = Palette16ToEntries(words);
  EXPECT_EQ(entries[0], MakeEntry(248, 128, 96, 0));
  EXPECT_EQ(entries[255], MakeEntry(248, 0, 248, 0));
  b.pop_back();
  try {
    DecodePalette16(b.data(), b.size(), "t.p16");
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "t.p16: is 511 bytes long; a palette file has 512 (256 RGB565 words)");
  }
}

TEST(Reader2P5D, LayoutAndDamage) {
  // A 4 x 2 sheet of two frames.
  Bytes b{4, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0};
  for (int i = 0; i < 8; ++i)
    b.push_back(static_cast<uint8_t>(10 + i)); // depth
  for (int i = 0; i < 8; ++i)
    b.push_back(static_cast<uint8_t>(i)); // index
  for (int i = 0; i < 256; ++i)
    b.insert(b.end(), {static_cast<uint8_t>(i), 0, 0x20, 0xFF});
  ASSERT_EQ(b.size(), 1052u);
  const TAngleSheet s = Decode2P5D(b.data(), b.size(), "t.2p5d");
  EXPECT_EQ(s.SheetWidth, 4);
  EXPECT_EQ(s.Height, 2);
  EXPECT_EQ(s.FrameWidth, 2);
  EXPECT_EQ(s.FrameCount(), 2);
  EXPECT_EQ(s.DepthPlane, (Bytes{10, 11, 12, 13, 14, 15, 16, 17}));
  EXPECT_EQ(s.IndexPlane, (Bytes{0, 1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(s.Palette[7], MakeEntry(0x20, 0, 7, 0xFF));

  auto error = [](const Bytes& bytes) -> std::string {
    try {
      Decode2P5D(bytes.data(), bytes.size(), "t.2p5d");
    } catch (const Error& e) {
      return e.what();
    }
    return "(no error)";
  };
  EXPECT_EQ(error(Bytes(b.begin(), b.end() - 1)),
            "t.2p5d: is 1051 bytes long; a sheet of 4 x 2, frame width 2 needs 1052");
  EXPECT_EQ(error(Bytes(b.begin(), b.begin() + 7)),
            "t.2p5d: header: needs 12 bytes at offset 0, the file has 7 (truncated)");
  Bytes c = b;
  c[8] = 3;
  EXPECT_EQ(error(c), "t.2p5d: sheet width 4 is not a whole number of frames of width 3");
  c = b;
  c[7] = 0x80;
  EXPECT_EQ(error(c), "t.2p5d: impossible sheet size 4 x -2147483646, frame width 2");
  c = b;
  c[3] = 0x7F; // a huge width with a small file: refused from the sizes alone
  EXPECT_EQ(error(c).rfind("t.2p5d: is 1052 bytes long; a sheet of 2130706436 x 2", 0), 0u);
  for (size_t n = 0; n < b.size(); ++n)
    EXPECT_NE(error(Bytes(b.begin(), b.begin() + static_cast<long>(n))), "(no error)");
}

} // namespace
} // namespace quarvel
