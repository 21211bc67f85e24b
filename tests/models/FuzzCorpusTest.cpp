// Replays the fuzz corpus (fuzz/corpus) through the fuzz targets' own entry functions,
// so every input that once found a fault, and every seed, runs in the normal test build.
#include "models/FuzzEntry.h"
#include "models/FuzzImages.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace quarvel {
namespace {

namespace fs = std::filesystem;

// The inputs of one corpus folder by file name.
std::map<std::string, std::string> ReadCorpusFiles(const char* kind) {
  std::map<std::string, std::string> inputs;
  const fs::path dir = fs::path(QUARVEL_SOURCE_DIR) / "fuzz" / "corpus" / kind;
  for (const auto& entry : fs::directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    inputs[entry.path().filename().string()] = bytes.str();
  }
  return inputs;
}

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
  using TEntry = std::string (*)(const uint8_t*, size_t);
  const struct {
    const char* Kind;
    TEntry Entry;
    const char* Extension;
  } kinds[] = {
      {"png", FuzzPNGFile, ".png"}, {"jpeg", FuzzJPEGFile, ".jpg"}, {"bmp", FuzzBMPFile, ".bmp"}};
  std::map<std::string, std::map<std::string, std::string>> corpus;
  for (const auto& k : kinds) {
    corpus[k.Kind] = ReadCorpusFiles(k.Kind);
    EXPECT_GE(corpus[k.Kind].size(), 5u) << k.Kind;
  }
  // Every picture through every decoder: each refusal names the file (the entry aborts
  // otherwise), and each corpus holds pictures its own decoder takes.
  for (const auto& k : kinds) {
    size_t decoded = 0;
    for (const auto& [kind, files] : corpus)
      for (const auto& [name, input] : files) {
        const std::string outcome = k.Entry(Bytes(input), input.size());
        if (kind == k.Kind && outcome.empty())
          ++decoded;
      }
    EXPECT_GE(decoded, 3u) << k.Kind;
  }

  // A few outcomes in full: the error names the file the bytes were read from.
  auto outcome = [&](const char* kind, const std::string& name) {
    const auto& files = corpus[kind];
    const auto found = files.find(name);
    if (found == files.end())
      return "(no corpus file " + std::string(kind) + "/" + name + ")";
    for (const auto& k : kinds)
      if (std::string(k.Kind) == kind)
        return k.Entry(Bytes(found->second), found->second.size());
    return std::string("(unknown kind)");
  };
  const std::string png = FuzzImageFile(".png");
  const std::string jpg = FuzzImageFile(".jpg");
  const std::string bmp = FuzzImageFile(".bmp");
  EXPECT_EQ(outcome("png", "rgb_3x2.png"), "");
  EXPECT_EQ(outcome("png", "cut_in_idat.png"), png + ": PNG file is truncated");
  EXPECT_EQ(outcome("png", "huge_ihdr.png"),
            png + ": image is 100000 x 100000 pixels, larger than the largest texture (16384)");
  EXPECT_EQ(outcome("jpeg", "rgb_8x8.jpg"), "");
  EXPECT_EQ(outcome("jpeg", "cut_in_scan.jpg"), jpg + ": JPEG file is truncated");
  // 650 bytes that took the decoder past the fuzz target's memory limit of 2 GiB.
  EXPECT_EQ(outcome("jpeg", "progressive_444_huge.jpg"),
            jpg + ": image is 16384 x 16384 pixels stored in several scans, which takes 1536 MiB "
                  "to decode, more than 768 MiB");
  EXPECT_EQ(outcome("bmp", "rgb24_3x2.bmp"), "");
  EXPECT_EQ(outcome("bmp", "rows_missing.bmp"), bmp + ": BMP file is truncated");
  EXPECT_EQ(outcome("bmp", "rle8.bmp"), bmp + ": compressed BMP (RLE8) is not supported");
}

} // namespace
} // namespace quarvel
