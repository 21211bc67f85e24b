// Jobs whose frames come from scene files ("scene" and "clip" lines): the lines, the
// frames' sources and times, their refusals, and renders: a glTF model renders exactly
// as the same model written as OBJ, and clips of real files render frames that differ.
#include "ErrorMessage.h"
#include "common/Error.h"
#include "common/FileLookup.h"
#include "gl/GLTestUtil.h"
#include "jobs/JobRunner.h"
#include "jobs/JobTestUtil.h"
#include "jobs/Manager.h"
#include "models/OBJFile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <zlib.h>

using namespace quarvel;
using quarvel::test::ReadBytes;
using quarvel::test::TempRoot;

namespace {

const std::string TestModels = "/usr/share/assimp/models";
const std::string Examples = std::string(QUARVEL_SOURCE_DIR) + "/examples";

std::string WalkerText() {
  const std::vector<uint8_t> bytes = ReadBytes(Examples + "/units/walker.gltf");
  return std::string(bytes.begin(), bytes.end());
}

using quarvel::test::Message;

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

// How many different pictures the frames of each sheet of a rendered job show (colour
// and depth planes together), the smallest over the sheets.
size_t DistinctFrames(T2P5D_Manager& job) {
  size_t fewest = SIZE_MAX;
  for (TAngleSheet& sheet : job.Sheets) {
    std::set<std::vector<uint8_t>> seen;
    for (int32_t f = 0; f < static_cast<int32_t>(job.Frames.size()); ++f) {
      std::vector<uint8_t> frame;
      for (int32_t y = 0; y < sheet.Height; ++y) {
        const uint8_t* depth = T2P5D_Manager::PlanePixel(sheet.DepthPlane, sheet, f, 0, y);
        const uint8_t* colour = T2P5D_Manager::PlanePixel(sheet.ColourPlane, sheet, f, 0, y, 3);
        frame.insert(frame.end(), depth, depth + sheet.FrameWidth);
        frame.insert(frame.end(), colour, colour + sheet.FrameWidth * 3);
      }
      seen.insert(frame);
    }
    fewest = std::min(fewest, seen.size());
  }
  return fewest;
}

std::unique_ptr<T2P5D_Manager> Rendered(const std::string& root, const std::string& name) {
  quarvel::test::EnsureGLView();
  auto job = std::make_unique<T2P5D_Manager>(nullptr);
  job->RootDir = root;
  job->Multisampled = GLView->Multisampled();
  // The settings file lives in a temporary folder beside the read-only root that holds
  // the scene, so the root rule is lifted while it is read.
  const bool allowed = OutsideRootAllowed();
  SetOutsideRootAllowed(true);
  try {
    job->LoadSettings(name);
  } catch (...) {
    SetOutsideRootAllowed(allowed);
    throw;
  }
  SetOutsideRootAllowed(allowed);
  job->RenderAll(Inputs());
  return job;
}

// A tiny 24-bit PNG: the top half red, the bottom half blue, a white column at x = 0.
std::string TwoColourPNG() {
  const int w = 4, h = 4;
  std::string raw;
  for (int y = 0; y < h; ++y) {
    raw += '\0';
    for (int x = 0; x < w; ++x) {
      if (x == 0)
        raw += std::string("\xff\xff\xff", 3);
      else
        raw += y < h / 2 ? std::string("\xc8\x28\x28", 3) : std::string("\x28\x3c\xc8", 3);
    }
  }
  uLongf size = compressBound(raw.size());
  std::string packed(size, '\0');
  compress(reinterpret_cast<Bytef*>(packed.data()), &size,
           reinterpret_cast<const Bytef*>(raw.data()), raw.size());
  packed.resize(size);
  auto chunk = [](const std::string& kind, const std::string& data) {
    auto be = [](uint32_t v) {
      return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                         static_cast<char>(v >> 8), static_cast<char>(v)};
    };
    const std::string body = kind + data;
    return be(static_cast<uint32_t>(data.size())) + body +
           be(static_cast<uint32_t>(
               crc32(0, reinterpret_cast<const Bytef*>(body.data()), body.size())));
  };
  const std::string ihdr = std::string("\0\0\0\4\0\0\0\4\x08\x02\0\0\0", 13);
  return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr) + chunk("IDAT", packed) +
         chunk("IEND", "");
}

std::string Base64(const std::string& in) {
  static const char* table = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < in.size(); i += 3) {
    uint32_t n = static_cast<uint8_t>(in[i]) << 16;
    if (i + 1 < in.size())
      n |= static_cast<uint8_t>(in[i + 1]) << 8;
    if (i + 2 < in.size())
      n |= static_cast<uint8_t>(in[i + 2]);
    out += table[(n >> 18) & 63];
    out += table[(n >> 12) & 63];
    out += i + 1 < in.size() ? table[(n >> 6) & 63] : '=';
    out += i + 2 < in.size() ? table[n & 63] : '=';
  }
  return out;
}

std::string Number(float v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", static_cast<double>(v));
  return text;
}

// A wedge: a box whose top leans, each of its six sides two triangles of its own four
// corners, with texture coordinates that show the picture the right way up on the sides.
struct TWedge {
  std::vector<float> Positions; // x, y, z per vertex
  std::vector<float> UVs;       // u, v per vertex, OBJ's V (0 at the picture's bottom)
  std::vector<uint16_t> Indices;
  TWedge() {
    const float c[8][3] = {{-1, 0, -0.5f}, {1, 0, -0.5f},       {1, 0, 0.5f},       {-1, 0, 0.5f},
                           {-1, 2, -0.5f}, {0.5f, 1.5f, -0.5f}, {0.5f, 1.5f, 0.5f}, {-1, 2, 0.5f}};
    // Counter-clockwise seen from outside.
    const int sides[6][4] = {{3, 2, 6, 7}, {1, 0, 4, 5}, {2, 1, 5, 6},
                             {0, 3, 7, 4}, {7, 6, 5, 4}, {0, 1, 2, 3}};
    const float uv[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    for (const auto& side : sides) {
      const auto base = static_cast<uint16_t>(Positions.size() / 3);
      for (int k = 0; k < 4; ++k) {
        Positions.insert(Positions.end(), c[side[k]], c[side[k]] + 3);
        UVs.insert(UVs.end(), uv[k], uv[k] + 2);
      }
      for (int k : {0, 1, 2, 0, 2, 3})
        Indices.push_back(static_cast<uint16_t>(base + k));
    }
  }

  std::string GLTF() const {
    std::string bin;
    auto put = [&bin](const void* data, size_t size) {
      bin.append(static_cast<const char*>(data), size);
    };
    put(Positions.data(), Positions.size() * 4);
    std::vector<float> flipped = UVs; // glTF's V runs from the picture's top
    for (size_t i = 1; i < flipped.size(); i += 2)
      flipped[i] = 1.0f - flipped[i];
    put(flipped.data(), flipped.size() * 4);
    put(Indices.data(), Indices.size() * 2);
    const size_t n = Positions.size() / 3;
    const size_t p = n * 12, t = n * 8, i = Indices.size() * 2;
    return R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],
"nodes":[{"name":"Wedge","mesh":0}],
"meshes":[{"primitives":[{"attributes":{"POSITION":0,"TEXCOORD_0":1},"indices":2,"material":0}]}],
"materials":[{"name":"paint","pbrMetallicRoughness":{"baseColorFactor":[0.8,0.7,0.6,1],
"baseColorTexture":{"index":0}}}],
"textures":[{"source":0}],"images":[{"uri":"wedge.png"}],
"accessors":[
{"bufferView":0,"componentType":5126,"count":)" +
           std::to_string(n) + R"(,"type":"VEC3","min":[-1,0,-0.5],"max":[1,2,0.5]},
{"bufferView":1,"componentType":5126,"count":)" +
           std::to_string(n) + R"(,"type":"VEC2"},
{"bufferView":2,"componentType":5123,"count":)" +
           std::to_string(Indices.size()) + R"(,"type":"SCALAR"}],
"bufferViews":[{"buffer":0,"byteOffset":0,"byteLength":)" +
           std::to_string(p) + R"(},
{"buffer":0,"byteOffset":)" +
           std::to_string(p) + R"(,"byteLength":)" + std::to_string(t) + R"(},
{"buffer":0,"byteOffset":)" +
           std::to_string(p + t) + R"(,"byteLength":)" + std::to_string(i) + R"(}],
"buffers":[{"byteLength":)" +
           std::to_string(bin.size()) + R"(,"uri":"data:application/octet-stream;base64,)" +
           Base64(bin) + R"("}]})";
  }

  // The same vertices as OBJ: one vertex and texture coordinate per glTF vertex, the
  // group named after the node, the triangles in the same order.
  std::string OBJ() const {
    std::string o = "mtllib wedge_obj.mtl\n";
    for (size_t v = 0; v < Positions.size(); v += 3)
      o += "v " + Number(Positions[v]) + " " + Number(Positions[v + 1]) + " " +
           Number(Positions[v + 2]) + "\n";
    for (size_t v = 0; v < UVs.size(); v += 2)
      o += "vt " + Number(UVs[v]) + " " + Number(UVs[v + 1]) + "\n";
    o += "g wedge\nusemtl paint\n";
    for (size_t k = 0; k < Indices.size(); k += 3) {
      o += "f";
      for (size_t j = 0; j < 3; ++j)
        o += " " + std::to_string(Indices[k + j] + 1) + "/" + std::to_string(Indices[k + j] + 1);
      o += "\n";
    }
    return o;
  }
};

} // namespace

TEST(SceneJob, SceneAndClipLinesMakeFramesWithTheirSources) {
  TempRoot root;
  root.Write("walk.settings", "angle 0 0\n"
                              "scene 1 units/walker.gltf\n"
                              "scene 2 units/walker.gltf walk 0.5\n"
                              "scene 3 units/walker.gltf #1\n"
                              "clip 4 4 units/walker.gltf walk\n"
                              "clip 8 2 units/walker.gltf idle 0.5 1.5\n"
                              "frame 10 units/walker.obj\n");
  root.Write("units/walker.gltf", WalkerText());
  root.Write("units/walker.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  T2P5D_Manager job(nullptr);
  job.RootDir = root.str();
  job.LoadSettings("walk");
  ASSERT_EQ(job.Frames.size(), 10u);
  struct Expected {
    std::string File, Clip;
    double Seconds;
  };
  const Expected expected[] = {
      {"units/walker.gltf", "", 0},        {"units/walker.gltf", "walk", 0.5},
      {"units/walker.gltf", "#1", 0},      {"units/walker.gltf", "walk", 0},
      {"units/walker.gltf", "walk", 0.25}, {"units/walker.gltf", "walk", 0.5},
      {"units/walker.gltf", "walk", 0.75}, {"units/walker.gltf", "idle", 0.5},
      {"units/walker.gltf", "idle", 1.0},  {"units/walker.obj", "", 0},
  };
  for (size_t f = 0; f < 10; ++f) {
    EXPECT_EQ(job.Frames[f].Source.File, expected[f].File) << f;
    EXPECT_EQ(job.Frames[f].Source.Clip, expected[f].Clip) << f;
    EXPECT_DOUBLE_EQ(job.Frames[f].Source.Seconds, expected[f].Seconds) << f;
  }
  // The same file, clip and time make one model; the file is read once.
  EXPECT_EQ(job.Frames[1].ModelIndex, job.Frames[5].ModelIndex);
  EXPECT_EQ(job.Frames[0].ModelIndex == job.Frames[3].ModelIndex, false);
  EXPECT_EQ(job.Scenes.size(), 1u);
  // Rest pose, walk at 0.5, #1 at 0, walk at 0, 0.25 and 0.75, idle at 0.5 and 1, the OBJ.
  EXPECT_EQ(job.Models.size(), 9u);
  // Frames are measured after all models are centred together, as OBJ frames are.
  EXPECT_LT(job.Frames[4].MinY, job.Frames[4].MaxY);
  EXPECT_GT(job.Frames[4].MinY, job.Frames[3].MinY); // the hip has bobbed up
}

TEST(SceneJob, RefusedSceneLinesNameTheLineAndWhatFailed) {
  TempRoot root;
  root.Write("units/walker.gltf", WalkerText());
  root.Write("broken.glb", "glTF\x02\0\0\0garbage");
  struct Case {
    std::string Line;
    std::string Says;
  };
  const Case cases[] = {
      {"clip 1 8 units/walker.gltf run",
       "bad.settings:1: units/walker.gltf: no clip 'run'; the file has #0 'walk', #1 'idle'"},
      {"clip 1 8 units/walker.gltf", "bad.settings:1: clip needs FIRST COUNT FILE CLIP"},
      {"scene 0 units/walker.gltf", "bad.settings:1: frame number 0 is below 1"},
      {"clip 4090 10 units/walker.gltf walk", "bad.settings:1: frames 4090 to 4099 go beyond"},
      {"scene 1 ../walker.gltf", "bad.settings:1: ../walker.gltf is outside the root folder"},
      {"scene 1 units/run.gltf", "bad.settings:1: scene units/run.gltf not found below " +
                                     root.str() + "/ (paths are relative to --root)"},
      {"scene 1 broken.glb", "bad.settings:1: broken.glb: cannot read the scene"},
      {"scene x units/walker.gltf", "bad.settings:1: 'x' is not a valid integer value"},
  };
  for (const Case& c : cases) {
    root.Write("bad.settings", c.Line + "\n");
    T2P5D_Manager job(nullptr);
    job.RootDir = root.str();
    const std::string said = Message([&] { job.LoadSettings("bad"); });
    EXPECT_NE(said.find(c.Says), std::string::npos) << c.Line << "\n  said: " << said;
  }
  // A time that does not read is a warning; the line takes 0 seconds.
  root.Write("warn.settings", "angle 0 0\nscene 1 units/walker.gltf walk soon\n");
  T2P5D_Manager job(nullptr);
  job.RootDir = root.str();
  job.LoadSettings("warn");
  ASSERT_EQ(job.Warnings.size(), 1u);
  EXPECT_NE(job.Warnings[0].find("warn.settings:2: 'soon' is not a valid floating point value"),
            std::string::npos)
      << job.Warnings[0];
}

TEST(SceneJob, AGLTFModelRendersAsTheSameModelWrittenAsOBJ) {
  TempRoot root;
  const TWedge wedge;
  root.Write("wedge.png", TwoColourPNG());
  root.Write("wedge.gltf", wedge.GLTF());
  root.Write("wedge_obj.obj", wedge.OBJ());
  // The glTF material's colours as the OBJ library states them (no Ka: the default).
  root.Write("wedge_obj.mtl", "newmtl paint\nKd 0.8 0.7 0.6\nmap_Kd wedge.png\n");
  const std::string angles = "angle 0 0\nangle 1 60\nangle 2 150\nangle 3 250\nscale 1.2\n";
  root.Write("a.settings", angles + "frame 1 wedge_obj.obj\n");
  root.Write("b.settings", angles + "scene 1 wedge.gltf\n");
  TJobOptions options;
  options.RootDir = root.str();
  options.OutputDir = root / "out";
  const auto fromOBJ = RunJob(options, "a", Inputs(), nullptr, nullptr);
  const auto fromGLTF = RunJob(options, "b", Inputs(), nullptr, nullptr);
  ASSERT_EQ(fromOBJ.size(), 8u);
  ASSERT_EQ(fromGLTF.size(), fromOBJ.size());
  for (size_t i = 0; i < fromOBJ.size(); ++i)
    EXPECT_EQ(ReadBytes(fromOBJ[i]), ReadBytes(fromGLTF[i])) << fromGLTF[i];
  // Not trivially alike: the texture shows (more than the material's one colour).
  auto job = Rendered(root.str(), "b");
  std::set<uint32_t> colours;
  TAngleSheet& sheet = job->Sheets[0];
  for (size_t p = 0; p + 2 < sheet.ColourPlane.size(); p += 3)
    colours.insert(sheet.ColourPlane[p] | sheet.ColourPlane[p + 1] << 8 |
                   sheet.ColourPlane[p + 2] << 16);
  EXPECT_GT(colours.size(), 3u);
}

TEST(SceneJob, ClipsRenderFramesWhosePosesDiffer) {
  if (std::filesystem::temp_directory_path().root_name() !=
      std::filesystem::path(Examples).root_name())
    GTEST_SKIP() << "the temporary folder is on another drive than the scenes: no name "
                    "relative to their root reaches it";
  struct Case {
    std::string Root, Line;
    size_t AtLeast; // distinct frames in every sheet
  };
  std::vector<Case> cases = {{Examples, "clip 1 8 units/walker.gltf walk", 8}};
  if (std::filesystem::exists(TestModels)) {
    cases.push_back({TestModels, "clip 1 4 glTF2/simple_skin/simple_skin.gltf #0", 2});
    cases.push_back({TestModels, "clip 1 4 FBX/animation_with_skeleton.fbx #0", 2});
  } else {
    std::cout << "assimp-testmodels absent: only the example is rendered\n";
  }
  for (const Case& c : cases) {
    TempRoot jobs;
    // Not 90 degrees: simple_skin is a flat strip, which shows nothing edge-on.
    jobs.Write("clip.settings", "angle 0 0\nangle 1 45\n" + c.Line + "\n");
    // The scene is read in place below its root; the settings file, in a folder of its
    // own, is named from that root.
    const std::string name = std::filesystem::relative(jobs.path / "clip", c.Root).generic_string();
    auto job = Rendered(c.Root, name);
    EXPECT_GE(DistinctFrames(*job), c.AtLeast) << c.Line;
  }
}

namespace {

// The pixels with depth of frame 0 of sheet 0, cut to their bounding box.
struct TMask {
  int32_t Width = 0, Height = 0;
  std::vector<uint8_t> Covered;
  bool At(int32_t x, int32_t y) const {
    return x >= 0 && y >= 0 && x < Width && y < Height &&
           Covered[static_cast<size_t>(y) * Width + x] != 0;
  }
};

TMask CoverageOf(TAngleSheet& sheet) {
  int32_t left = INT32_MAX, top = INT32_MAX, right = -1, bottom = -1;
  for (int32_t y = 0; y < sheet.Height; ++y)
    for (int32_t x = 0; x < sheet.FrameWidth; ++x)
      if (*T2P5D_Manager::PlanePixel(sheet.DepthPlane, sheet, 0, x, y) != 0) {
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      }
  TMask m;
  if (right < 0)
    return m;
  m.Width = right - left + 1;
  m.Height = bottom - top + 1;
  for (int32_t y = top; y <= bottom; ++y)
    for (int32_t x = left; x <= right; ++x)
      m.Covered.push_back(*T2P5D_Manager::PlanePixel(sheet.DepthPlane, sheet, 0, x, y) != 0);
  return m;
}

// Intersection over union of two masks laid on each other at their top left corners,
// the second one mirrored left to right when asked.
double Overlap(const TMask& a, const TMask& b, bool mirrored) {
  int64_t both = 0, either = 0;
  for (int32_t y = 0; y < std::max(a.Height, b.Height); ++y)
    for (int32_t x = 0; x < std::max(a.Width, b.Width); ++x) {
      const bool pa = a.At(x, y), pb = b.At(mirrored ? b.Width - 1 - x : x, y);
      both += pa && pb;
      either += pa || pb;
    }
  return either == 0 ? 0.0 : static_cast<double>(both) / static_cast<double>(either);
}

} // namespace

// The FBX spider (centimetres, its axes in the file's settings) is the OBJ spider: seen
// from the same angle, the two cover the same pixels.
TEST(SceneJob, TheFBXSpiderRendersInTheOBJSpidersOrientation) {
  if (std::filesystem::temp_directory_path().root_name() !=
      std::filesystem::path(Examples).root_name())
    GTEST_SKIP() << "the temporary folder is on another drive than the scenes: no name "
                    "relative to their root reaches it";
  const std::string objRoot = std::string(QUARVEL_SHARED_TESTDATA) + "/real-obj";
  if (!std::filesystem::exists(TestModels + "/FBX/spider.fbx") ||
      !std::filesystem::exists(objRoot + "/assimp-spider/spider.obj"))
    GTEST_SKIP() << "assimp-testmodels or the shared spider OBJ is absent";
  TempRoot jobs;
  jobs.Write("obj.settings", "scale 0.05\nangle 0 30\nframe 1 assimp-spider/spider.obj\n");
  jobs.Write("fbx.settings", "scale 0.05\nangle 0 30\nscene 1 FBX/spider.fbx\n");
  auto obj =
      Rendered(objRoot, std::filesystem::relative(jobs.path / "obj", objRoot).generic_string());
  auto fbx = Rendered(TestModels,
                      std::filesystem::relative(jobs.path / "fbx", TestModels).generic_string());
  const TMask a = CoverageOf(obj->Sheets[0]);
  const TMask b = CoverageOf(fbx->Sheets[0]);
  ASSERT_GT(a.Width, 50);
  EXPECT_NEAR(a.Width, b.Width, 2);
  EXPECT_NEAR(a.Height, b.Height, 2);
  const double same = Overlap(a, b, false), mirrored = Overlap(a, b, true);
  EXPECT_GT(same, 0.95) << "mirrored: " << mirrored;
  std::cout << "spider coverage " << a.Width << " x " << a.Height << " (OBJ), " << b.Width << " x "
            << b.Height << " (FBX); overlap " << same << ", mirrored " << mirrored << "\n";
}
