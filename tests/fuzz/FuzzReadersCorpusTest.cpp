// Replays the corpus of the output-file fuzz targets (fuzz/corpus/kxz, p16, 2p5d) through
// their own entry functions, so every input that once found a fault, and every seed, runs
// in the normal test build.
#include "harness/FuzzReaders.h"

#include "FuzzCorpus.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace quarvel {
namespace {

TEST(FuzzReadersCorpus, ReplaysEveryInputThroughEveryReader) {
  // Each corpus holds files its own reader takes.
  test::TCorpusReplay replay(
      {{"kxz", FuzzKXZBytes}, {"p16", FuzzPalette16Bytes}, {"2p5d", Fuzz2P5DBytes}});
  for (const char* kind : {"kxz", "p16", "2p5d"}) {
    EXPECT_GE(replay.Inputs(kind), 2u) << kind;
    EXPECT_GE(replay.Read(kind), 1u) << kind;
  }
  auto outcome = [&](const char* kind, const char* name) { return replay.Outcome(kind, name); };
  const std::string n = FuzzReaderName;
  EXPECT_EQ(outcome("kxz", "mode_z_3_frames.kxz"), "");
  EXPECT_EQ(outcome("kxz", "mode_s_3_frames.kxz"), "");
  EXPECT_EQ(outcome("kxz", "trailing_byte.kxz"), n + ": 1 byte after the last of 3 frames");
  EXPECT_EQ(outcome("p16", "palette.p16"), "");
  EXPECT_EQ(outcome("p16", "short.p16"),
            n + ": is 511 bytes long; a palette file has 512 (256 RGB565 words)");
  EXPECT_EQ(outcome("2p5d", "sheet_3x9x6.2p5d"), "");
  EXPECT_EQ(outcome("2p5d", "frame_width_3.2p5d"),
            n + ": sheet width 4 is not a whole number of frames of width 3");
}

} // namespace
} // namespace quarvel
