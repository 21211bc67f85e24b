// Drawing through display lists, headless: pictures read back from the GL view.
#include "ModelTestUtil.h"

#include "../gl/GLTestUtil.h"
#include "image/Image.h"
#include "models/ModelLoader.h"

#include <gtest/gtest.h>

#include <array>

namespace quarvel {
namespace {

using test::ParseMTL;
using test::ParseOBJ;

// The light of a render job's views, with the camera looking straight at the model so
// that a quad at z = 0 faces it; `ambient` is the light model's ambient grey.
void BeginJobLitFrame(float ambient = 0.2f) {
  TOGL& view = test::EnsureGLView();
  glClearColor(1, 0, 1, 1);
  view.BeginFrame();
  glUseProgram(0);
  glLoadIdentity();
  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, view.WhiteTexture());
  glEnable(GL_DEPTH_TEST);
  glLightfv(GL_LIGHT1, GL_POSITION, LightPosition);
  glTranslatef(0, 0, -12);
  glEnable(GL_LIGHTING);
  glEnable(GL_LIGHT1);
  glDisable(GL_LIGHT0);
  glDisable(GL_CULL_FACE);
  glEnable(GL_RESCALE_NORMAL);
  SetFixedLight();
  const GLfloat model[4] = {ambient, ambient, ambient, 1};
  glLightModelfv(GL_LIGHT_MODEL_AMBIENT, model);
}

using Pixel = std::array<int, 3>;

// Ends the frame and returns the picture (bottom row first, RGB).
std::vector<uint8_t> EndFrame() {
  glDisable(GL_LIGHTING);
  glDisable(GL_LIGHT1);
  GLView->EndFrame();
  test::ExpectNoGLError("drawing");
  return GLView->ReadPixels(GL_RGB);
}

// (x, y) with y counted from the top of the picture.
Pixel At(const std::vector<uint8_t>& picture, int x, int yFromTop) {
  const int w = GLView->Width();
  const int y = GLView->Height() - 1 - yFromTop;
  const size_t i = (static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)) * 3;
  return {picture[i], picture[i + 1], picture[i + 2]};
}

bool IsClear(const Pixel& p) {
  return p[0] == 255 && p[1] == 0 && p[2] == 255;
}

// A 4 x 4 quad at z = 0 facing the camera, texture (0, 0) at its bottom left.
std::unique_ptr<TOBJFile> Quad(const char* material) {
  auto m = ParseOBJ({"v -2 -2 0", "v 2 -2 0", "v 2 2 0", "v -2 2 0", "vt 0 0", "vt 1 0", "vt 1 1",
                     "vt 0 1", "g quad"});
  m->ParseLine(std::string("usemtl ") + material);
  m->ParseLine("f 1/1 2/2 3/3 4/4");
  return m;
}

TEST(OBJDraw, RedMaterialUnderTheJobLight) {
  test::EnsureGLView();
  auto m = Quad("Red");
  m->SetMaterialFile(ParseMTL({"newmtl red", "Ka 0 0 0", "Kd 1 0 0"}));
  m->FinishLoading();
  BeginJobLitFrame();
  m->Draw();
  const auto picture = EndFrame();
  const Pixel centre = At(picture, 200, 200);
  EXPECT_GT(centre[0], 150) << "lit red";
  EXPECT_LT(centre[1], 10);
  EXPECT_LT(centre[2], 10);
  EXPECT_TRUE(IsClear(At(picture, 5, 5))) << "outside the quad";

  // No material: the default white material, lit grey-white.
  auto plain = Quad("");
  plain->FinishLoading();
  BeginJobLitFrame();
  plain->Draw();
  const Pixel grey = At(EndFrame(), 200, 200);
  EXPECT_GT(grey[0], 150);
  EXPECT_EQ(grey[0], grey[1]);
  EXPECT_EQ(grey[1], grey[2]);
}

TEST(OBJDraw, TexturedQuadIsTheRightWayUp) {
  test::EnsureGLView();
  test::ScratchDir dir;
  // Top row red, green; bottom row blue, white.
  const uint8_t pixels[] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
  WritePNG(dir.Path() + "/Check.png", 2, 2, 3, pixels);
  dir.Write("quad.mtl", "newmtl checked\nKa 1 1 1\nKd 1 1 1\nmap_Kd check.jpg\n");
  dir.Write("quad.obj", "v -2 -2 0\nv 2 -2 0\nv 2 2 0\nv -2 2 0\n"
                        "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nusemtl Checked\nf 1/1 2/2 3/3 4/4\n");
  auto m = LoadOBJModel(dir.Path(), "quad", "quad");
  ASSERT_NE(m->MaterialFile->Materials.at(0).Texture, 0u) << "check.jpg finds Check.png";
  BeginJobLitFrame();
  m->Draw();
  const auto picture = EndFrame();
  const Pixel topLeft = At(picture, 170, 170);
  const Pixel topRight = At(picture, 230, 170);
  const Pixel bottomLeft = At(picture, 170, 230);
  const Pixel bottomRight = At(picture, 230, 230);
  EXPECT_TRUE(topLeft[0] > 200 && topLeft[1] < 30 && topLeft[2] < 30) << "red at the top left";
  EXPECT_TRUE(topRight[1] > 200 && topRight[0] < 30 && topRight[2] < 30) << "green top right";
  EXPECT_TRUE(bottomLeft[2] > 200 && bottomLeft[0] < 30 && bottomLeft[1] < 30) << "blue";
  EXPECT_TRUE(bottomRight[0] > 200 && bottomRight[1] > 200 && bottomRight[2] > 200) << "white";
}

TEST(OBJDraw, ShortFacesAndBadCorners) {
  test::EnsureGLView();
  auto two = ParseOBJ({"v -2 -2 0", "v 2 -2 0", "v 2 2 0", "f 1 2", "f 1 3"});
  two->FinishLoading();
  BeginJobLitFrame();
  two->Draw();
  const auto nothing = EndFrame();
  bool allClear = true;
  for (size_t i = 0; i < nothing.size(); i += 3)
    allClear = allClear && nothing[i] == 255 && nothing[i + 1] == 0 && nothing[i + 2] == 255;
  EXPECT_TRUE(allClear) << "faces of fewer than three corners draw nothing";

  // A corner without a valid vertex adds no vertex; the other three still make a triangle.
  // A texture coordinate beyond the list is skipped too.
  auto bad = ParseOBJ({"v -2 -2 0", "v 2 -2 0", "v 2 2 0", "vt 0 0", "f 1/5 2/1 99 3 -7"});
  bad->FinishLoading();
  BeginJobLitFrame();
  bad->Draw();
  const auto picture = EndFrame();
  EXPECT_FALSE(IsClear(At(picture, 230, 230))) << "inside the triangle";
  EXPECT_TRUE(IsClear(At(picture, 170, 170))) << "outside the triangle";

  // A model whose only group is the empty "g default" draws nothing and clears the flag.
  auto empty = ParseOBJ({"v 1 2 3"});
  empty->FinishLoading();
  empty->RebuildLists = true;
  empty->Draw();
  EXPECT_FALSE(empty->RebuildLists);
  EXPECT_EQ(empty->ListsCompiled, 0);
  EXPECT_EQ(empty->Groups[0].DisplayList, 0u);
}

TEST(OBJDraw, ListsAreCompiledOnceAndForceHalfAmbientNeedsARebuild) {
  test::EnsureGLView();
  auto m = Quad("dark");
  m->ParseLine("g second");
  m->ParseLine("f 1 2 3");
  m->SetMaterialFile(ParseMTL({"newmtl dark", "Ka 0 0 0", "Kd 0 0 0"}));
  m->FinishLoading();
  ASSERT_EQ(m->GroupCount(), 2);

  // Ambient only (light model ambient 1): Ka 0 is black, the half ambient is grey.
  auto draw = [&] {
    BeginJobLitFrame(1.0f);
    m->Draw();
    return At(EndFrame(), 180, 220);
  };
  const Pixel before = draw();
  EXPECT_LT(before[0], 10);
  EXPECT_EQ(m->ListsCompiled, 2);
  const GLuint list = m->Groups[0].DisplayList;
  EXPECT_TRUE(glIsList(list));

  ForceHalfAmbient = true;
  const Pixel stale = draw();
  EXPECT_EQ(stale, before) << "the compiled lists keep the old ambient";
  EXPECT_EQ(m->ListsCompiled, 2) << "drawing again replays the lists";

  m->RebuildLists = true;
  const Pixel rebuilt = draw();
  ForceHalfAmbient = false;
  EXPECT_NEAR(rebuilt[0], 128, 3) << "ambient 0.5 once the lists are recompiled";
  EXPECT_EQ(rebuilt[0], rebuilt[1]);
  EXPECT_EQ(m->ListsCompiled, 4) << "every list of the model is recompiled";
  EXPECT_FALSE(m->RebuildLists);

  // The side-colour switch: same library content, still recompiled on request.
  auto side = ParseMTL({"newmtl default", "Ka 0 0 0", "Kd 1 0.5 0.25", "newmtl side"});
  m->MaterialOverride = side.get();
  m->RebuildLists = true;
  m->ResolveMaterials();
  draw();
  EXPECT_EQ(m->ListsCompiled, 6);
  m->MaterialOverride = nullptr;
  m.reset(); // deletes its lists while the context is current
  EXPECT_FALSE(glIsList(list));
}

} // namespace
} // namespace quarvel
