// The PNG sheets' examples in docs/formats.md are what the writers make of the facts the
// page states for them (the example sheet as angle 1 of units/tiny), byte for byte.
#include "DocBlocks.h"

#include "output/Atlas.h"

namespace quarvel::test::docs {
namespace {

TEST(DocsSheets, TheExamplesAreWhatTheWritersWrite) {
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
  int checked = 0;
  for (const TDocBlock& b : ReadFencedBlocks(DocPath("formats.md")))
    if (b.Kind() == "json" || b.Kind() == "tres") {
      EXPECT_EQ(b.Text, b.Kind() == "json" ? AtlasJSON(f) : GodotSpriteFrames(f))
          << Where("formats.md", b);
      ++checked;
    }
  EXPECT_EQ(checked, 2);
}

} // namespace
} // namespace quarvel::test::docs
