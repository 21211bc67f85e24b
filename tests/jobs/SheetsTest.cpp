// Sheets without GL: read-back conversion, view percentages, gap removal, palettes and
// saving (against the golden files), plane dumps.
#include "common/AtomicFile.h"
#include "common/Error.h"
#include "image/Image.h"
#include "jobs/JobTestUtil.h"
#include "jobs/Manager.h"
#include "output/Readers.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>
// GCC sees a null dereference inside nlohmann's inlined conversions that cannot happen.
#pragma GCC diagnostic ignored "-Wnull-dereference"
#include <nlohmann/json.hpp>

using namespace quarvel;
using quarvel::test::TempRoot;

namespace {

// A job of `frames` frames and `angles` angles with views of w x h, all empty.
void Shape(T2P5D_Manager& m, int angles, int frames, int w, int h) {
  m.Angles.assign(static_cast<size_t>(angles), 0);
  m.Frames.assign(static_cast<size_t>(frames), TJobFrame{});
  m.ViewWidth = w;
  m.ViewHeight = h;
  m.AllocateViews();
}

// Renders pixels x0..x1, y0..y1 (inclusive) of frame f of angle a as content, through the
// read-back conversions a real view goes through: colour (x, y, f), the given depth.
void Fill(T2P5D_Manager& m, int a, int f, int x0, int x1, int y0, int y1, uint8_t depth = 7) {
  const int w = m.ViewWidth, h = m.ViewHeight;
  std::vector<uint8_t> visual(static_cast<size_t>(w * h * 3), 0);
  std::vector<uint8_t> depths(visual.size(), 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const size_t at = (static_cast<size_t>(h - 1 - y) * static_cast<size_t>(w) + x) * 3;
      const bool in = x >= x0 && x <= x1 && y >= y0 && y <= y1;
      visual[at] = static_cast<uint8_t>(x);
      visual[at + 1] = static_cast<uint8_t>(y);
      visual[at + 2] = static_cast<uint8_t>(f);
      depths[at] = in ? 0 : 255;
      depths[at + 1] = in ? depth : 0;
      depths[at + 2] = in ? 0 : 255;
    }
  m.BeginView(a, f);
  m.StoreVisual(visual.data());
  m.StoreDepthPlain(depths.data());
  m.KeepView();
}

std::string Refusal(T2P5D_Manager& m) {
  try {
    m.RemoveGaps();
  } catch (const Error& e) {
    return e.what();
  }
  return "(no error)";
}

} // namespace

TEST(Passes, ReadBackRowsAndKeysLandInThePlanes) {
  T2P5D_Manager m(nullptr);
  Shape(m, 1, 2, 3, 2);
  m.CurrentAngle = 0;
  m.CurrentFrame = 1;

  // Plain read-back of the visual view: bottom row first.
  const uint8_t visual[] = {1,  2,  3,  4,  5,  6,  7,  8,  9,   // bottom row
                            10, 11, 12, 13, 14, 15, 16, 17, 18}; // top row
  m.StoreVisual(visual);
  EXPECT_EQ(0, std::memcmp(m.ViewColourPixel(0, 0), visual + 9, 9));
  EXPECT_EQ(0, std::memcmp(m.ViewColourPixel(0, 1), visual, 9));
  // Kept and restored exactly; frame 0, never drawn, comes back empty (black).
  m.KeepView();
  m.BeginView(0, 0);
  EXPECT_EQ(m.ViewColourPixel(2, 1)[0], 0);
  m.BeginView(0, 1);
  EXPECT_EQ(0, std::memcmp(m.ViewColourPixel(0, 0), visual + 9, 9));
  EXPECT_EQ(0, std::memcmp(m.ViewColourPixel(0, 1), visual, 9));

  // Plain depth: exactly (255, 0, 255) is background, anything else gives its green.
  const uint8_t depth[] = {255, 0, 255, 255, 1, 255, 0, 0,   0, //
                           254, 9, 255, 255, 0, 255, 3, 200, 3};
  m.StoreDepthPlain(depth);
  EXPECT_EQ(*m.ViewDepthPixel(0, 1), 0);
  EXPECT_EQ(m.ViewColourPixel(0, 1)[0], 255);
  EXPECT_EQ(m.ViewColourPixel(0, 1)[1], 0);
  EXPECT_EQ(*m.ViewDepthPixel(1, 1), 1);
  EXPECT_EQ(m.ViewColourPixel(1, 1)[0], 4); // covered: pass 1's colour stays
  EXPECT_EQ(*m.ViewDepthPixel(2, 1), 0);    // covered with green 0: empty, so keyed too
  EXPECT_EQ(m.ViewColourPixel(2, 1)[0], 255);
  EXPECT_EQ(*m.ViewDepthPixel(0, 0), 9);
  EXPECT_EQ(*m.ViewDepthPixel(1, 0), 0);
  EXPECT_EQ(*m.ViewDepthPixel(2, 0), 200);

  // Side: grey over 10 where there is depth; the shade is pass 1's colour averaged.
  m.StoreVisual(visual);
  m.StoreDepthPlain(depth);
  const uint8_t side[] = {50, 50, 50, 50, 50, 50, 90, 90, 90, //
                          11, 11, 11, 10, 10, 10, 30, 30, 31};
  m.StoreSide(side);
  EXPECT_EQ(*m.ViewSidePixel(0, 1), 0); // no depth
  EXPECT_EQ(*m.ViewSidePixel(1, 1), 5); // (4 + 5 + 6) / 3
  EXPECT_EQ(m.ViewColourPixel(1, 1)[2], 255);
  EXPECT_EQ(*m.ViewSidePixel(2, 1), 0);  // grey, but covered with green 0: empty, not a side pixel
  EXPECT_EQ(*m.ViewSidePixel(0, 0), 11); // (10 + 11 + 12) / 3, grey 11 > 10
  EXPECT_EQ(*m.ViewSidePixel(2, 0), 0);  // not grey
  EXPECT_EQ(m.ViewColourPixel(2, 0)[0], 16);
}

TEST(Passes, MultisampledReadBackUsesAlphaAsCoverage) {
  T2P5D_Manager m(nullptr);
  m.Multisampled = true;
  Shape(m, 1, 1, 4, 1);
  const uint8_t rgba[] = {10, 20, 30, 255, 10, 20, 30, 11, 10, 20, 30, 10, 40, 40, 40, 126};
  const std::vector<uint8_t> dropped = m.DropAlpha(rgba);
  EXPECT_EQ(dropped, (std::vector<uint8_t>{10, 20, 30, 10, 20, 30, 255, 0, 255, 40, 40, 40}));

  m.StoreVisual(rgba);
  EXPECT_EQ(m.ViewColourPixel(1, 0)[0], 10); // alpha 11 keeps its colour in pass 1
  const uint8_t depth[] = {0, 5, 0, 127, 0, 6, 0, 126, 0, 7, 0, 0, 0, 8, 0, 255};
  m.StoreDepth(depth);
  m.CurrentFrame = 0;
  EXPECT_EQ(*m.ViewDepthPixel(0, 0), 5);
  EXPECT_EQ(*m.ViewDepthPixel(1, 0), 0);    // below half covered: background...
  EXPECT_EQ(m.ViewColourPixel(1, 0)[1], 0); // ...and keyed
  EXPECT_EQ(*m.ViewDepthPixel(3, 0), 8);
  // Covered but of depth 0 (an averaged edge of the lowest step): empty and keyed.
  const uint8_t edge[] = {0, 0, 0, 200, 0, 6, 0, 200, 0, 7, 0, 200, 0, 8, 0, 255};
  m.StoreVisual(rgba);
  m.StoreDepth(edge);
  EXPECT_EQ(*m.ViewDepthPixel(0, 0), 0);
  EXPECT_EQ(m.ViewColourPixel(0, 0)[0], 255);
  m.StoreDepth(depth);
  // A grey pixel with weak coverage turns into the key, never into a side pixel.
  const uint8_t side[] = {60, 60, 60, 10, 60, 60, 60, 255, 0, 0, 0, 0, 60, 60, 60, 255};
  m.StoreSide(side);
  EXPECT_EQ(*m.ViewSidePixel(0, 0), 0);
  EXPECT_NE(*m.ViewSidePixel(3, 0), 0);
}

TEST(Passes, ViewPercentages) {
  T2P5D_Manager m(nullptr);
  m.Angles.assign(4, 0);
  m.Frames.resize(3);
  EXPECT_EQ(m.ViewPercent(0, 0), 0);
  EXPECT_EQ(m.ViewPercent(1, 2), 45);
  EXPECT_EQ(m.ViewPercent(0, 2), 18);
  EXPECT_EQ(m.ViewPercent(3, 2), 100);
  m.Angles.assign(1, 0);
  m.Frames.resize(2);
  EXPECT_EQ(m.ViewPercent(0, 0), 0);
  EXPECT_EQ(m.ViewPercent(0, 1), 100);
  m.Frames.resize(1);
  EXPECT_EQ(m.ViewPercent(0, 0), 100); // one view is the whole pass
  m.Angles.assign(5, 0);
  m.Frames.resize(4); // 19 views: 3 / 19 * 100 = 15.78...
  EXPECT_EQ(m.ViewPercent(0, 3), 15);
}

TEST(Gaps, CommonMarginsKeepOnePixelAndTheCentre) {
  {
    // The Part's example: rows 100..299 and columns 150..249 in every frame.
    T2P5D_Manager m(nullptr);
    Shape(m, 2, 2, 400, 400);
    for (int a = 0; a < 2; ++a)
      for (int f = 0; f < 2; ++f)
        Fill(m, a, f, 150, 249, 100, 299);
    // Between the passes a view keeps only its content rectangle, not the whole view.
    const TViewContent& kept = m.Views[3];
    EXPECT_EQ(kept.Left, 150);
    EXPECT_EQ(kept.Top, 100);
    EXPECT_EQ(kept.Width, 100);
    EXPECT_EQ(kept.Height, 200);
    EXPECT_EQ(kept.Colour.size(), 100u * 200u * 3u);
    EXPECT_EQ(kept.Depth.size(), 100u * 200u);
    m.RemoveGaps();
    EXPECT_TRUE(m.Views.empty());
    for (const TAngleSheet& s : m.Sheets) {
      EXPECT_EQ(s.FrameWidth, 102);
      EXPECT_EQ(s.Height, 202);
      EXPECT_EQ(s.SheetWidth, 204);
      EXPECT_EQ(s.DepthPlane.size(), 204u * 202u);
      EXPECT_EQ(s.ColourPlane.size(), 204u * 202u * 3u);
    }
    // Content moved by the margins, colour and side along with depth.
    m.CurrentAngle = 1;
    m.CurrentFrame = 1;
    EXPECT_EQ(*m.DepthPixel(0, 0), 0);
    EXPECT_EQ(*m.DepthPixel(1, 1), 7);
    EXPECT_EQ(m.ColourPixel(1, 1)[0], 150);
    EXPECT_EQ(m.ColourPixel(1, 1)[1], 100);
    EXPECT_EQ(m.ColourPixel(1, 1)[2], 1);
    EXPECT_EQ(*m.DepthPixel(100, 200), 7);
    EXPECT_EQ(*m.DepthPixel(101, 201), 0);
  }
  {
    // Narrowest left margin 10 (frame 0), right 15 (frame 1 of angle 1): MarginX 9.
    T2P5D_Manager m(nullptr);
    Shape(m, 2, 2, 60, 40);
    Fill(m, 0, 0, 10, 30, 20, 20);
    Fill(m, 1, 1, 20, 44, 5, 34);
    m.BeginView(1, 1);
    *m.ViewSidePixel(44, 34) = 99;
    m.KeepView();
    m.RemoveGaps();
    EXPECT_EQ(m.Sheets[0].FrameWidth, 60 - 18);
    EXPECT_EQ(m.Sheets[0].Height, 40 - 8); // top margin 5 keeps 1: 4 cut from each side
    m.CurrentAngle = 0;
    m.CurrentFrame = 0;
    EXPECT_EQ(*m.DepthPixel(0, 16), 0);
    EXPECT_EQ(*m.DepthPixel(1, 16), 7);
    m.CurrentAngle = 1;
    m.CurrentFrame = 1;
    EXPECT_EQ(*m.SidePixel(44 - 9, 34 - 4), 99);
  }
  // Margins of exactly 1 (nothing cut) and 2 (one cut); touching an edge cuts nothing.
  for (int margin : {0, 1, 2}) {
    T2P5D_Manager m(nullptr);
    Shape(m, 1, 1, 20, 20);
    Fill(m, 0, 0, margin, 19 - 5, 6, 13);
    m.RemoveGaps();
    EXPECT_EQ(m.Sheets[0].FrameWidth, 20 - 2 * std::max(0, margin - 1)) << margin;
    EXPECT_EQ(m.Sheets[0].Height, 20 - 2 * 5) << margin;
  }
}

TEST(Gaps, JobsThatCannotBeCroppedAreRefused) {
  T2P5D_Manager m(nullptr);
  m.SettingsFile = "units/tank.settings";
  EXPECT_EQ(Refusal(m), "units/tank.settings: the job has no angle: there is nothing to crop");
  m.Angles.assign(1, 0);
  m.AllocateViews();
  EXPECT_EQ(Refusal(m), "units/tank.settings: the job has no frame: there is nothing to crop");
  Shape(m, 2, 2, 8, 8);
  EXPECT_EQ(Refusal(m), "units/tank.settings: nothing was drawn: no view of the job covers any "
                        "pixel (check the models, the scale and that the frames name the right "
                        "files)");
  EXPECT_TRUE(m.Sheets.empty()); // nothing was made
  EXPECT_EQ(m.Views.size(), 4u);

  T2P5D_Manager empty(nullptr);
  try {
    empty.CheckRenderable();
    FAIL() << "a job without angles was accepted";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "the job has no angle: add lines \"angle SLOT DEGREES\"");
  }
  empty.Angles.assign(1, 0);
  try {
    empty.CheckRenderable();
    FAIL() << "a job without frames was accepted";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "the job has no frame: add lines \"frame NUMBER MODEL.obj\"");
  }
}

namespace {

std::string Golden() {
  return std::string(QUARVEL_SHARED_TESTDATA) + "/golden";
}

// The planes of one golden sheet, as the job holds them after gap removal.
TAngleSheet GoldenSheet(const std::string& dir, int a, int frameWidth,
                        const std::string& prefix = "sheet") {
  const std::string stem = dir + "/" + prefix + "_" + std::to_string(a);
  const TDecodedImage colour = DecodePNG(stem + ".colour.png", 1 << 16);
  const TDecodedImage depth = DecodePNG(stem + ".depth.png", 1 << 16);
  const TDecodedImage side = DecodePNG(stem + ".side.png", 1 << 16);
  TAngleSheet s;
  s.SheetWidth = colour.Width;
  s.Height = colour.Height;
  s.FrameWidth = frameWidth;
  const size_t n = s.PixelCount();
  s.ColourPlane.resize(n * 3);
  s.DepthPlane.resize(n);
  s.SidePlane.resize(n);
  for (size_t i = 0; i < n; ++i) {
    s.ColourPlane[i * 3] = colour.Pixels[i * 3 + 2];
    s.ColourPlane[i * 3 + 1] = colour.Pixels[i * 3 + 1];
    s.ColourPlane[i * 3 + 2] = colour.Pixels[i * 3];
    s.DepthPlane[i] = depth.Pixels[i * 3]; // grey decodes to three equal bytes
    s.SidePlane[i] = side.Pixels[i * 3];
  }
  return s;
}

} // namespace

TEST(Saving, GoldenSheetsGiveTheGoldenFilesInBothFormats) {
  if (!quarvel::test::fs::exists(Golden()))
    GTEST_SKIP() << "no golden data";
  for (const char* name : {"few-colours", "shaded", "single-output", "noisy"}) {
    SCOPED_TRACE(name);
    const std::string dir = Golden() + "/" + name;
    std::ifstream metaFile(dir + "/meta.json");
    const nlohmann::json meta = nlohmann::json::parse(metaFile);
    const int angles = meta.value("angles", 1);
    const int frameWidth = meta["frame_width"];
    TempRoot out("golden");

    for (TOutputFormat format : {TOutputFormat::Raw2P5D, TOutputFormat::KXZ}) {
      const bool asKXZ = format == TOutputFormat::KXZ;
      std::vector<std::pair<int32_t, std::string>> reports;
      T2P5D_Manager m([&](int32_t p, const std::string& t) { reports.emplace_back(p, t); });
      m.SettingsName = "sheet";
      m.OutputDir = out.str();
      m.SingleOutput = meta["single_output"];
      m.Angles.assign(static_cast<size_t>(angles), 0);
      for (int a = 0; a < angles; ++a)
        m.Sheets.push_back(GoldenSheet(dir, a, frameWidth));
      m.Frames.resize(static_cast<size_t>(m.Sheets[0].FrameCount()));
      m.MakePalettes();
      m.SaveSheets(format);
      const std::string fmt = asKXZ ? "KXZ" : "2P5D";
      EXPECT_EQ(reports.front(), (std::pair<int32_t, std::string>{0, "Making 8 Bit Palette"}));
      EXPECT_EQ(reports.back(), (std::pair<int32_t, std::string>{0, "Finished!"}));
      EXPECT_EQ(reports[static_cast<size_t>(angles)],
                (std::pair<int32_t, std::string>{0, "Saving as " + fmt}));
      for (int a = 0; a < angles; ++a) {
        const std::string stem = "/sheet_" + std::to_string(a);
        for (const char* ext :
             asKXZ ? std::vector<const char*>{".kxz", ".p16"} : std::vector<const char*>{".2p5d"})
          EXPECT_EQ(quarvel::test::ReadBytes(out.str() + stem + ext),
                    quarvel::test::ReadBytes(dir + stem + ext))
              << stem << ext;
      }
      // A second save writes the same finished sheets (they are finished once).
      const auto first = quarvel::test::ReadBytes(m.WrittenFiles.front());
      m.SaveSheets(format);
      EXPECT_EQ(quarvel::test::ReadBytes(m.WrittenFiles.front()), first);
    }
  }
}

TEST(Saving, DumpedPlanesReadBackAsTheyAreAndNamesFollowTheSettings) {
  T2P5D_Manager m(nullptr);
  Shape(m, 2, 2, 5, 4);
  Fill(m, 1, 1, 1, 3, 1, 2, 42);
  m.BeginView(1, 1);
  *m.ViewSidePixel(2, 2) = 130;
  m.KeepView();
  m.RemoveGaps(); // margins of 1 all round: nothing is cut
  m.SettingsName = "units\\tank";
  m.OutputDir = "out/dir";
  EXPECT_EQ(m.OutputName(1, TOutputFormat::KXZ), "out/dir/units/tank_1.kxz");
  EXPECT_EQ(m.OutputName(0, TOutputFormat::Raw2P5D), "out/dir/units/tank_0.2p5d");
  m.OutputDir.clear();
  EXPECT_EQ(m.OutputName(3, TOutputFormat::Raw2P5D), "units/tank_3.2p5d");

  TempRoot dump("dump");
  m.DumpSheets(dump.str());
  EXPECT_EQ(quarvel::test::FilesBelow(dump.str()),
            (std::vector<std::string>{"units/tank_0.colour.png", "units/tank_0.depth.png",
                                      "units/tank_0.side.png", "units/tank_1.colour.png",
                                      "units/tank_1.depth.png", "units/tank_1.side.png"}));
  const TAngleSheet back = GoldenSheet(dump.str() + "/units", 1, 5, "tank");
  EXPECT_EQ(back.SheetWidth, 10);
  EXPECT_EQ(back.Height, 4);
  EXPECT_EQ(back.ColourPlane, m.Sheets[1].ColourPlane);
  EXPECT_EQ(back.DepthPlane, m.Sheets[1].DepthPlane);
  EXPECT_EQ(back.SidePlane, m.Sheets[1].SidePlane);
}

namespace {

// A full disk from the `failAt`-th temporary file on: the first writes go through.
struct TDiskFullFrom : TFileCalls {
  explicit TDiskFullFrom(int failAt) : FailAt(failAt) {}
  THandle MakeTemporary(std::string& pattern) override {
    ++Made;
    return TFileCalls::MakeTemporary(pattern);
  }
  int64_t Write(THandle fd, const void* data, size_t size) override {
    if (Made >= FailAt) {
      platform::SetLastError(ENOSPC);
      return -1;
    }
    return TFileCalls::Write(fd, data, size);
  }
  int FailAt;
  int Made = 0;
};

} // namespace

TEST(Saving, AJobThatCannotWriteOneFileKeepsThePreviousSet) {
  TempRoot out("diskfull");
  auto render = [&](uint8_t depth) {
    auto m = std::make_unique<T2P5D_Manager>(nullptr);
    m->SettingsName = "units/tank";
    m->OutputDir = out.str();
    Shape(*m, 2, 1, 12, 10);
    Fill(*m, 0, 0, 2, 8, 3, 6, depth);
    Fill(*m, 1, 0, 3, 9, 2, 7, depth);
    m->RemoveGaps();
    m->MakePalettes();
    return m;
  };
  render(20)->SaveKXZ();
  const std::vector<std::string> files = quarvel::test::FilesBelow(out.str());
  ASSERT_EQ(files, (std::vector<std::string>{"units/tank_0.kxz", "units/tank_0.p16",
                                             "units/tank_1.kxz", "units/tank_1.p16"}));
  std::vector<std::vector<uint8_t>> before;
  for (const std::string& f : files)
    before.push_back(quarvel::test::ReadBytes(out.str() + "/" + f));

  // The second job differs in every angle; the disk fills up at its third file.
  auto second = render(90);
  TDiskFullFrom full(3);
  {
    TScopedFileCalls scoped(full);
    try {
      second->SaveKXZ();
      FAIL() << "a save on a full disk succeeded";
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()).rfind(out.str() + "/units/tank_1.kxz: cannot write file", 0),
                0u)
          << e.what();
    }
  }
  EXPECT_TRUE(second->WrittenFiles.empty());
  EXPECT_EQ(quarvel::test::FilesBelow(out.str()), files); // no temporary file either
  for (size_t i = 0; i < files.size(); ++i)
    EXPECT_EQ(quarvel::test::ReadBytes(out.str() + "/" + files[i]), before[i]) << files[i];

  // With room again the same job replaces the whole set.
  second->SaveKXZ();
  EXPECT_NE(quarvel::test::ReadBytes(out.str() + "/" + files[0]), before[0]);
  EXPECT_NE(quarvel::test::ReadBytes(out.str() + "/" + files[2]), before[2]);
}
