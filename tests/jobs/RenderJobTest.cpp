// Whole jobs rendered headless through EGL: progress, cropping, palettes and indices,
// both output formats, repeatability, equivalent angles and shared palettes.
#include "colour/Colour.h"
#include "common/Error.h"
#include "gl/GLTestUtil.h"
#include "jobs/JobRunner.h"
#include "jobs/JobTestUtil.h"
#include "models/OBJFile.h"
#include "output/Finishing.h"
#include "output/Readers.h"
#include "render/GLModel.h"

#include <gtest/gtest.h>

using namespace quarvel;
using quarvel::test::BoxMTL;
using quarvel::test::BoxOBJ;
using quarvel::test::ReadBytes;
using quarvel::test::TempRoot;

namespace {

// What these jobs draw with: the program's light and the shader programs of a folder
// without shader files (the built-in ones), made once.
const TRenderInputs& Inputs() {
  static const TShaderSet shaders = [] {
    quarvel::test::EnsureGLView();
    return LoadShaderSet(".");
  }();
  static TRenderInputs inputs = [] {
    TRenderInputs made;
    made.Shaders = &shaders;
    return made;
  }();
  return inputs;
}

using TReports = std::vector<std::pair<int32_t, std::string>>;

struct RenderedJob {
  TReports reports;
  T2P5D_Manager m{[this](int32_t p, const std::string& t) { reports.emplace_back(p, t); }};
  RenderedJob(const TempRoot& root, const std::string& name) {
    quarvel::test::EnsureGLView();
    m.RootDir = root.str();
    m.OutputDir = root / "out";
    m.Multisampled = GLView->Multisampled();
    m.LoadSettings(name);
    m.RenderAll(Inputs());
  }
};

void WriteBoxes(const TempRoot& root) {
  root.Write("box.mtl", BoxMTL());
  root.Write("box.obj", BoxOBJ(2.0f, 1.0f, 1.5f, true));
  root.Write("box2.obj", BoxOBJ(1.6f, 1.3f, 1.5f, true, 0.3f));
}

} // namespace

TEST(RenderJob, FramesAreCroppedIndexedAndWrittenAlikeInBothFormats) {
  TempRoot root;
  WriteBoxes(root);
  root.Write("j.settings", "angle 0 0\nangle 1 90\nframe 1 box.obj\nframe 2 box2.obj\n");
  RenderedJob job(root, "j");
  T2P5D_Manager& m = job.m;

  // Progress from the end of loading on: three passes of four views (0, 33, 66, 100).
  TReports expected = {{0, "Finished Loading"}, {0, "Rendering OBJs"}};
  for (const char* pass : {"Pass 1 (Visuals)", "Pass 2 (ZBuffer)", "Pass 3 (Side Colours)"})
    for (int p : {0, 33, 66, 100})
      expected.emplace_back(p, std::string("Rendering OBJs - ") + pass);
  expected.insert(expected.end(), {{0, "Removing Gaps"},
                                   {0, "Making 8 Bit Palette"},
                                   {0, "Making 8 Bit Palette"},
                                   {50, "Making 8 Bit Palette"}});
  const auto from = std::find(job.reports.begin(), job.reports.end(), expected.front());
  ASSERT_NE(from, job.reports.end());
  EXPECT_EQ(TReports(from, job.reports.end()), expected);

  // The display lists serve every view: compiled once for the visuals and depth, once
  // more after the switch to the job's materials.
  ASSERT_EQ(m.GLModels.size(), m.Models.size());
  for (size_t i = 0; i < m.Models.size(); ++i)
    EXPECT_EQ(m.GLModels[i]->ListsCompiled, 2 * m.Models[i]->GroupCount());

  // One common frame size; the tightest frame keeps exactly one empty pixel.
  const int FW = m.Sheets[0].FrameWidth, H = m.Sheets[0].Height;
  EXPECT_LT(FW, 400);
  EXPECT_LT(H, 400);
  bool edgeX = false, edgeY = false, insideX = false, insideY = false;
  size_t sidePixels = 0, content = 0;
  for (int a = 0; a < 2; ++a)
    for (int f = 0; f < 2; ++f) {
      m.CurrentAngle = a;
      m.CurrentFrame = f;
      EXPECT_EQ(m.Sheets[a].FrameWidth, FW);
      EXPECT_EQ(m.Sheets[a].Height, H);
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < FW; ++x) {
          const uint8_t d = *m.DepthPixel(x, y);
          const uint8_t s = *m.SidePixel(x, y);
          const uint8_t* c = m.ColourPixel(x, y);
          const bool key = c[0] == 255 && c[1] == 0 && c[2] == 255;
          if (d == 0) {
            EXPECT_TRUE(key && s == 0) << "empty pixel " << x << "," << y;
            continue;
          }
          ++content;
          if (s != 0) {
            ++sidePixels;
            EXPECT_TRUE(key) << "side pixel " << x << "," << y;
          }
          EXPECT_LE(d, 127);
          edgeX |= x == 0 || x == FW - 1;
          edgeY |= y == 0 || y == H - 1;
          insideX |= x == 1 || x == FW - 2;
          insideY |= y == 1 || y == H - 2;
        }
    }
  EXPECT_GT(content, 1000u);
  EXPECT_GT(sidePixels, 100u);
  EXPECT_FALSE(edgeX || edgeY);
  EXPECT_TRUE(insideX && insideY);

  const std::vector<TAngleSheet> before = m.Sheets;
  m.Save2P5D();
  m.SaveKXZ();
  EXPECT_EQ(job.reports.back(), (std::pair<int32_t, std::string>{0, "Finished!"}));
  for (int a = 0; a < 2; ++a) {
    SCOPED_TRACE(a);
    const TAngleSheet raw = Read2P5D(m.OutputName(a, TOutputFormat::Raw2P5D));
    ASSERT_EQ(raw.DepthPlane, before[a].DepthPlane);
    // Background is 0, side pixels take the ramp, everything else a quantized colour
    // (or 0 when the background key is its nearest entry).
    for (size_t i = 0; i < raw.IndexPlane.size(); ++i) {
      const uint8_t idx = raw.IndexPlane[i];
      if (raw.DepthPlane[i] == 0)
        ASSERT_EQ(idx, 0) << i;
      else if (before[a].SidePlane[i] != 0)
        ASSERT_EQ(idx, NearestRampIndex(before[a].SidePlane[i])) << i;
      else
        ASSERT_TRUE(idx == 0 || idx >= 25) << i;
    }
    EXPECT_EQ(raw.Palette[0], MakeEntry(32, 96, 32, 0));
    EXPECT_EQ(raw.Palette[1], MakeEntry(8, 4, 8, 0));
    EXPECT_EQ(raw.Palette[13], MakeEntry(136, 68, 48, 0));
    EXPECT_EQ(raw.Palette[24], MakeEntry(248, 128, 96, 0));

    // The container holds the same frames: identical indices, and depths where visible.
    const TAngleSheet kxz = KXZToSheet(ReadKXZ(m.OutputName(a, TOutputFormat::KXZ), FW, H));
    EXPECT_EQ(kxz.SheetWidth, raw.SheetWidth);
    EXPECT_EQ(kxz.IndexPlane, raw.IndexPlane);
    for (size_t i = 0; i < raw.IndexPlane.size(); ++i)
      ASSERT_EQ(kxz.DepthPlane[i], raw.IndexPlane[i] != 0 ? raw.DepthPlane[i] : 0) << i;
    const auto words = ReadPalette16(root / ("out/j_" + std::to_string(a) + ".p16"));
    for (int e = 0; e < 256; ++e)
      ASSERT_EQ(words[e], TripleToRGB565(EntryToTriple(raw.Palette[e]))) << e;
  }
}

TEST(RenderJob, SameViewsGiveSameSheetsAndRunsGiveSameBytes) {
  TempRoot root;
  WriteBoxes(root);
  root.Write("turn.settings", "angle 0 0\nangle 1 360\nangle 2 -90\nangle 3 270\n"
                              "frame 1 box2.obj\n");
  RenderedJob job(root, "turn");
  const auto& s = job.m.Sheets;
  for (auto [a, b] : {std::pair<int, int>{0, 1}, {2, 3}}) {
    SCOPED_TRACE(a);
    EXPECT_EQ(s[a].ColourPlane, s[b].ColourPlane);
    EXPECT_EQ(s[a].DepthPlane, s[b].DepthPlane);
    EXPECT_EQ(s[a].SidePlane, s[b].SidePlane);
    EXPECT_EQ(s[a].Palette, s[b].Palette);
  }
  EXPECT_NE(s[0].DepthPlane, s[2].DepthPlane); // the box is longer than deep

  // Two runs of one job write the same bytes.
  TJobOptions options;
  options.RootDir = root.str();
  options.Format = TOutputFormat::Raw2P5D;
  options.OutputDir = root / "run1";
  const auto first = RunJob(options, "turn", Inputs(), nullptr, nullptr);
  options.OutputDir = root / "run2";
  const auto second = RunJob(options, "turn", Inputs(), nullptr, nullptr);
  ASSERT_EQ(first.size(), 4u);
  for (size_t i = 0; i < first.size(); ++i)
    EXPECT_EQ(ReadBytes(first[i]), ReadBytes(second[i])) << first[i];
}

TEST(RenderJob, SingleOutputSharesOnePaletteAndTheExampleRenders) {
  TempRoot root;
  WriteBoxes(root);
  root.Write("one.settings", "angle 0 0\nangle 1 45\nframe 1 box.obj\nsingleoutput\n");
  RenderedJob job(root, "one");
  EXPECT_EQ(job.m.Sheets[0].Palette, job.m.Sheets[1].Palette);
  // The sheets differ, so their own palettes would too.
  EXPECT_NE(job.m.Sheets[0].ColourPlane, job.m.Sheets[1].ColourPlane);

  // The bundled example (four angles from an include, three frames, single output).
  TJobOptions options;
  options.RootDir = std::string(QUARVEL_SOURCE_DIR) + "/examples";
  options.OutputDir = root / "example";
  const auto files = RunJob(options, "units\\tank", Inputs(), nullptr, nullptr);
  std::vector<std::string> names;
  for (const std::string& f : files)
    names.push_back(f.substr(options.OutputDir.size() + 1));
  EXPECT_EQ(names,
            (std::vector<std::string>{"units/tank_0.kxz", "units/tank_0.p16", "units/tank_1.kxz",
                                      "units/tank_1.p16", "units/tank_2.kxz", "units/tank_2.p16",
                                      "units/tank_3.kxz", "units/tank_3.p16"}));
  for (int a = 1; a < 4; ++a)
    EXPECT_EQ(ReadBytes(files[2 * a + 1]), ReadBytes(files[1]));
  const TKXContents kxz = ReadKXZ(files[0]);
  EXPECT_EQ(kxz.Frames.size(), 3u);
}

TEST(RenderJob, RefusedJobsWriteNothing) {
  TempRoot root;
  WriteBoxes(root);
  root.Write("none.settings", "angle 0 0\nframe 1 box.obj\nscale 0\n");
  root.Write("noangle.settings", "frame 1 box.obj\n");
  TJobOptions options;
  options.RootDir = root.str();
  options.OutputDir = root / "out";
  options.DumpSheetsDir = root / "dump";
  for (const char* name : {"none", "noangle"}) {
    SCOPED_TRACE(name);
    EXPECT_THROW(RunJob(options, name, Inputs(), nullptr, nullptr), Error);
  }
  EXPECT_TRUE(quarvel::test::FilesBelow(root / "out").empty());
  EXPECT_TRUE(quarvel::test::FilesBelow(root / "dump").empty());
}
