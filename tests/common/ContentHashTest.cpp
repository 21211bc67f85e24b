// Content hashes (XXH3-128) and the shard of a job name (FNV-1a 64).
#include "common/ContentHash.h"
#include "TempFolder.h"
#include "common/Error.h"

#include <gtest/gtest.h>

using quarvel::HashBytes;
using quarvel::HashFile;
using quarvel::NameHash;
using quarvel::ParseShard;
using quarvel::ShardOf;

TEST(ContentHash, KnownValuesAndFilesHashLikeTheirBytes) {
  // The published test vectors: build tools and other machines rely on these staying put.
  EXPECT_EQ(HashBytes("", 0), "99aa06d3014798d86001c324468d497f");
  EXPECT_EQ(NameHash(""), 0xcbf29ce484222325ULL);
  EXPECT_EQ(NameHash("a"), 0xaf63dc4c8601ec8cULL);
  EXPECT_EQ(NameHash("foobar"), 0x85944171f73967e8ULL);

  quarvel::test::TempFolder tmp("hash");
  // Larger than one read, so the pieces must join up.
  std::string big(3 * (1 << 20) + 17, '\0');
  for (size_t i = 0; i < big.size(); ++i)
    big[i] = static_cast<char>(i * 7 + i / 251);
  tmp.Write("big.bin", big);
  EXPECT_EQ(HashFile(tmp / "big.bin"), HashBytes(big.data(), big.size()));
  EXPECT_NE(HashBytes(big.data(), big.size() - 1), HashBytes(big.data(), big.size()));
  EXPECT_THROW(HashFile(tmp / "missing.bin"), quarvel::Error);
}

TEST(ContentHash, ShardOfANameIgnoresItsSpelling) {
  for (const int n : {2, 3, 7}) {
    EXPECT_EQ(ShardOf("units/tank", n), static_cast<int>(NameHash("units/tank") % n) + 1);
    EXPECT_EQ(ShardOf("Units\\Tank", n), ShardOf("units/tank", n));
    EXPECT_EQ(ShardOf("./units/tank", n), ShardOf("units/tank", n));
  }
  EXPECT_EQ(ShardOf("anything", 1), 1);
}

TEST(ContentHash, ShardTexts) {
  const struct {
    const char* Text;
    int Index, Count; // 0: refused
  } cases[] = {{"1/1", 1, 1},  {"2/4", 2, 4},  {"7/7", 7, 7},   {"0/3", 0, 0},       {"4/3", 0, 0},
               {"x", 0, 0},    {"", 0, 0},     {"1/0", 0, 0},   {"-1/3", 0, 0},      {"1/+3", 0, 0},
               {" 1/3", 0, 0}, {"1/3 ", 0, 0}, {"1/3/3", 0, 0}, {"99999999/1", 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    if (c.Count == 0) {
      EXPECT_THROW(ParseShard(c.Text), quarvel::Error);
      continue;
    }
    const quarvel::TShard s = ParseShard(c.Text);
    EXPECT_EQ(s.Index, c.Index);
    EXPECT_EQ(s.Count, c.Count);
  }
}
