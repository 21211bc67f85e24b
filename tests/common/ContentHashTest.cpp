// Content hashes (XXH3-128) and the shard of a job name (FNV-1a 64).
#include "common/ContentHash.h"
#include "TempFolder.h"
#include "common/Error.h"

#include <gtest/gtest.h>

#include <map>

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

// "auto" shards from a scheduler's variables: which one wins, how each counts, and what a
// refusal names (the variable and its value, or what to give instead).
TEST(ContentHash, ShardsFromTheSchedulersEnvironment) {
  using TVars = std::map<std::string, std::string>;
  const struct {
    const char* Text;
    TVars Vars;
    int Index, Count; // 0: refused
    const char* Says; // in the refusal
  } cases[] = {
      {"auto/4", {{"SLURM_ARRAY_TASK_ID", "3"}}, 3, 4, ""},
      {"auto/4", {{"SLURM_ARRAY_TASK_ID", "2"}, {"SLURM_ARRAY_TASK_MIN", "0"}}, 3, 4, ""},
      {"auto/4", {{"JOB_COMPLETION_INDEX", "2"}}, 3, 4, ""},
      {"auto/4", {{"JOB_COMPLETION_INDEX", "0"}, {"SLURM_ARRAY_TASK_ID", "4"}}, 1, 4, ""},
      {"auto", {{"QUARVEL_SHARD_INDEX", "0"}, {"QUARVEL_SHARD_COUNT", "2"}}, 1, 2, ""},
      {"auto/4", {}, 0, 0, "none of JOB_COMPLETION_INDEX, SLURM_ARRAY_TASK_ID or"},
      {"auto/4",
       {{"JOB_COMPLETION_INDEX", "4"}},
       0,
       0,
       "JOB_COMPLETION_INDEX is 4, outside the 4 shards"},
      {"auto/4",
       {{"SLURM_ARRAY_TASK_ID", "0"}},
       0,
       0,
       "SLURM_ARRAY_TASK_ID is 0 (SLURM_ARRAY_TASK_MIN 1), outside"},
      {"auto/4",
       {{"SLURM_ARRAY_TASK_ID", "1"}, {"SLURM_ARRAY_TASK_COUNT", "8"}},
       0,
       0,
       "SLURM_ARRAY_TASK_COUNT is 8, but the shards are counted as 4"},
      {"auto", {{"JOB_COMPLETION_INDEX", "1"}}, 0, 0, "give the count as --shard auto/N"},
      {"auto", {{"QUARVEL_SHARD_INDEX", "1"}}, 0, 0, "(QUARVEL_SHARD_COUNT is not set)"},
      {"auto/4", {{"QUARVEL_SHARD_INDEX", "-1"}}, 0, 0, "QUARVEL_SHARD_INDEX is '-1', not a"},
      {"auto",
       {{"QUARVEL_SHARD_INDEX", "0"}, {"QUARVEL_SHARD_COUNT", "0"}},
       0,
       0,
       "QUARVEL_SHARD_COUNT is 0, not a count"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    auto lookup = [&](const std::string& name) -> std::optional<std::string> {
      const auto found = c.Vars.find(name);
      return found == c.Vars.end() ? std::nullopt : std::optional<std::string>(found->second);
    };
    try {
      const quarvel::TShard s = quarvel::ResolveShard(c.Text, lookup);
      EXPECT_EQ(c.Count, s.Count);
      EXPECT_EQ(c.Index, s.Index);
    } catch (const quarvel::Error& e) {
      EXPECT_EQ(c.Count, 0) << e.what();
      EXPECT_NE(std::string(e.what()).find(c.Says), std::string::npos) << e.what();
    }
  }
}
