// Replays the fuzz corpus (fuzz/corpus) through the fuzz targets' own entry functions,
// so every input that once found a fault, and every seed, runs in the normal test build.
#include "harness/FuzzEntry.h"
#include "harness/FuzzImages.h"

#include "FuzzCorpus.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace quarvel {
namespace {

using quarvel::test::ReadCorpusFiles;

std::vector<std::string> ReadCorpus(const char* kind) {
  std::vector<std::string> inputs;
  for (auto& [name, bytes] : ReadCorpusFiles(kind))
    inputs.push_back(bytes);
  return inputs;
}

const uint8_t* Bytes(const std::string& s) {
  return reinterpret_cast<const uint8_t*>(s.data());
}

TEST(FuzzCorpus, ReplaysThroughBothReaders) {
  const auto obj = ReadCorpus("obj");
  const auto mtl = ReadCorpus("mtl");
  ASSERT_GE(obj.size(), 10u);
  ASSERT_GE(mtl.size(), 5u);
  for (const auto* corpus : {&obj, &mtl}) {
    for (const std::string& input : *corpus) {
      // Each entry aborts on a broken invariant; reaching the end is the test.
      EXPECT_EQ(FuzzOBJText(Bytes(input), input.size()), 0);
      EXPECT_EQ(FuzzMTLText(Bytes(input), input.size()), 0);
    }
  }
}

TEST(FuzzCorpus, ReplaysPicturesThroughEveryDecoder) {
  // Each refusal names the picture (the entries abort otherwise), and each corpus holds
  // pictures its own decoder takes.
  test::TCorpusReplay replay(
      {{"png", FuzzPNGBytes}, {"jpeg", FuzzJPEGBytes}, {"bmp", FuzzBMPBytes}});
  for (const char* kind : {"png", "jpeg", "bmp"}) {
    EXPECT_GE(replay.Inputs(kind), 5u) << kind;
    EXPECT_GE(replay.Read(kind), 3u) << kind;
  }
  auto outcome = [&](const char* kind, const char* name) { return replay.Outcome(kind, name); };

  // A few outcomes in full: the error names the picture by the name it was given.
  const std::string n = FuzzImageName;
  EXPECT_EQ(outcome("png", "rgb_3x2.png"), "");
  EXPECT_EQ(outcome("png", "cut_in_idat.png"), n + ": PNG file is truncated");
  EXPECT_EQ(outcome("png", "huge_ihdr.png"),
            n + ": image is 100000 x 100000 pixels, larger than the largest texture (16384)");
  EXPECT_EQ(outcome("jpeg", "rgb_8x8.jpg"), "");
  EXPECT_EQ(outcome("jpeg", "cut_in_scan.jpg"), n + ": JPEG file is truncated");
  // 650 bytes that took the decoder past the fuzz target's memory limit of 2 GiB.
  EXPECT_EQ(outcome("jpeg", "progressive_444_huge.jpg"),
            n + ": image is 16384 x 16384 pixels stored in several scans, which takes 1536 MiB "
                "to decode, more than 768 MiB");
  EXPECT_EQ(outcome("bmp", "rgb24_3x2.bmp"), "");
  EXPECT_EQ(outcome("bmp", "rows_missing.bmp"), n + ": BMP file is truncated");
  EXPECT_EQ(outcome("bmp", "rle8.bmp"), n + ": compressed BMP (RLE8) is not supported");
}

} // namespace
} // namespace quarvel
