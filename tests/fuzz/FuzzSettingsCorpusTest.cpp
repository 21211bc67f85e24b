// Replays the settings fuzz corpus (fuzz/corpus/settings) through the fuzz target's own
// entry function, so every input that once found a fault, and every seed, runs in the
// normal test build.
#include "harness/FuzzSettings.h"

#include "FuzzCorpus.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace quarvel {
namespace {

std::string Outcome(const std::string& input) {
  return FuzzSettingsFiles(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}

TEST(FuzzSettingsCorpus, ReplaysEveryInputAndNamesFileAndLine) {
  const std::map<std::string, std::string> corpus = test::ReadCorpusFiles("settings");
  ASSERT_GE(corpus.size(), 10u);
  std::map<std::string, std::string> outcomes;
  for (const auto& [name, input] : corpus)
    outcomes[name] = Outcome(input); // aborts on a broken invariant

  const std::string r = FuzzSettingsFolder();
  auto outcome = [&](const std::string& name) {
    const auto found = outcomes.find(name);
    return found == outcomes.end() ? "(no corpus file " + name + ")" : found->second;
  };
  EXPECT_EQ(outcome("one_model.txt"), "");
  EXPECT_EQ(outcome("nested_includes.txt"), "");
  EXPECT_EQ(outcome("warnings.txt"), "");
  EXPECT_EQ(outcome("include_cycle.txt"), r + "/p1.settings:1: include cycle: " + r +
                                              "/job.settings -> " + r + "/p1.settings -> " + r +
                                              "/job.settings");
  EXPECT_EQ(outcome("slot_too_large.txt"),
            r + "/job.settings:1: angle slot 4096 is beyond the largest slot 4095");
  EXPECT_EQ(outcome("frame_too_large.txt"),
            r + "/job.settings:1: frame number 4097 is beyond the largest frame number 4096");
  // "frame 1 p2.obj<NUL>...": the name is not cut at the NUL to load p2.obj.
  EXPECT_EQ(outcome("model_name_nul.txt").rfind(r + "/p1.settings:3: model p2.obj\\x00", 0), 0u)
      << outcome("model_name_nul.txt");
  // A scene named with DEL and bytes that are not UTF-8: shown escaped wherever it is named.
  const std::string scene = outcome("scene_name_bytes.txt");
  EXPECT_EQ(scene.rfind(r + "/job.settings:2: scene %MO\\xff\\xff", 0), 0u) << scene;
  EXPECT_NE(scene.find("\\x7f"), std::string::npos) << scene;
  EXPECT_NE(scene.find("... not found below " + r + "/ (paths are relative to --root)"),
            std::string::npos)
      << scene;
  EXPECT_EQ(outcome("include_grows.txt")
                .rfind(r + "/job.settings:2: include expansion does not end: ", 0),
            0u)
      << outcome("include_grows.txt");
  EXPECT_EQ(outcome("bad_model_line.txt"), "p1.obj:2: 'x' is not a valid floating point value");
  EXPECT_EQ(outcome("missing_include.txt"),
            r + "/job.settings:1: include p7.settings not found below " + r +
                "/ (paths are relative to --root)");

  // The parts of an input are files of their own: a later input with fewer parts does not
  // find the files of an earlier one.
  EXPECT_EQ(Outcome("include p2.settings\n===\n===\nangle 0 1\n"), "");
  EXPECT_EQ(Outcome("include p2.settings\n"),
            r + "/job.settings:1: include p2.settings not found below " + r +
                "/ (paths are relative to --root)");
}

} // namespace
} // namespace quarvel
