#include "gl/Shader.h"
#include "common/FileLookup.h"
#include "common/Messages.h"
#include "gl/GLTestUtil.h"

#include "TempFolder.h"

#include <gtest/gtest.h>

#include <GL/glext.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <utility>
#include <vector>

namespace fs = std::filesystem;
using namespace quarvel;
using quarvel::test::EnsureGLView;
using quarvel::test::ExpectNoGLError;

namespace {

const char* const GoodVertex = "#version 120\nvoid main() { gl_Position = ftransform(); }\n";
const char* const GoodFragment = "#version 120\nvoid main() { gl_FragColor = vec4(1.0); }\n";
const char* const BrokenVertex = "#version 120\nvoid main() { gl_Position = ; }\n";

struct TempDir : test::TempFolder {
  TempDir() : TempFolder("shader") {}
};

// Collects every message shown while it lives.
struct MessageCapture {
  std::vector<std::pair<std::string, std::string>> shown;
  MessageCapture() {
    SetMessageSink([this](const std::string& title, const std::string& text) {
      shown.emplace_back(title, text);
    });
  }
  ~MessageCapture() { SetMessageSink({}); }
};

bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

} // namespace

TEST(Shader, BuiltInCopiesEqualTheShaderFiles) {
  int count = 0;
  for (const char* const* name = BuiltinShaderFiles; *name; ++name, ++count) {
    const std::string file = std::string(QUARVEL_SOURCE_DIR) + "/shaders/" + *name;
    EXPECT_EQ(ReadWholeFile(file), BuiltinShaderTexts[count])
        << *name << " differs from src/gl/BuiltinShaders.cpp";
  }
  EXPECT_EQ(count, 6);
  EXPECT_EQ(BuiltinShaderSource("ZBUFFEREX.FGLSL"), BuiltinShaderTexts[3]);
  EXPECT_EQ(BuiltinShaderSource("other.fglsl"), nullptr);
}

TEST(Shader, BrokenVertexShaderReportsProgramAndVSHeading) {
  EnsureGLView();
  TempDir dir;
  dir.Write("zbuffer.vglsl", BrokenVertex);
  dir.Write("zbuffer.fglsl", GoodFragment);
  MessageCapture messages;
  TGLSL_Program program;
  program.LoadShaders(dir / "zbuffer");
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].first, "Shader Error");
  const std::string& text = messages.shown[0].second;
  EXPECT_EQ(text, program.Log);
  EXPECT_TRUE(StartsWith(text, "Program: ")) << text;
  ASSERT_FALSE(program.VertexShader->Log.empty());
  EXPECT_TRUE(program.FragmentShader->Log.empty()) << program.FragmentShader->Log;
  // The link log, then the heading, a CR, the compiler's own text and a CR; nothing for
  // the fragment shader that compiled.
  const std::string vs = "VS (zbuffer.vglsl):\r" + program.VertexShader->Log + "\r";
  ASSERT_NE(text.find(vs), std::string::npos) << text;
  EXPECT_EQ(text.size(), text.find(vs) + vs.size()) << text;
  EXPECT_EQ(text.substr(0, text.find(vs)),
            "Program: " + GetObjectLog(static_cast<GLuint>(program.Handle), false) + "\r");
  EXPECT_EQ(text.find("FS ("), std::string::npos);
  EXPECT_FALSE(program.Linked());
  // The file was read as lines, each passed on with CR LF.
  EXPECT_EQ(
      program.VertexShader->SourceLength,
      static_cast<int>(std::string("#version 120\r\nvoid main() { gl_Position = ; }\r\n").size()));
  ExpectNoGLError("broken vertex shader");
}

TEST(Shader, GoodFilesMissingFilesAndExtensions) {
  EnsureGLView();
  TempDir dir;
  MessageCapture messages;
  {
    // "x.glsl" loads x.vglsl and x.fglsl; the extension of the folder does not count.
    fs::create_directories(dir.path / "a.b");
    dir.Write("a.b/x.vglsl", GoodVertex);
    dir.Write("a.b/x.fglsl", GoodFragment);
    TGLSL_Program program;
    program.LoadShaders(dir / "a.b/x.glsl");
    EXPECT_EQ(program.Log, "");
    EXPECT_TRUE(program.Linked());
    EXPECT_EQ(program.VertexShader->ShaderFile, dir / "a.b/x.vglsl");
    EXPECT_EQ(program.FragmentShader->ShaderFile, dir / "a.b/x.fglsl");
    TGLSL_Program noExtension;
    noExtension.LoadShaders(dir / "a.b\\x");
    EXPECT_TRUE(noExtension.Linked());
  }
  {
    // Only the vertex file of a name without built-in copies.
    dir.Write("custom.vglsl", GoodVertex);
    TGLSL_Program program;
    program.LoadShaders(dir / "custom");
    EXPECT_EQ(program.Log, "Shaders do not exist");
    EXPECT_GT(program.Handle, 0);
    EXPECT_FALSE(program.Linked());
    TGLSL_Program direct;
    direct.LoadShaderFiles(dir / "custom.vglsl", dir / "custom.fglsl");
    EXPECT_EQ(direct.Log, "Shaders do not exist");
  }
  EXPECT_TRUE(messages.shown.empty());
  ExpectNoGLError("good and missing files");
}

TEST(Shader, BuiltInProgramsStandInForMissingFilesAndFilesOverrideThem) {
  EnsureGLView();
  TempDir empty;
  MessageCapture messages;
  const TShaderSet builtin = LoadShaderSet(empty.path.string());
  EXPECT_TRUE(messages.shown.empty());
  for (TGLSL_Program* p : {builtin.ZBuffer.get(), builtin.ZBufferEx.get(), builtin.SideCol.get()}) {
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->Log, "");
    EXPECT_TRUE(p->Linked());
  }
  EXPECT_EQ(builtin.ZBufferEx->FragmentShader->ShaderFile, "zbufferEx.fglsl");
  EXPECT_GE(builtin.ZBufferSizeLoc, 0);
  EXPECT_GE(builtin.ZBufferExSizeLoc, 0);

  TempDir assets;
  assets.Write("zbufferEx.vglsl", GoodVertex);
  assets.Write("zbufferEx.fglsl", GoodFragment);
  const TShaderSet files = LoadShaderSet(assets.path.string());
  EXPECT_EQ(files.ZBufferEx->FragmentShader->ShaderFile, assets / "zbufferEx.fglsl");
  EXPECT_TRUE(files.ZBufferEx->Linked());
  // That file declares no "size".
  EXPECT_EQ(files.ZBufferExSizeLoc, -1);
  EXPECT_GE(files.ZBufferSizeLoc, 0);
  // Each set is its own: loading the second changed nothing in the first.
  EXPECT_EQ(builtin.ZBufferEx->FragmentShader->ShaderFile, "zbufferEx.fglsl");
  EXPECT_GE(builtin.ZBufferExSizeLoc, 0);
  ExpectNoGLError("built-in programs");
}

namespace {

// Draws a full-view quad through `program` in the 2D projection, where the model-space
// Y of a pixel is its row, and returns the picture as RGBA, bottom row first.
std::vector<uint8_t> DrawHeights(TOGL& view, TGLSL_Program& program, GLint sizeLoc, float low,
                                 float range, float zMax) {
  glClearColor(1, 0, 1, 0);
  view.BeginFrame();
  view.Begin2D();
  program.Use();
  glUniform3f(sizeLoc, low, range, zMax);
  const float w = static_cast<float>(view.Width()), h = static_cast<float>(view.Height());
  glBegin(GL_QUADS);
  glVertex2f(0, 0);
  glVertex2f(w, 0);
  glVertex2f(w, h);
  glVertex2f(0, h);
  glEnd();
  glUseProgram(0);
  view.End2D();
  glDisable(GL_DEPTH_TEST);
  view.EndFrame();
  ExpectNoGLError("DrawHeights");
  return view.ReadPixels(GL_RGBA);
}

int ExpectedDepth(double y, double low, double range, double zMax) {
  double f = range > 0 ? std::clamp((y - low) / range, 0.0, 1.0) : 0.0;
  return 1 + static_cast<int>(std::floor(f * std::max(zMax - 1, 0.0) + 0.5));
}

} // namespace

TEST(Shader, DepthProgramsWriteTheHeightAsABytePerPixel) {
  TOGL& view = EnsureGLView();
  TempDir empty;
  const TShaderSet shaders = LoadShaderSet(empty.path.string());
  const int w = view.Width(), h = view.Height();
  auto pixel = [&](const std::vector<uint8_t>& px, int y) {
    const uint8_t* p = &px[(static_cast<size_t>(y) * w + w / 2) * 4];
    return std::vector<int>{p[0], p[1], p[2], p[3]};
  };
  {
    // Height range 0..h: the lowest row 1, the highest ZMax, linear in between.
    const auto px =
        DrawHeights(view, *shaders.ZBufferEx, shaders.ZBufferExSizeLoc, 0, float(h), 127);
    EXPECT_EQ(pixel(px, 0), (std::vector<int>{0, 1, 0, 255}));
    EXPECT_EQ(pixel(px, h - 1), (std::vector<int>{0, 127, 0, 255}));
    for (int y = 0; y < h; ++y)
      ASSERT_EQ(pixel(px, y)[1], ExpectedDepth(y + 0.5, 0, h, 127)) << "row " << y;
  }
  {
    // Below the lowest point clamps to 1, and only 10 levels.
    const auto px = DrawHeights(view, *shaders.ZBufferEx, shaders.ZBufferExSizeLoc, 100, 200, 10);
    for (int y : {0, 99, 100, 150, 250, 299, 300, 399})
      EXPECT_EQ(pixel(px, y)[1], ExpectedDepth(y + 0.5, 100, 200, 10)) << "row " << y;
    EXPECT_EQ(pixel(px, 10)[1], 1);
    EXPECT_EQ(pixel(px, 350)[1], 10);
  }
  {
    // A flat frame (range 0) and ZMax 0 both give 1 everywhere: covered, never 0.
    auto flat = DrawHeights(view, *shaders.ZBufferEx, shaders.ZBufferExSizeLoc, 0, 0, 127);
    auto noLevels = DrawHeights(view, *shaders.ZBufferEx, shaders.ZBufferExSizeLoc, 0, float(h), 0);
    for (int y : {0, h / 2, h - 1}) {
      EXPECT_EQ(pixel(flat, y), (std::vector<int>{0, 1, 0, 255}));
      EXPECT_EQ(pixel(noLevels, y), (std::vector<int>{0, 1, 0, 255}));
    }
  }
  {
    // The preview's program shows the same level as grey.
    const auto px = DrawHeights(view, *shaders.ZBuffer, shaders.ZBufferSizeLoc, 0, float(h), 127);
    EXPECT_EQ(pixel(px, h - 1), (std::vector<int>{127, 127, 127, 255}));
    const int d = ExpectedDepth(200.5, 0, h, 127);
    EXPECT_EQ(pixel(px, 200), (std::vector<int>{d, d, d, 255}));
  }
  {
    const auto px = DrawHeights(view, *shaders.SideCol, -1, 0, 0, 0);
    EXPECT_EQ(pixel(px, h / 2), (std::vector<int>{255, 255, 255, 255}));
  }
}
