// Replays the corpus of the output-file fuzz targets (fuzz/corpus/kxz, p16, 2p5d) through
// their own entry functions, so every input that once found a fault, and every seed, runs
// in the normal test build.
#include "output/FuzzReaders.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace quarvel {
namespace {

namespace fs = std::filesystem;

using TEntry = std::string (*)(const uint8_t*, size_t);

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

std::string Feed(TEntry entry, const std::string& input) {
  return entry(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}

TEST(FuzzReadersCorpus, ReplaysEveryInputThroughEveryReader) {
  const struct {
    const char* Kind;
    TEntry Entry;
  } kinds[] = {{"kxz", FuzzKXZBytes}, {"p16", FuzzPalette16Bytes}, {"2p5d", Fuzz2P5DBytes}};
  std::map<std::string, std::map<std::string, std::string>> corpus;
  for (const auto& k : kinds) {
    corpus[k.Kind] = ReadCorpusFiles(k.Kind);
    EXPECT_GE(corpus[k.Kind].size(), 2u) << k.Kind;
  }
  // Every input through every reader (each entry aborts on a broken invariant); each
  // corpus holds files its own reader takes.
  for (const auto& k : kinds) {
    size_t read = 0;
    for (const auto& [kind, files] : corpus)
      for (const auto& [name, input] : files)
        if (Feed(k.Entry, input).empty() && kind == k.Kind)
          ++read;
    EXPECT_GE(read, 1u) << k.Kind;
  }

  auto outcome = [&](const char* kind, const std::string& name) {
    const auto& files = corpus[kind];
    const auto found = files.find(name);
    if (found == files.end())
      return "(no corpus file " + std::string(kind) + "/" + name + ")";
    for (const auto& k : kinds)
      if (std::string(k.Kind) == kind)
        return Feed(k.Entry, found->second);
    return std::string("(unknown kind)");
  };
  const std::string n = FuzzReaderName;
  EXPECT_EQ(outcome("kxz", "mode_z_3_frames.kxz"), "");
  EXPECT_EQ(outcome("kxz", "mode_s_3_frames.kxz"), "");
  EXPECT_EQ(outcome("kxz", "trailing_byte.kxz"), n + ": 1 bytes after the last of 3 frames");
  EXPECT_EQ(outcome("p16", "palette.p16"), "");
  EXPECT_EQ(outcome("p16", "short.p16"),
            n + ": is 511 bytes long; a palette file has 512 (256 RGB565 words)");
  EXPECT_EQ(outcome("2p5d", "sheet_3x9x6.2p5d"), "");
  EXPECT_EQ(outcome("2p5d", "frame_width_3.2p5d"),
            n + ": sheet width 4 is not a whole number of frames of width 3");
}

} // namespace
} // namespace quarvel
