#include "gl/GLView.h"
#include "GLExit.h"
#include "common/Error.h"
#include "gl/Context.h"
#include "gl/GLTestUtil.h"
#include "support/TestSystem.h"

#include <gtest/gtest.h>

#include <GL/glext.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <set>
#include <utility>
#include <vector>

using namespace quarvel;
using quarvel::test::EnsureGLView;
using quarvel::test::ExpectNoGLError;

namespace {

GLint MaxSamples() {
  EnsureGLView();
  GLint n = 0;
  glGetIntegerv(GL_MAX_SAMPLES, &n);
  return n;
}

// Clears to magenta with alpha 0 (as a multisampled render job does), draws an opaque
// red triangle over the lower-left half of the view, finishes the frame and reads it
// back in `format`.
std::vector<uint8_t> DrawHalfTriangle(TOGL& view, GLenum format) {
  view.MakeCurrent();
  glClearColor(1, 0, 1, 0);
  view.BeginFrame();
  view.Begin2D();
  glBindTexture(GL_TEXTURE_2D, view.WhiteTexture());
  glColor4f(1, 0, 0, 1);
  glBegin(GL_TRIANGLES);
  glVertex2f(0, 0);
  glVertex2f(static_cast<float>(view.Width()), 0);
  glVertex2f(0, static_cast<float>(view.Height()));
  glEnd();
  view.End2D();
  view.EndFrame();
  ExpectNoGLError("DrawHalfTriangle");
  return view.ReadPixels(format);
}

std::vector<int> Pixel(const std::vector<uint8_t>& px, int w, int bpp, int x, int y) {
  const uint8_t* p = &px.at((static_cast<size_t>(y) * w + x) * bpp);
  return std::vector<int>(p, p + bpp);
}

} // namespace

TEST(GLView, SampleCountSearchTakesTheLargestAcceptedCount) {
  std::vector<int> asked;
  auto only = [&](std::set<int> accepted) {
    return [&asked, accepted](int n) {
      asked.push_back(n);
      return accepted.count(n) > 0;
    };
  };
  EXPECT_EQ(FindMultisampleCount(32, only({8})), 8);
  EXPECT_EQ(asked, (std::vector<int>{32, 16, 8}));
  asked.clear();
  EXPECT_EQ(FindMultisampleCount(32, only({4, 2})), 4);
  EXPECT_EQ(asked, (std::vector<int>{32, 16, 8, 4}));
  asked.clear();
  EXPECT_EQ(FindMultisampleCount(32, only({})), 0);
  EXPECT_EQ(asked, (std::vector<int>{32, 16, 8, 4, 2}));
  asked.clear();
  EXPECT_EQ(FindMultisampleCount(32, only({2, 32})), 32);
  EXPECT_EQ(asked, (std::vector<int>{32}));
}

TEST(GLView, FakedDriversDecideTheSampleCount) {
  EnsureGLView();
  if (MaxSamples() >= 4) {
    std::vector<int> asked;
    TOGL view(64, 48, [&](int n) {
      asked.push_back(n);
      return n == 4 || n == 2;
    });
    EXPECT_EQ(asked, (std::vector<int>{32, 16, 8, 4}));
    EXPECT_TRUE(view.Multisampled());
    EXPECT_EQ(view.Samples(), 4);
    EXPECT_EQ(view.Width(), 64);
    EXPECT_EQ(view.Height(), 48);
  }
  {
    TOGL view(64, 48, [](int) { return false; });
    EXPECT_FALSE(view.Multisampled());
    EXPECT_EQ(view.Samples(), 0);
  }
  if (MaxSamples() < 32) {
    // The probe says yes to a count the driver cannot build: single-sampled, not an error.
    TOGL view(64, 48, [](int n) { return n == 32; });
    EXPECT_FALSE(view.Multisampled());
    EXPECT_EQ(view.ReadPixels(GL_BGR).size(), 64u * 48u * 3u);
  }
  EXPECT_THROW(TOGL(0, 10), Error);
  EnsureGLView();
  ExpectNoGLError("faked drivers");
}

TEST(GLView, MultisampledTriangleReadsBackWithCoverage) {
  TOGL& view = EnsureGLView();
  ASSERT_TRUE(view.Multisampled()) << "this machine's driver offers " << MaxSamples() << " samples";
  const int w = view.Width(), h = view.Height();
  const std::vector<uint8_t> px = DrawHalfTriangle(view, GL_BGRA);
  ASSERT_EQ(px.size(), static_cast<size_t>(w) * h * 4);
  const std::vector<int> red = {0, 0, 255, 255}, clear = {255, 0, 255, 0};
  // Bottom row first: (w - 5, 2) lies inside the triangle, (w - 5, h - 3) outside.
  EXPECT_EQ(Pixel(px, w, 4, 5, 5), red);
  EXPECT_EQ(Pixel(px, w, 4, w - 5, 2), red);
  EXPECT_EQ(Pixel(px, w, 4, 2, h - 5), red);
  EXPECT_EQ(Pixel(px, w, 4, w - 5, h - 3), clear);
  EXPECT_EQ(Pixel(px, w, 4, w - 1, h - 1), clear);
  // Along the diagonal the samples are split: alpha is partial coverage there.
  int partial = 0;
  for (size_t i = 3; i < px.size(); i += 4)
    partial += px[i] > 0 && px[i] < 255;
  EXPECT_GT(partial, w / 2);
  EXPECT_LT(partial, 3 * w);
}

TEST(GLView, SingleSampledTriangleReadsBackBGRWithoutCoverage) {
  EnsureGLView();
  TOGL view(40, 30, [](int) { return false; });
  ASSERT_FALSE(view.Multisampled());
  // Three bytes per pixel, rows of 120 bytes with no padding, bottom row first.
  const std::vector<uint8_t> bgr = DrawHalfTriangle(view, GL_BGR);
  ASSERT_EQ(bgr.size(), 40u * 30u * 3u);
  EXPECT_EQ(Pixel(bgr, 40, 3, 37, 1), (std::vector<int>{0, 0, 255}));
  EXPECT_EQ(Pixel(bgr, 40, 3, 37, 28), (std::vector<int>{255, 0, 255}));
  EXPECT_EQ(Pixel(view.ReadPixels(GL_RGB), 40, 3, 1, 1), (std::vector<int>{255, 0, 0}));
  const std::vector<uint8_t> bgra = view.ReadPixels(GL_BGRA);
  int red = 0, clear = 0;
  for (int i = 0; i < 40 * 30; ++i) {
    const std::vector<int> p = Pixel(bgra, 40 * 30, 4, i, 0);
    red += p == std::vector<int>{0, 0, 255, 255};
    clear += p == std::vector<int>{255, 0, 255, 0};
  }
  EXPECT_EQ(red + clear, 40 * 30) << "single-sampled pixels are all or nothing";
  EXPECT_NEAR(red, 40 * 30 / 2, 40);
  EXPECT_THROW(view.ReadPixels(GL_LUMINANCE), Error);
}

TEST(GLView, FixedStateAfterCreation) {
  EnsureGLView();
  TOGL view(400, 400);
  GLint v = 0;
  glGetIntegerv(GL_PACK_ALIGNMENT, &v);
  EXPECT_EQ(v, 1);
  glGetIntegerv(GL_UNPACK_ALIGNMENT, &v);
  EXPECT_EQ(v, 1);
  EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
  EXPECT_FALSE(glIsEnabled(GL_CULL_FACE));
  EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
  glGetIntegerv(GL_CULL_FACE_MODE, &v);
  EXPECT_EQ(v, GL_FRONT);
  glGetIntegerv(GL_DEPTH_FUNC, &v);
  EXPECT_EQ(v, GL_LESS);
  glGetIntegerv(GL_BLEND_SRC, &v);
  EXPECT_EQ(v, GL_SRC_ALPHA);
  glGetIntegerv(GL_BLEND_DST, &v);
  EXPECT_EQ(v, GL_ONE_MINUS_SRC_ALPHA);
  GLint viewport[4];
  glGetIntegerv(GL_VIEWPORT, viewport);
  EXPECT_EQ((std::vector<GLint>(viewport, viewport + 4)), (std::vector<GLint>{0, 0, 400, 400}));

  // Perspective: 45 degrees, aspect 1, near 4, far 4000.
  GLdouble m[16];
  glGetDoublev(GL_PROJECTION_MATRIX, m);
  const double f = 1.0 / std::tan(22.5 * M_PI / 180.0);
  EXPECT_NEAR(m[0], f, 1e-6);
  EXPECT_NEAR(m[5], f, 1e-6);
  EXPECT_NEAR(m[10], -4004.0 / 3996.0, 1e-6);
  EXPECT_NEAR(m[14], -32000.0 / 3996.0, 1e-6);
  EXPECT_NEAR(m[11], -1.0, 1e-7);

  // The white texture: 2 x 2, every texel 255.
  glBindTexture(GL_TEXTURE_2D, view.WhiteTexture());
  GLint tw = 0, th = 0, minFilter = 0, wrap = 0;
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &tw);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &th);
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &wrap);
  EXPECT_EQ(tw, 2);
  EXPECT_EQ(th, 2);
  EXPECT_EQ(minFilter, GL_NEAREST);
  EXPECT_EQ(wrap, GL_REPEAT);
  std::vector<uint8_t> texels(12, 0);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, texels.data());
  EXPECT_EQ(texels, std::vector<uint8_t>(12, 255));

  // Begin2D: one unit per pixel, origin bottom-left; End2D: the perspective again.
  view.Begin2D();
  glGetDoublev(GL_PROJECTION_MATRIX, m);
  EXPECT_NEAR(m[0], 2.0 / 400, 1e-7);
  EXPECT_NEAR(m[12], -1.0, 1e-7);
  EXPECT_NEAR(m[13], -1.0, 1e-7);
  EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
  view.End2D();
  glGetDoublev(GL_PROJECTION_MATRIX, m);
  EXPECT_NEAR(m[5], f, 1e-6);
  EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
  glDisable(GL_DEPTH_TEST);
  ExpectNoGLError("fixed state");
}

TEST(GLView, EndFrameResolvesAndPresents) {
  TOGL& view = EnsureGLView();
  int calls = 0;
  std::vector<uint8_t> seen;
  view.SetPresenter([&](const TOGL& shown) {
    ++calls;
    EXPECT_EQ(&shown, &view);
    seen = shown.ReadPixels(GL_BGRA);
  });
  glClearColor(0, 1, 0, 1);
  view.BeginFrame();
  EXPECT_TRUE(view.EndFrame());
  view.SetPresenter({});
  view.BeginFrame();
  view.EndFrame();
  EXPECT_EQ(calls, 1);
  ASSERT_EQ(seen.size(), 400u * 400u * 4u);
  EXPECT_EQ(Pixel(seen, 400, 4, 0, 0), (std::vector<int>{0, 255, 0, 255}));
  EXPECT_EQ(seen, view.ReadPixels(GL_BGRA));
}

namespace {

// Standard output and error of `ENV quarvel-cli ARGS` together, and its exit status.
std::pair<int, std::string> RunCli(const std::string& args, const std::string& env = "") {
  std::vector<std::string> environment = test::ShellWords(env);
  environment.push_back(test::GLInfoEnvironment);
  const test::TProgramRun run =
      test::RunProgram(QUARVEL_CLI, test::ShellWords(args), environment, "", true);
  return {run.Status, run.Out};
}

} // namespace

TEST(GLView, GlInfoCommandDescribesTheView) {
  const auto [status, out] = RunCli("gl-info");
  EXPECT_EQ(status, 0) << out;
  EnsureGLView();
  EXPECT_NE(out.find("OpenGL version: " + TOGL::GLVersion() + "\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Renderer: " + TOGL::GLRenderer() + "\n"), std::string::npos) << out;
  EXPECT_NE(out.find(std::string(GLSystemName()) + " platform: " + TOGL::EGLPlatform() + "\n"),
            std::string::npos)
      << out;
  EXPECT_FALSE(TOGL::EGLPlatform().empty());
  const std::string samples =
      "Multisampled: " + std::string(GLView->Multisampled() ? "yes" : "no") +
      "\nSamples: " + std::to_string(GLView->Samples()) + "\n";
  EXPECT_NE(out.find(samples), std::string::npos) << out;
}

TEST(GLView, GlInfoListsEveryDeviceAndTheOneChosen) {
  EnsureGLView();
  const TGLDeviceReport& report = GLDeviceReport();
  ASSERT_GE(report.Choice.Index, 0);
  ASSERT_LT(static_cast<size_t>(report.Choice.Index), report.Candidates.size());
  EXPECT_EQ(report.Candidates[static_cast<size_t>(report.Choice.Index)].Renderer,
            TOGL::GLRenderer());
  EXPECT_EQ(report.Choice.Software, IsSoftwareRenderer(TOGL::GLRenderer()));

  const auto [status, out] = RunCli("gl-info --all");
  ASSERT_EQ(status, 0) << out;
  EXPECT_NE(out.find("OpenGL devices (" + std::to_string(report.Candidates.size()) + "):\n"),
            std::string::npos)
      << out;
  for (size_t i = 0; i < report.Candidates.size(); ++i)
    EXPECT_NE(out.find(std::to_string(i) + ": " + report.Candidates[i].Platform + "\n"),
              std::string::npos)
        << out;
  // Exactly one is chosen, with its reason; on a machine without a GPU (CI) it is the
  // software rasteriser, taken because nothing else was found.
  const size_t chosen = out.find("Chosen: yes, " + report.Choice.Reason + "\n");
  ASSERT_NE(chosen, std::string::npos) << out;
  EXPECT_EQ(out.find("Chosen: yes", chosen + 1), std::string::npos) << out;
  if (report.Choice.Software) {
    EXPECT_EQ(report.Choice.Reason, "no hardware OpenGL device was found");
  }
  EXPECT_NE(out.find("Device: " + std::to_string(report.Choice.Index) + "\n"), std::string::npos)
      << out;
}

TEST(GLView, DevicesArePickedByNumberAndByKind) {
  EnsureGLView();
  const TGLDeviceReport& report = GLDeviceReport();
  for (size_t i = 0; i < report.Candidates.size(); ++i) {
    const TGLCandidate& c = report.Candidates[i];
    const std::string n = std::to_string(i);
    for (const auto& [args, env] :
         {std::pair<std::string, std::string>{"gl-info --gl-device " + n, ""},
          {"gl-info", "QUARVEL_GL_DEVICE=" + n}}) {
      const auto [status, out] = RunCli(args, env);
      if (c.Platform == "default") {
        // The default display is whatever the environment offers (an X server under
        // xvfb-run, which now and then refuses a new client while busy): either outcome
        // is right, as long as it names the device.
        if (status == 0)
          EXPECT_NE(out.find("Device: " + n + "\n"), std::string::npos) << out;
        else
          EXPECT_NE(out.find("OpenGL device " + n + " (default) cannot be used"), std::string::npos)
              << out;
      } else if (c.Usable) {
        EXPECT_EQ(status, 0) << env << " " << args << ": " << out;
        EXPECT_NE(out.find("Renderer: " + c.Renderer + "\n"), std::string::npos) << out;
        EXPECT_NE(out.find("Device: " + n + "\n"), std::string::npos) << out;
      } else {
        EXPECT_EQ(status, 3) << env << " " << args << ": " << out;
        EXPECT_NE(out.find(c.Failure), std::string::npos) << out;
      }
    }
  }

  const struct {
    const char* Args;
    const char* Env;
    const char* Says;
  } refused[] = {
      {"gl-info --gl-device 99", "", "there is no OpenGL device 99"},
      {"gl-info", "QUARVEL_GL_DEVICE=99", "there is no OpenGL device 99"},
      {"gl-info", "QUARVEL_GL_DEVICE=x3", "QUARVEL_GL_DEVICE is \"x3\""},
      {"gl-info --renderer gpu", "", "--renderer"},
  };
  for (const auto& c : refused) {
    const auto [status, out] = RunCli(c.Args, c.Env);
    EXPECT_NE(status, 0) << c.Args;
    EXPECT_NE(out.find(c.Says), std::string::npos) << c.Env << " " << c.Args << ": " << out;
  }
  if (report.Choice.Software) {
    const auto [status, out] = RunCli("gl-info --renderer hardware");
    EXPECT_EQ(status, 3) << out;
    EXPECT_NE(out.find("no hardware OpenGL device was found"), std::string::npos) << out;
  }
  const auto [status, out] = RunCli("gl-info --renderer software");
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("Renderer kind: software"), std::string::npos) << out;
}
