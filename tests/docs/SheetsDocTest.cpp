// The PNG sheets' part of docs/formats.md: its atlas and Godot resource examples are what
// the writers make of the example sheet's facts as the page states them, byte for byte.
#include "DocBlocks.h"

#include "output/Atlas.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace quarvel::test::docs {
namespace {

// The page's example: the three frames of 4 x 3 pixels of "The example sheet", angle 1
// (90 degrees) of the job units/tiny with angles 0 and 90, cut from views of 8 x 5,
// sheets at most 8 pixels wide, depth and normal maps, 12 frames a second, scale 0.5,
// zmax 100, --atlas godot.
TAtlasFacts ExampleFacts() {
  TAtlasFacts f;
  f.Job = "units/tiny";
  f.Angle = 1;
  f.AngleDegrees = {0, 90};
  f.Frames = 3;
  f.Grid = SheetGridOf(3, 4, 3, 8);
  f.ViewWidth = 8;
  f.ViewHeight = 5;
  f.Image = "tiny_1.png";
  f.DepthImage = "tiny_1.depth.png";
  f.NormalImage = "tiny_1.normal.png";
  f.Scale = 0.5;
  f.ZMax = 100;
  f.Version = "1.1.0";
  f.Options.Fps = 12;
  f.Options.Godot = true;
  return f;
}

TEST(DocsSheets, TheExamplesAreWhatTheWritersWrite) {
  const std::string file = DocPath("formats.md");
  ASSERT_EQ(CountFences(file, "json"), 1);
  ASSERT_EQ(CountFences(file, "tres"), 1);
  const TAtlasFacts facts = ExampleFacts();
  struct Case {
    const char* Kind;
    std::string Written;
  };
  const Case cases[] = {{"json", AtlasJSON(facts)}, {"tres", GodotSpriteFrames(facts)}};
  for (const Case& c : cases)
    for (const TDocBlock& b : ReadFencedBlocks(file))
      if (b.Kind() == c.Kind) {
        SCOPED_TRACE(Where("formats.md", b));
        EXPECT_EQ(b.Text, c.Written);
      }
  EXPECT_FALSE(nlohmann::json::parse(AtlasJSON(facts), nullptr, false).is_discarded());
}

} // namespace
} // namespace quarvel::test::docs
