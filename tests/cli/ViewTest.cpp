// quarvel-cli view: pictures and frame list of a container (with its palette) or a 2P5D
// sheet, and clean refusals.
#include "common/FileLookup.h"
#include "image/Image.h"
#include "output/KXFile.h"
#include "output/Readers.h"
#include "support/TestSystem.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace quarvel {
namespace {

namespace fs = std::filesystem;

struct TRun {
  int Status = -1;
  std::string Out;
  std::string Err;
};

TRun RunCli(const std::string& args, const fs::path& /*dir*/) {
  const quarvel::test::TProgramRun run =
      quarvel::test::RunProgram(QUARVEL_CLI, quarvel::test::ShellWords(args));
  return {run.Status, run.Out, run.Err};
}

// Width, height and colour type from a PNG's IHDR chunk.
struct TPngHeader {
  uint32_t Width = 0;
  uint32_t Height = 0;
  int ColourType = -1;
};
TPngHeader PngHeader(const fs::path& p) {
  const std::string b = ReadWholeFile(p.string());
  TPngHeader h;
  if (b.size() < 26 || b.compare(1, 3, "PNG") != 0)
    return h;
  auto be32 = [&](size_t at) {
    return (uint32_t{static_cast<uint8_t>(b[at])} << 24) |
           (uint32_t{static_cast<uint8_t>(b[at + 1])} << 16) |
           (uint32_t{static_cast<uint8_t>(b[at + 2])} << 8) |
           uint32_t{static_cast<uint8_t>(b[at + 3])};
  };
  h.Width = be32(16);
  h.Height = be32(20);
  h.ColourType = static_cast<uint8_t>(b[25]);
  return h;
}

class ViewCommand : public ::testing::Test {
protected:
  void SetUp() override {
    Dir = fs::temp_directory_path() / ("quarvel-view-" + std::to_string(::getpid()));
    fs::remove_all(Dir);
    fs::create_directories(Dir);
  }
  void TearDown() override { fs::remove_all(Dir); }

  // Two 3 x 2 frames: frame 0 has index 5 (depth 200) at (1, 0) and index 6 (depth 100)
  // at (2, 1); frame 1 is empty.
  std::string WriteSmallContainer() {
    TAngleSheet sheet;
    sheet.FrameWidth = 3;
    sheet.SheetWidth = 6;
    sheet.Height = 2;
    sheet.IndexPlane = {0, 5, 0, 0, 0, 0, 0, 0, 6, 0, 0, 0};
    sheet.DepthPlane = {0, 200, 0, 0, 0, 0, 0, 0, 100, 0, 0, 0};
    sheet.Palette[5] = MakeEntry(248, 128, 96, 0);
    sheet.Palette[6] = MakeEntry(32, 96, 32, 0);
    // With '/', as the program names files back on every system.
    const std::string name = (Dir / "Tree_0.kxz").generic_string();
    WriteKXZ(name, sheet);
    return name;
  }

  fs::path Dir;
};

TEST_F(ViewCommand, ContainerPicturesAndText) {
  const std::string kxz = WriteSmallContainer();
  TRun run = RunCli("view '" + kxz + "' --frame-size 3x2", Dir);
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Out, kxz +
                         ": sprite container, mode 'Z', 2 frames of 3 x 2 pixels\n"
                         "  palette " +
                         (Dir / "Tree_0.p16").generic_string() +
                         "\n"
                         "  frame 0: 2 x 2 at (0, -1), 16 bytes of data\n"
                         "  frame 1: 3 x 2 at (-1, -1), 12 bytes of data\n"
                         "wrote " +
                         kxz +
                         ".png (6 x 2, palette colours, index 0 transparent)\n"
                         "wrote " +
                         kxz + ".depth.png (6 x 2, depth as grey)\n");
  const TPngHeader colour = PngHeader(kxz + ".png");
  EXPECT_EQ(colour.Width, 6u);
  EXPECT_EQ(colour.Height, 2u);
  EXPECT_EQ(colour.ColourType, 6); // RGBA: the background is transparent
  const TPngHeader depth = PngHeader(kxz + ".depth.png");
  EXPECT_EQ(depth.Width, 6u);
  EXPECT_EQ(depth.ColourType, 0); // grey
  // Pixels in their palette colours (as the .p16 holds them) and depths as they are.
  const TDecodedImage picture = DecodePNG(kxz + ".png", 1000);
  EXPECT_EQ(picture.Pixels[3 * 1 + 0], 248);
  EXPECT_EQ(picture.Pixels[3 * 1 + 1], 128);
  EXPECT_EQ(picture.Pixels[3 * 1 + 2], 96);
  EXPECT_EQ(picture.Pixels[3 * 8 + 1], 96);
  const TDecodedImage grey = DecodePNG(kxz + ".depth.png", 1000);
  EXPECT_EQ(grey.Pixels[3 * 1], 200);
  EXPECT_EQ(grey.Pixels[3 * 8], 100);
  EXPECT_EQ(grey.Pixels[0], 0);

  // Without the frame size it is inferred (here exactly, thanks to the empty frame), and
  // --out puts the pictures elsewhere, creating the folder.
  run = RunCli("view '" + kxz + "' --out '" + (Dir / "pics").string() + "'", Dir);
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_NE(run.Out.find("2 frames of 3 x 2 pixels (frame size inferred"), std::string::npos)
      << run.Out;
  EXPECT_EQ(PngHeader(Dir / "pics" / "Tree_0.kxz.png").Width, 6u);
  EXPECT_TRUE(fs::exists(Dir / "pics" / "Tree_0.kxz.depth.png"));

  // The name is found whatever its case, like every file the program reads.
  run = RunCli("view '" + (Dir / "TREE_0.KXZ").string() + "' --out '" + Dir.string() + "'", Dir);
  EXPECT_EQ(run.Status, 0) << run.Err;
}

TEST_F(ViewCommand, Refusals) {
  const std::string kxz = WriteSmallContainer();
  fs::remove(Dir / "Tree_0.p16");
  TRun run = RunCli("view '" + kxz + "'", Dir);
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Err.find("Tree_0.p16"), std::string::npos) << run.Err;
  EXPECT_FALSE(fs::exists(kxz + ".png"));

  // A damaged container names the file and the frame.
  std::string bytes = ReadWholeFile(kxz);
  bytes.resize(bytes.size() - 3);
  { std::ofstream(Dir / "cut.kxz", std::ios::binary) << bytes; }
  run = RunCli("view '" + (Dir / "cut.kxz").string() + "'", Dir);
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Err.find("cut.kxz: frame 1 of 2: "), std::string::npos) << run.Err;

  run = RunCli("view '" + kxz + "' --frame-size 3by2", Dir);
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Err.find("'3by2' is not WIDTHxHEIGHT"), std::string::npos) << run.Err;

  run = RunCli("view '" + (Dir / "missing.2p5d").string() + "'", Dir);
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Err.find("missing.2p5d"), std::string::npos) << run.Err;
}

TEST_F(ViewCommand, GoldenSheet) {
  const fs::path raw =
      fs::path(QUARVEL_SHARED_TESTDATA) / "golden" / "few-colours" / "sheet_0.2p5d";
  if (!fs::exists(raw))
    GTEST_SKIP() << "no golden data";
  const TAngleSheet sheet = Read2P5D(raw.string());
  TRun run = RunCli("view '" + raw.generic_string() + "' --out '" + Dir.string() + "'", Dir);
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Out.rfind(raw.generic_string() + ": 2P5D sheet, " +
                              std::to_string(sheet.FrameCount()) + " frames of " +
                              std::to_string(sheet.FrameWidth) + " x " +
                              std::to_string(sheet.Height) + " pixels\n  frame 0: ",
                          0),
            0u)
      << run.Out;
  const TPngHeader colour = PngHeader(Dir / "sheet_0.2p5d.png");
  EXPECT_EQ(colour.Width, static_cast<uint32_t>(sheet.SheetWidth));
  EXPECT_EQ(colour.Height, static_cast<uint32_t>(sheet.Height));
  EXPECT_EQ(PngHeader(Dir / "sheet_0.2p5d.depth.png").Height, static_cast<uint32_t>(sheet.Height));

  // Its container beside it shows the same frames.
  const fs::path kxz = raw.parent_path() / "sheet_0.kxz";
  run = RunCli("view '" + kxz.string() + "' --out '" + Dir.string() + "' --frame-size " +
                   std::to_string(sheet.FrameWidth) + "x" + std::to_string(sheet.Height),
               Dir);
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(PngHeader(Dir / "sheet_0.kxz.png").Width, static_cast<uint32_t>(sheet.SheetWidth));
}

} // namespace
} // namespace quarvel
