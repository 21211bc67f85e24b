// quarvel-cli info model: counts, materials, bounds and the preview's choice, as text
// and as JSON; located errors for broken models.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/TestSystem.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

struct RunResult {
  int ExitCode = -1;
  std::string Out; // standard output and standard error together
};

RunResult RunCli(const std::string& args) {
  const quarvel::test::TProgramRun run = quarvel::test::RunProgram(
      QUARVEL_CLI, quarvel::test::ShellWords(args), {}, "", /*mergeErrors=*/true);
  return {run.Status, run.Out};
}

class InfoModel : public ::testing::Test {
protected:
  void SetUp() override {
    Root = fs::temp_directory_path() / ("quarvel-info-model-" + std::to_string(getpid()));
    fs::remove_all(Root);
    Write("units/Tank.obj", "mtllib tank.mtl\n"
                            "v 0 2 0\nv 4 2 0\nv 4 12 1\nv 0 12 -1\n"
                            "vt 0 0\nvt 1 1\nvn 0 0 1\n"
                            "g Hull\nusemtl Steel\nf 1/1/1 2/2/1 3/1/1 4/2/1\nf 1 2 3\n"
                            "g Skirt\nusemtl SIDE\nf 1 2 3\nusemtl nothing\nf 3 2 1\n");
    Write("units/tank.mtl", "newmtl steel\nKa 0.1 0.2 0.3\nKd 1 0.5 0\nmap_Kd Steel.jpg\n"
                            "newmtl side\nmap_Kd missing.png\n");
    Write("units/steel.bmp", "not decoded by info");
    Write("broken.obj", "v 1 2 3\nv 1 zz 3\n");
  }
  void TearDown() override { fs::remove_all(Root); }
  void Write(const std::string& name, const std::string& text) {
    fs::create_directories((Root / name).parent_path());
    std::ofstream(Root / name, std::ios::binary) << text;
  }
  fs::path Root;
};

TEST_F(InfoModel, JsonReport) {
  const RunResult r = RunCli("info model 'units\\tank' --json --root " + Root.string());
  ASSERT_EQ(r.ExitCode, 0) << r.Out;
  const auto j = nlohmann::json::parse(r.Out);
  EXPECT_EQ(j["vertices"], 4);
  EXPECT_EQ(j["normals"], 4) << "one read, three generated";
  EXPECT_EQ(j["texcoords"], 2);
  EXPECT_EQ(j["faces"], 4);
  EXPECT_EQ(j["groups"], nlohmann::json::parse(R"([{"name":"hull","faces":2},
                                                    {"name":"skirt","faces":2}])"));
  ASSERT_EQ(j["materials"].size(), 2u);
  EXPECT_EQ(j["materials"][0]["name"], "steel");
  EXPECT_EQ(j["materials"][0]["map_kd"], "steel.jpg");
  EXPECT_EQ(j["materials"][0]["texture"], "units/steel.bmp") << "found by base name";
  EXPECT_NEAR(j["materials"][0]["ka"][2].get<double>(), 0.3, 1e-6);
  EXPECT_EQ(j["materials"][0]["kd"], nlohmann::json::parse("[1.0, 0.5, 0.0]"));
  EXPECT_TRUE(j["materials"][1]["texture"].is_null());
  EXPECT_EQ(j["faces_without_material"], 1) << "'nothing' is unknown and there is no default";
  EXPECT_EQ(j["side_faces"], 1);
  EXPECT_EQ(j["bounds"], nlohmann::json::parse(R"({"min":[0,2,-1],"max":[4,12,1]})"));
  EXPECT_EQ(j["preview_maxz"], 126);
  EXPECT_NEAR(j["preview_scale"].get<double>(), 0.405, 1e-6);
}

TEST_F(InfoModel, TextReportAndErrors) {
  RunResult r = RunCli("info model units/tank.obj --root " + Root.string());
  ASSERT_EQ(r.ExitCode, 0) << r.Out;
  for (const char* expected :
       {"Vertices: 4\n", "Normals: 4 (1 read, 3 generated)\n", "Texture coordinates: 2\n",
        "Faces: 4\n", "  hull: 2 faces\n", "  skirt: 2 faces\n",
        "texture steel.jpg -> units/steel.bmp", "texture missing.png -> not found",
        "Faces with material \"side\": 1\n", "Bounds: min (0, 2, -1), max (4, 12, 1)\n",
        "Preview: scale 0.405000001192093, MaxZ 126\n"})
    EXPECT_NE(r.Out.find(expected), std::string::npos) << expected << "\n" << r.Out;

  r = RunCli("info model broken --root " + Root.string());
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_EQ(r.Out, "quarvel-cli: broken.obj:2: 'zz' is not a valid floating point value\n");

  r = RunCli("info model absent --root " + Root.string());
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_NE(r.Out.find("absent.obj"), std::string::npos) << r.Out;

  r = RunCli("info");
  EXPECT_NE(r.ExitCode, 0) << "info needs a sub-command";
}

} // namespace

// A scene file: what an OBJ shows (in its rest pose) plus its clips and its skin.
TEST(InfoModelScene, TheExampleShowsItsClipsAndSkin) {
  const std::string examples = std::string(QUARVEL_SOURCE_DIR) + "/examples";
  const RunResult json = RunCli("info model units/walker.gltf --json --root '" + examples + "'");
  ASSERT_EQ(json.ExitCode, 0) << json.Out;
  const auto j = nlohmann::json::parse(json.Out);
  EXPECT_EQ(j["vertices"], 45);
  EXPECT_EQ(j["faces"], 64);
  EXPECT_EQ(j["groups"][0]["name"], "walker");
  EXPECT_EQ(j["materials"][0]["name"], "body");
  EXPECT_EQ(j["materials"][0]["texture"], "decoded 16 x 16 pixels");
  EXPECT_EQ(j["clips"], nlohmann::json::parse(R"([{"name":"walk","duration":1.0,"channels":2},
                                                  {"name":"idle","duration":2.0,"channels":1}])"));
  EXPECT_EQ(j["skin"], nlohmann::json::parse(R"({"bones":2,"most_weights":2})"));
  EXPECT_EQ(j["bounds"]["max"][1], 2.0);

  const RunResult text = RunCli("info model units/walker.gltf --root '" + examples + "'");
  ASSERT_EQ(text.ExitCode, 0) << text.Out;
  EXPECT_NE(text.Out.find("Clips: 2\n  #0 'walk': 1 s, 2 channels\n  #1 'idle': 2 s, 1 channels\n"
                          "Skin: 2 bones, at most 2 weights on a vertex\nWarnings: 0\n"),
            std::string::npos)
      << text.Out;

  const RunResult missing = RunCli("info model units/none.glb --root '" + examples + "'");
  EXPECT_EQ(missing.ExitCode, 1);
  EXPECT_NE(missing.Out.find("units/none.glb: 'units/none.glb': no such file below the root"),
            std::string::npos)
      << missing.Out;
}
