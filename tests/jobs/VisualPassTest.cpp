// The visual pass drawn both ways - as first written (51 draws on cleared depth buffers,
// display lists that set and reset the material around every face) and the new way
// (copies smallest first claiming samples in the stencil buffer, lists that send a
// material or texture only where it changes) - must give the same bytes: every
// read-back of the visual pass (alpha included), every plane of every sheet, the
// palettes, every dumped plane file and every output file. On the program's view
// (multisampled where the driver can) and on a single-sampled one, which key background
// differently.
#include "gl/GLTestUtil.h"
#include "image/Image.h"
#include "jobs/JobRunner.h"
#include "jobs/JobTestUtil.h"
#include "render/GLModel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

using namespace quarvel;
using quarvel::test::FilesBelow;
using quarvel::test::ReadBytes;
using quarvel::test::TempRoot;

namespace {

namespace fs = std::filesystem;

const TRenderInputs& Inputs() {
  static const TShaderSet shaders = [] {
    quarvel::test::EnsureGLView();
    return LoadShaderSet(".");
  }();
  static const TRenderInputs inputs = [] {
    TRenderInputs made;
    made.Shaders = &shaders;
    return made;
  }();
  return inputs;
}

// Textured models that exercise what the copies carry from draw to draw: two textures,
// quads and triangles, a pentagon, faces without a material, a side face, parts that
// hide each other, and corners without texture coordinates or normals (they take the
// current ones).
// Corners of the models: every corner with texture coordinate and normal, some without
// either (mixed), or none with any.
enum class TCorners { Full, Mixed, Bare };

void WriteTexturedModel(const TempRoot& root, const std::string& file, TCorners corners) {
  const bool mixed = corners == TCorners::Mixed, bare = corners == TCorners::Bare;
  for (int t = 0; t < 2; ++t) {
    std::vector<uint8_t> pixels(16 * 8 * 3);
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 16; ++x) {
        uint8_t* p = &pixels[static_cast<size_t>((y * 16 + x) * 3)];
        p[0] = static_cast<uint8_t>(((x + y) % 2) ? 230 : 40 + 20 * x);
        p[1] = static_cast<uint8_t>(t ? 30 * y : 200 - 10 * x);
        p[2] = static_cast<uint8_t>(t ? 250 - 12 * x : 60 + 20 * y);
      }
    WritePNG(root / ("tex" + std::to_string(t) + ".png"), 16, 8, 3, pixels.data());
  }
  root.Write("thing.mtl", "newmtl skin\nKa 0.3 0.3 0.3\nKd 0.9 0.8 0.7\nmap_Kd tex0.png\n"
                          "newmtl plate\nKa 0.1 0.2 0.1\nKd 0.4 0.9 0.5\nmap_Kd tex1.png\n"
                          "newmtl side\nKa 0.3 0.3 0.3\nKd 0.8 0.8 0.8\n");
  std::ostringstream o;
  o << "mtllib thing.mtl\n";
  // A ring of 24 x 8 quads around Y (a lumpy barrel), then a lid, a fin and a spike.
  const int around = 24, up = 8;
  for (int j = 0; j <= up; ++j)
    for (int i = 0; i < around; ++i) {
      const double a = 2 * M_PI * i / around, r = 1.2 + 0.25 * std::sin(3 * a + j);
      o << "v " << r * std::cos(a) << " " << -1.0 + 2.0 * j / up << " " << r * std::sin(a) << "\n";
    }
  for (int j = 0; j <= up; ++j)
    for (int i = 0; i <= around; ++i)
      o << "vt " << static_cast<double>(i) / around * 2 << " " << static_cast<double>(j) / up
        << "\n";
  for (int i = 0; i < around; ++i)
    o << "vn " << std::cos(2 * M_PI * i / around) << " 0.1 " << std::sin(2 * M_PI * i / around)
      << "\n";
  o << "g barrel\n";
  for (int j = 0; j < up; ++j) {
    o << "usemtl " << (j < 4 ? "skin" : "plate") << "\n";
    for (int i = 0; i < around; ++i) {
      const int a = j * around + i + 1, b = j * around + (i + 1) % around + 1;
      const int c = a + around, d = b + around;
      const int ta = j * (around + 1) + i + 1, tc = ta + around + 1;
      const int na = i + 1, nb = (i + 1) % around + 1;
      if (bare)
        o << "f " << a << " " << b << " " << d << " " << c << "\n";
      else if (mixed &&
               (i + j) % 7 == 3) // corners without texture coordinates: the current one is used
        o << "f " << a << "//" << na << " " << b << "//" << nb << " " << d << "//" << nb << "\n";
      else if (mixed && (i + j) % 5 == 1) // without normals
        o << "f " << a << "/" << ta << " " << b << "/" << ta + 1 << " " << d << "/" << tc + 1 << " "
          << c << "/" << tc << "\n";
      else if ((i + j) % 3 != 0)
        o << "f " << a << "/" << ta << "/" << na << " " << b << "/" << ta + 1 << "/" << nb << " "
          << d << "/" << tc + 1 << "/" << nb << " " << c << "/" << tc << "/" << na << "\n";
      else
        o << "f " << a << "/" << ta << "/" << na << " " << b << "/" << ta + 1 << "/" << nb << " "
          << d << "/" << tc + 1 << "/" << nb << "\nf " << a << "/" << ta << "/" << na << " " << d
          << "/" << tc + 1 << "/" << nb << " " << c << "/" << tc << "/" << na << "\n";
    }
  }
  const int top = up * around;
  o << "g lid\nusemtl side\nf";
  for (int i = 0; i < 5; ++i)
    o << " " << top + i * around / 5 + 1
      << (bare ? std::string() : "/" + std::to_string(i + 1) + (mixed ? "" : "/1"));
  o << "\n";
  o << "v 0 0 2.2\nv 0 1.6 1.2\nv 0 -0.4 1.0\nv 0.3 0 3.0\n";
  const int v = (up + 1) * around;
  if (mixed) {
    o << "g fin\nf " << v + 1 << " " << v + 2 << " " << v + 3 << "\n"; // no material
    o << "usemtl plate\nf " << v + 1 << "/5 " << v + 3 << "/9 " << v + 4 << "/2/3\n";
  } else {
    const std::string t = bare ? "" : "/5/3";
    o << "g fin\nf " << v + 1 << t << " " << v + 2 << t << " " << v + 3 << t << "\n";
    o << "usemtl plate\nf " << v + 1 << t << " " << v + 3 << t << " " << v + 4 << t << "\n";
  }
  root.Write(file, o.str());
}

// Writes the job "thing": one frame of each kind of corners, from three angles.
void WriteTexturedJob(const TempRoot& root) {
  WriteTexturedModel(root, "full.obj", TCorners::Full);
  WriteTexturedModel(root, "mixed.obj", TCorners::Mixed);
  WriteTexturedModel(root, "bare.obj", TCorners::Bare);
  root.Write("thing.settings", "scale 1.1\nzmax 90\nangle 0 20\nangle 1 135\nangle 2 -100\n"
                               "frame 1 full.obj\nframe 2 mixed.obj\nframe 3 bare.obj\n");
}

void CopyExample(const TempRoot& root) {
  fs::copy(fs::path(QUARVEL_SOURCE_DIR) / "examples", root.path,
           fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}

// Every visual read-back of the job, drawn both ways in turn by one manager.
void ExpectSameVisualReadBacks(const TempRoot& root, const std::string& name) {
  T2P5D_Manager m(nullptr);
  m.RootDir = root.str();
  m.Multisampled = GLView->Multisampled();
  m.LoadSettings(name);
  m.PrepareModels();
  // Only models whose corners are all alike are drawn from lists without the state
  // changes between faces; both kinds must be here.
  for (size_t i = 0; i < m.Models.size(); ++i)
    EXPECT_EQ(m.GLModels[i]->CornersMixed(), m.ModelNames()[i] == "mixed") << m.ModelNames()[i];
  m.ViewWidth = GLView->Width();
  m.ViewHeight = GLView->Height();
  std::vector<uint8_t> literal, claimed;
  for (int32_t a = 0; a < static_cast<int32_t>(m.Angles.size()); ++a)
    for (int32_t f = 0; f < static_cast<int32_t>(m.Frames.size()); ++f) {
      m.CurrentAngle = a;
      m.CurrentFrame = f;
      m.LiteralDrawing = true;
      m.RenderView(Inputs(), false, false, literal);
      m.LiteralDrawing = false;
      m.RenderView(Inputs(), false, false, claimed);
      ASSERT_EQ(literal.size(), claimed.size());
      size_t differing = 0;
      for (size_t i = 0; i < literal.size(); ++i)
        differing += literal[i] != claimed[i];
      EXPECT_EQ(differing, 0u) << name << " angle " << a << " frame " << f;
      // The view must show the model, or there would be nothing to compare.
      size_t drawn = 0;
      const size_t bpp = m.Multisampled ? 4 : 3;
      for (size_t i = 0; i + bpp <= claimed.size(); i += bpp)
        drawn += claimed[i] != 0 || claimed[i + 1] != 0 || claimed[i + 2] != 0;
      EXPECT_GT(drawn, 500u) << name << " angle " << a << " frame " << f;
    }
}

// A whole job with its planes dumped; returns the manager for its sheets.
std::unique_ptr<T2P5D_Manager> RenderJob(const TempRoot& root, const std::string& name,
                                         bool literal, const std::string& tag) {
  auto m = std::make_unique<T2P5D_Manager>(nullptr);
  m->RootDir = root.str();
  m->OutputDir = root / ("out-" + tag);
  m->DumpSheetsDir = root / ("dump-" + tag);
  m->Multisampled = GLView->Multisampled();
  m->LiteralDrawing = literal;
  m->LoadSettings(name);
  m->RenderAll(Inputs());
  m->SaveKXZ();
  return m;
}

void ExpectSameJob(const TempRoot& root, const std::string& name) {
  const auto literal = RenderJob(root, name, true, "literal");
  const auto claimed = RenderJob(root, name, false, "claimed");
  ASSERT_EQ(literal->Sheets.size(), claimed->Sheets.size());
  for (size_t a = 0; a < literal->Sheets.size(); ++a) {
    const TAngleSheet& l = literal->Sheets[a];
    const TAngleSheet& c = claimed->Sheets[a];
    EXPECT_EQ(l.SheetWidth, c.SheetWidth) << a;
    EXPECT_EQ(l.Height, c.Height) << a;
    EXPECT_TRUE(l.ColourPlane == c.ColourPlane) << name << " colour plane of angle " << a;
    EXPECT_TRUE(l.DepthPlane == c.DepthPlane) << name << " depth plane of angle " << a;
    EXPECT_TRUE(l.SidePlane == c.SidePlane) << name << " side plane of angle " << a;
    EXPECT_TRUE(l.IndexPlane == c.IndexPlane) << name << " index plane of angle " << a;
    EXPECT_TRUE(l.Palette == c.Palette) << name << " palette of angle " << a;
  }
  for (const char* kind : {"dump", "out"}) {
    const std::string l = root / (std::string(kind) + "-literal");
    const std::string c = root / (std::string(kind) + "-claimed");
    const std::vector<std::string> files = FilesBelow(l);
    EXPECT_EQ(files, FilesBelow(c)) << name;
    EXPECT_GE(files.size(), 2 * literal->Sheets.size()) << name << " " << kind;
    for (const std::string& f : files)
      EXPECT_TRUE(ReadBytes(l + "/" + f) == ReadBytes(c + "/" + f)) << name << ": " << f;
  }
}

// Runs `check` on the program's view and on a single-sampled one put in its place.
template <typename Check> void OnBothViews(Check check) {
  TOGL& own = quarvel::test::EnsureGLView();
  {
    SCOPED_TRACE(own.Multisampled()
                     ? "multisampled view (" + std::to_string(own.Samples()) + " samples)"
                     : std::string("the program's view is single-sampled"));
    check();
  }
  std::unique_ptr<TOGL> saved = std::move(GLView);
  GLView = std::make_unique<TOGL>(400, 400, [](int) { return false; });
  {
    SCOPED_TRACE("single-sampled view");
    EXPECT_FALSE(GLView->Multisampled());
    check();
  }
  GLView = std::move(saved);
  GLView->MakeCurrent();
}

TEST(VisualPass, NewWayEqualsLiteralOnTheExample) {
  TempRoot root("margin-example");
  CopyExample(root);
  if (!quarvel::test::EnsureGLView().Multisampled())
    GTEST_LOG_(INFO) << "the driver gives no multisampled view; both views are single-sampled";
  OnBothViews([&] {
    ExpectSameVisualReadBacks(root, "units/tank");
    ExpectSameJob(root, "units/tank");
  });
}

TEST(VisualPass, NewWayEqualsLiteralOnTexturedModels) {
  TempRoot root("margin-textured");
  WriteTexturedJob(root);
  OnBothViews([&] {
    ExpectSameVisualReadBacks(root, "thing");
    ExpectSameJob(root, "thing");
  });
}

} // namespace
