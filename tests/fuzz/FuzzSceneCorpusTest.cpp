// Replays the scene corpus (fuzz/corpus/scene) through the scene fuzz target's entry, and
// the other readers' corpora through it too: every file is read or refused with a
// message naming it, never a crash.
#include "harness/FuzzScene.h"
#include "support/TestSystem.h"

#include "FuzzCorpus.h"

#include <gtest/gtest.h>

namespace quarvel {
namespace {

TEST(FuzzSceneCorpus, EveryInputIsReadOrRefusedByName) {
  // The corpus holds files Assimp crashes on.
  test::TCorpusReplay replay({{"scene", FuzzSceneBytes}, {"obj", FuzzSceneBytes}});
  EXPECT_GE(replay.Inputs("scene"), 10u);
  EXPECT_GE(replay.Read("scene"), 6u);
  auto outcome = [&](const char* name) { return replay.Outcome("scene", name); };
  // Each format the program names is reached and read.
  for (const char* name :
       {"triangle.gltf", "triangle.glb", "triangle.dae", "triangle.ply", "triangle_ascii.stl",
        "triangle_binary.stl", "walker.gltf", "step_rotation.gltf"})
    EXPECT_EQ(outcome(name), "") << name;
  // A buffer outside the (empty) root is refused by the file gate.
  const std::string outside = outcome("outside_buffer.gltf");
  EXPECT_EQ(outside.rfind("fuzz.gltf: cannot read the scene", 0), 0u) << outside;
  EXPECT_NE(outside.find("is outside the root folder"), std::string::npos) << outside;
  // Assimp would take the element name's digits for a count of 477 million (11 GB).
  EXPECT_NE(outcome("ply_element_name_digits.ply").find("starts with a digit"), std::string::npos);
  // A texture in a format we cannot decode is a warning, not a failure.
  EXPECT_EQ(outcome("gif_texture.gltf"), "");
  for (const char* name :
       {"truncated.glb", "bad_json.gltf", "huge_count.gltf", "skin_key_not_utf8.gltf",
        "skin_key_not_utf8_small.gltf", "number_overflow.gltf", "ply_header_nul.ply"}) {
    const std::string said = outcome(name);
    EXPECT_NE(said, "") << name;
  }
}

} // namespace
} // namespace quarvel
