// Sprite container writer and .p16 palette: exact bytes on tiny inputs.
#include "output/KXFile.h"
#include "common/Error.h"
#include "output/Palette16.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace quarvel {
namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

Bytes S(const std::vector<int>& values) {
  return Bytes(values.begin(), values.end());
}

// Byte groups joined, so expected files read field by field.
Bytes J(std::initializer_list<std::vector<int>> groups) {
  Bytes out;
  for (const auto& g : groups)
    out.insert(out.end(), g.begin(), g.end());
  return out;
}

Bytes EncodedS(const Bytes& pixels) {
  Bytes out;
  EncodeS(pixels.data(), pixels.size(), out);
  return out;
}
Bytes EncodedX(const Bytes& pixels) {
  Bytes out;
  EncodeX(pixels.data(), pixels.size(), out);
  return out;
}
Bytes EncodedZ(const Bytes& pixels, const Bytes& depths, int width, int height) {
  Bytes out;
  EncodeZ(pixels.data(), depths.data(), width, height, out);
  return out;
}

Bytes ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

fs::path TempDir(const std::string& name) {
  fs::path dir =
      fs::temp_directory_path() / ("quarvel-kx-" + name + "-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  return dir;
}

TEST(KXEncoders, ModeS) {
  EXPECT_EQ(EncodedS(Bytes(200, 9)), S({0xFF, 0xC9})); // 127 then 73 visible
  EXPECT_EQ(EncodedS(S({0, 0, 1, 2, 3, 0})), S({0x02, 0x83, 0x01}));
  EXPECT_EQ(EncodedS(Bytes(127, 0)), S({0x7F}));
  EXPECT_EQ(EncodedS(Bytes(128, 0)), S({0x7F, 0x01}));
  // A run that hits 127 is written at once, so a change right after starts afresh.
  Bytes p(127, 4);
  p.push_back(0);
  EXPECT_EQ(EncodedS(p), S({0xFF, 0x01}));
  EXPECT_EQ(EncodedS(Bytes{}), Bytes{});
}

TEST(KXEncoders, ModeX) {
  EXPECT_EQ(EncodedX(S({0, 0, 0, 0, 3})), S({0x04, 0x81, 0x03}));
  EXPECT_EQ(EncodedX(S({1, 2, 3})), S({0xC2, 1, 2, 0x81, 3}));
  // The last byte always gets a code of its own.
  EXPECT_EQ(EncodedX(Bytes(6, 7)), S({0x85, 7, 0x81, 7}));
  EXPECT_EQ(EncodedX(S({0})), S({0x01}));
  EXPECT_EQ(EncodedX(S({9})), S({0x81, 9}));
  // Literal up to the first four equal bytes, then the run.
  EXPECT_EQ(EncodedX(S({1, 2, 5, 5, 5, 5, 5, 9})), S({0xC2, 1, 2, 0x85, 5, 0x81, 9}));
  // Fewer than four bytes looked at: all literal, zeros included.
  EXPECT_EQ(EncodedX(S({0, 1, 0, 1})), S({0xC3, 0, 1, 0, 0x81, 1}));
  // Three equal bytes do not start a run.
  EXPECT_EQ(EncodedX(S({4, 4, 4, 1, 2})), S({0xC4, 4, 4, 4, 1, 0x81, 2}));

  // Transparent runs split at 127, colour runs at 63, literals at 63.
  Bytes zeros(130, 0);
  zeros.push_back(5);
  EXPECT_EQ(EncodedX(zeros), S({0x7F, 0x03, 0x81, 5}));
  EXPECT_EQ(EncodedX(Bytes(101, 2)), S({0xBF, 2, 0xA5, 2, 0x81, 2})); // 63 + 37 + 1
  Bytes literal;
  for (int i = 1; i <= 70; ++i)
    literal.push_back(static_cast<uint8_t>(i));
  Bytes expected{0xFF};
  expected.insert(expected.end(), literal.begin(), literal.begin() + 63);
  expected.push_back(0xC6);
  expected.insert(expected.end(), literal.begin() + 63, literal.begin() + 69);
  expected.insert(expected.end(), {0x81, 70});
  EXPECT_EQ(EncodedX(literal), expected);
}

TEST(KXEncoders, ModeZ) {
  // A row of 300 transparent pixels.
  EXPECT_EQ(EncodedZ(Bytes(300, 0), Bytes(300, 0), 300, 1), S({0, 0, 0, 0, 0, 255, 0, 45}));
  // Row 0, 0, 5, 0 (depth 9 at the 5): (0,2) (5,9) (0,1); the next row starts at 6.
  EXPECT_EQ(EncodedZ(S({0, 0, 5, 0, 1, 2, 0, 0}), S({0, 0, 9, 0, 3, 4, 0, 0}), 4, 2),
            S({0, 0, 0, 0, 6, 0, 0, 0, 0, 2, 5, 9, 0, 1, 1, 3, 2, 4, 0, 2}));
  // A run that reaches 255 is flushed inside the row; the rest of it waits for the row's end.
  EXPECT_EQ(EncodedZ(Bytes(512, 0), Bytes(512, 0), 256, 2),
            S({0, 0, 0, 0, 4, 0, 0, 0, 0, 255, 0, 1, 0, 255, 0, 1}));
  // Depth is written for a visible pixel even when it is 0.
  EXPECT_EQ(EncodedZ(S({3}), S({0}), 1, 1), S({0, 0, 0, 0, 3, 0}));
}

TEST(KXFile, BoundsAndCrop) {
  Bytes plane(5 * 4, 0);
  EXPECT_EQ(FindBounds(plane.data(), 5, 4).Right, 4); // nothing visible: whole frame
  EXPECT_EQ(FindBounds(plane.data(), 5, 4).Bottom, 3);
  plane[1 * 5 + 3] = 2;
  plane[2 * 5 + 1] = 8;
  const TKXBounds b = FindBounds(plane.data(), 5, 4);
  EXPECT_EQ(b.Left, 1);
  EXPECT_EQ(b.Right, 3);
  EXPECT_EQ(b.Top, 1);
  EXPECT_EQ(b.Bottom, 2);

  Bytes depth(plane.size());
  for (size_t i = 0; i < depth.size(); ++i)
    depth[i] = static_cast<uint8_t>(100 + i);
  TKX_File kx('Z');
  kx.FrameWidth = 5;
  kx.FrameHeight = 4;
  kx.SetFrameCount(2);
  kx.AddFrame(1, plane.data(), depth.data());
  const TKXFrame& f = kx.Frames[1];
  EXPECT_EQ(f.Width, 3);
  EXPECT_EQ(f.Height, 2);
  EXPECT_EQ(f.OffsetX, 1 - 2); // odd width: the centre is column 5 div 2
  EXPECT_EQ(f.OffsetY, 1 - 2);
  EXPECT_EQ(f.Pixels, S({0, 0, 2, 8, 0, 0}));
  // Depths are cropped as they are, also under transparent pixels.
  EXPECT_EQ(f.Depths, S({106, 107, 108, 111, 112, 113}));
  EXPECT_EQ(f.ExtraSize, 4);

  EXPECT_THROW(kx.AddFrame(2, plane.data(), depth.data()), Error);
  EXPECT_THROW(kx.AddFrame(-1, plane.data(), depth.data()), Error);
  kx.FrameWidth = 70000;
  EXPECT_THROW(kx.AddFrame(0, plane.data(), depth.data()), Error);
}

TEST(KXFile, ContainerBytes) {
  // One pixel of index 7, depth 30 at column 10, row 5 of a 64 x 32 frame.
  Bytes index(64 * 32, 0), depth(64 * 32, 0);
  index[5 * 64 + 10] = 7;
  depth[5 * 64 + 10] = 30;
  TKX_File kx('Z');
  kx.FrameWidth = 64;
  kx.FrameHeight = 32;
  kx.SetFrameCount(2);
  kx.AddFrame(0, index.data(), depth.data());
  Bytes out;
  kx.WriteToStream(out);
  EXPECT_EQ(out, J({{0xFF, 'K', '.', 'Z', 0, 0, 'Z', 2, 0}, // header, 2 frames
                    {4, 0, 0xEA, 0xFF, 0xF5, 0xFF},         // ExtraSize 4, OffsetX -22, OffsetY -11
                    {1, 0, 1, 0, 6, 0, 0, 0},               // Width, Height, DataSize
                    {0, 0, 0, 0, 7, 30},                    // row table, (7, 30)
                    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}));      // frame 1 was never added: all zero
  EXPECT_EQ(kx.Frames[0].DataSize, 6u);
  EXPECT_EQ(kx.Frames[0].Extra, S({0xEA, 0xFF, 0xF5, 0xFF}));

  // A frame with nothing visible is stored whole, every row a transparent run.
  TKX_File empty('Z');
  empty.FrameWidth = 4;
  empty.FrameHeight = 3;
  empty.SetFrameCount(1);
  const Bytes none(12, 0);
  empty.AddFrame(0, none.data(), none.data());
  out.clear();
  empty.WriteToStream(out);
  EXPECT_EQ(out, J({{0xFF, 'K', '.', 'Z', 0, 0, 'Z', 1, 0},
                    {4, 0, 0xFE, 0xFF, 0xFF, 0xFF},       // offsets -2, -1
                    {4, 0, 3, 0, 18, 0, 0, 0},            // 4 x 3, DataSize 18
                    {0, 0, 0, 0, 2, 0, 0, 0, 4, 0, 0, 0}, // row table
                    {0, 4, 0, 4, 0, 4}}));

  // Modes S and X put 'X' in the third byte; the crop data follows the record.
  for (char mode : {'S', 'X'}) {
    TKX_File other(mode);
    other.FrameWidth = 64;
    other.FrameHeight = 32;
    other.SetFrameCount(1);
    other.AddFrame(0, index.data(), depth.data());
    out.clear();
    other.WriteToStream(out);
    const Bytes data = mode == 'S' ? S({0x81}) : S({0x81, 7});
    Bytes expected = J({{0xFF, 'K', 'X', mode, 0, 0, mode, 1, 0},
                        {4, 0, 0xEA, 0xFF, 0xF5, 0xFF},
                        {1, 0, 1, 0, static_cast<int>(data.size()), 0, 0, 0}});
    expected.insert(expected.end(), data.begin(), data.end());
    EXPECT_EQ(out, expected) << mode;
  }

  // An unknown mode writes its records without data.
  TKX_File odd('Q');
  odd.FrameWidth = 64;
  odd.FrameHeight = 32;
  odd.SetFrameCount(1);
  odd.AddFrame(0, index.data(), depth.data());
  out.clear();
  odd.WriteToStream(out);
  EXPECT_EQ(out, J({{0xFF, 'K', 'X', 'Q', 0, 0, 'Q', 1, 0},
                    {4, 0, 0xEA, 0xFF, 0xF5, 0xFF},
                    {1, 0, 1, 0, 0, 0, 0, 0}})); // DataSize 0, no data

  // The header of twelve frames.
  TKX_File twelve('Z');
  twelve.SetFrameCount(12);
  out.clear();
  twelve.WriteToStream(out);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 9), S({0xFF, 0x4B, 0x2E, 0x5A, 0, 0, 0x5A, 0x0C, 0}));
  EXPECT_EQ(out.size(), 9u + 12 * 10);

  // A frame count that does not fit the 16-bit field is refused, not wrapped.
  TKX_File many('Z');
  many.SetFrameCount(65536);
  out.clear();
  EXPECT_THROW(many.WriteToStream(out), Error);
}

TEST(Palette16, Words) {
  std::array<TRGBTriple, 256> triples{};
  triples[0] = MakeTriple(248, 128, 96);
  triples[1] = MakeTriple(32, 96, 32);
  triples[2] = MakeTriple(255, 0, 255);
  triples[3] = MakeTriple(255, 255, 255);
  triples[4] = MakeTriple(7, 3, 7);
  triples[5] = MakeTriple(0, 252, 0);
  const Bytes bytes = Palette16Bytes(triples);
  ASSERT_EQ(bytes.size(), 512u);
  EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 14),
            S({0x0C, 0xFC, 0x04, 0x23, 0x1F, 0xF8, 0xFF, 0xFF, 0, 0, 0xE0, 0x07, 0, 0}));

  // From palette entries: the extra byte never reaches the file.
  std::array<TPaletteEntry, 256> entries{};
  entries[0] = MakeEntry(248, 128, 96, 0xAB);
  entries[255] = MakeEntry(255, 0, 255, 255);
  const Bytes fromEntries = Palette16Bytes(entries);
  EXPECT_EQ(fromEntries[0], 0x0C);
  EXPECT_EQ(fromEntries[1], 0xFC);
  EXPECT_EQ(fromEntries[510], 0x1F);
  EXPECT_EQ(fromEntries[511], 0xF8);
}

TEST(KXFile, NamesAndFiles) {
  EXPECT_EQ(Palette16Name("out/tree_0.kxz"), "out/tree_0.p16");
  EXPECT_EQ(Palette16Name("tree_0"), "tree_0.p16");
  EXPECT_EQ(Palette16Name("out.d/tree_0"), "out.d/tree_0.p16");
  EXPECT_EQ(Palette16Name("out.d\\tree.a.kxz"), "out.d\\tree.a.p16");

  const fs::path dir = TempDir("files");
  TAngleSheet sheet;
  sheet.FrameWidth = 2;
  sheet.SheetWidth = 4;
  sheet.Height = 1;
  sheet.IndexPlane = S({0, 3, 0, 0});
  sheet.DepthPlane = S({0, 40, 0, 0});
  sheet.Palette[3] = MakeEntry(248, 128, 96, 0);
  const std::string name = (dir / "a" / "b" / "tree_0.kxz").string(); // folders are made
  fs::create_directories(dir / "a" / "b");
  { std::ofstream(dir / "a" / "b" / "tree_0.kxz") << "an older, longer file than the new one"; }
  WriteKXZ(name, sheet);
  // Frame 1 (columns 2-3) has nothing visible and is stored whole; exact bytes of the
  // encoders are above, the golden sheets check the rest.
  const Bytes kxz = ReadFile(name);
  EXPECT_EQ(kxz, SheetToKXZ(sheet));
  EXPECT_EQ(kxz.size(), 9u + 2 * 14 + 6 + 6);
  const Bytes p16 = ReadFile(dir / "a" / "b" / "tree_0.p16");
  ASSERT_EQ(p16.size(), 512u);
  EXPECT_EQ(p16[6], 0x0C);
  EXPECT_EQ(p16[7], 0xFC);

  TKX_File kx('Z');
  kx.SetFrameCount(1);
  const std::string fresh = (dir / "new" / "deeper" / "x.kxz").string();
  kx.SaveToFile(fresh);
  EXPECT_EQ(ReadFile(fresh).size(), 19u);
  // A name that cannot be written (a folder is in the way) is reported with the name.
  fs::create_directories(dir / "taken.kxz");
  try {
    kx.SaveToFile((dir / "taken.kxz").string());
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("taken.kxz"), std::string::npos) << e.what();
  }
  // A sheet whose planes do not match its size is refused before anything is written.
  sheet.IndexPlane.pop_back();
  EXPECT_THROW(WriteKXZ((dir / "bad.kxz").string(), sheet), Error);
  EXPECT_FALSE(fs::exists(dir / "bad.kxz"));
  fs::remove_all(dir);
}

} // namespace
} // namespace quarvel
