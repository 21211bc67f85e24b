// Replays the fuzz corpus (fuzz/corpus) through the fuzz targets' own entry functions,
// so every input that once found a fault, and every seed, runs in the normal test build.
#include "models/FuzzEntry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace quarvel {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> ReadCorpus(const char* kind) {
  std::vector<std::string> inputs;
  const fs::path dir = fs::path(QUARVEL_SOURCE_DIR) / "fuzz" / "corpus" / kind;
  for (const auto& entry : fs::directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    inputs.push_back(bytes.str());
  }
  return inputs;
}

TEST(FuzzCorpus, ReplaysThroughBothReaders) {
  const auto obj = ReadCorpus("obj");
  const auto mtl = ReadCorpus("mtl");
  ASSERT_GE(obj.size(), 10u);
  ASSERT_GE(mtl.size(), 5u);
  for (const auto* corpus : {&obj, &mtl}) {
    for (const std::string& input : *corpus) {
      const auto* bytes = reinterpret_cast<const uint8_t*>(input.data());
      // Each entry aborts on a broken invariant; reaching the end is the test.
      EXPECT_EQ(FuzzOBJText(bytes, input.size()), 0);
      EXPECT_EQ(FuzzMTLText(bytes, input.size()), 0);
    }
  }
}

} // namespace
} // namespace quarvel
