// quarvel-cli info job: a job loaded without rendering, as text and as JSON.
#include "jobs/JobTestUtil.h"
#include "support/TestSystem.h"

#include <gtest/gtest.h>

#include <cstdlib>
// GCC sees a null dereference inside nlohmann's inlined conversions that cannot happen.
#pragma GCC diagnostic ignored "-Wnull-dereference"
#include <nlohmann/json.hpp>

using quarvel::test::TempRoot;

namespace {

std::pair<int, std::string> Info(const TempRoot& /*tmp*/, const std::string& args,
                                 std::string* err = nullptr) {
  const quarvel::test::TProgramRun run =
      quarvel::test::RunProgram(QUARVEL_CLI, quarvel::test::ShellWords("info job " + args));
  if (err)
    *err = run.Err;
  return {run.Status, run.Out};
}

void WriteJob(const TempRoot& tmp) {
  tmp.Write("units/tank.settings", "scale 1.5\nzmax 300\ninclude common/angles.txt\n"
                                   "frame 1 %model%_a.obj\nframe 3 %model%_b.obj\n"
                                   "angle 2 90deg\nsingleoutput\n");
  tmp.Write("common/angles.txt", "angle 0 0\nangle 1 90\n");
  tmp.Write("units/tank_a.obj", "v 0 0 0\nv 1 2 0\nv 0 1 0\nf 1 2 3\n");
  tmp.Write("units/tank_b.obj", "mtllib gone.mtl\nv 0 4 0\nv 1 6 0\nv 0 5 0\nf 1 2 3\n");
}

} // namespace

TEST(InfoJobCommand, JsonHoldsTheJobAndItsWarnings) {
  TempRoot tmp("info");
  WriteJob(tmp);
  const auto [status, out] = Info(tmp, "units/tank --json --root '" + tmp.str() + "'");
  ASSERT_EQ(status, 0) << out;
  const nlohmann::json j = nlohmann::json::parse(out);
  EXPECT_EQ(j["angles"], nlohmann::json({0, 90, 0}));
  ASSERT_EQ(j["frames"].size(), 3u);
  EXPECT_EQ(j["frames"][0]["model"], "units/tank_a");
  EXPECT_EQ(j["frames"][1]["model"], "units/tank_a"); // never bound: model 0
  EXPECT_EQ(j["frames"][2]["model"], "units/tank_b");
  // Centred together: joint y range 0..6, so frame 1 is -3..-1 and frame 3 is 1..3.
  EXPECT_EQ(j["frames"][0]["min_y"], -3.0);
  EXPECT_EQ(j["frames"][0]["max_y"], -1.0);
  EXPECT_EQ(j["frames"][2]["min_y"], 1.0);
  EXPECT_EQ(j["frames"][2]["max_y"], 3.0);
  EXPECT_EQ(j["models"], nlohmann::json({"units/tank_a", "units/tank_b"}));
  EXPECT_EQ(j["scale"], 1.5);
  EXPECT_EQ(j["zmax"], 44);
  EXPECT_EQ(j["single_output"], true);
  const std::string f = tmp / "units/tank.settings";
  // The model's missing material library is reported where the loading reaches it.
  EXPECT_EQ(j["warnings"],
            nlohmann::json({f + ":2: zmax 300 is kept to its low 8 bits: 44",
                            "units/tank_b.obj:1: material library " + tmp / "units/gone.mtl" +
                                " not found; faces use the default material",
                            f + ":6: '90deg' is not a valid integer value; 0 "
                                "degrees taken"}));
}

TEST(InfoJobCommand, TextListsTheJobAndMissingFilesFail) {
  TempRoot tmp("info");
  WriteJob(tmp);
  auto [status, out] =
      Info(tmp, "'" + tmp.str() + "/units/tank.settings' --root '" + tmp.str() + "'");
  ASSERT_EQ(status, 0) << out;
  EXPECT_EQ(out, "settings: " + tmp / "units/tank.settings" +
                     "\n"
                     "angles: 3\n  slot 0: 0 degrees\n  slot 1: 90 degrees\n  slot 2: 0 degrees\n"
                     "frames: 3\n"
                     "  frame 1: units/tank_a (min y -3, max y -1)\n"
                     "  frame 2: units/tank_a (min y -3, max y -1)\n"
                     "  frame 3: units/tank_b (min y 1, max y 3)\n"
                     "models: 2\n  units/tank_a\n  units/tank_b\n"
                     "scale: 1.5\nzmax: 44\nsingle output: yes\nwarnings: 3\n"
                     "  " +
                     tmp / "units/tank.settings" +
                     ":2: zmax 300 is kept to its low 8 bits: 44\n"
                     "  units/tank_b.obj:1: material library " +
                     tmp / "units/gone.mtl" +
                     " not found; faces use the default material\n"
                     "  " +
                     tmp / "units/tank.settings" +
                     ":6: '90deg' is not a valid integer value; 0 degrees taken\n");

  std::string err;
  std::tie(status, out) = Info(tmp, "units/none --root '" + tmp.str() + "'", &err);
  EXPECT_EQ(status, 1);
  EXPECT_NE(err.find(tmp / "units/none.settings"), std::string::npos) << err;
}

TEST(InfoJobCommand, JsonSurvivesBytesThatAreNotUtf8) {
  // Each text reaches the JSON output: a settings line (in a warning), lines of a binary
  // include (warnings), a folder name (a model name). Invalid bytes are replaced or
  // escaped; the output is always one valid JSON object.
  if (!quarvel::test::HasAnyByteNames)
    GTEST_SKIP() << "this system's file names cannot hold the bytes this case is about";
  TempRoot tmp("info");
  tmp.Write("m\xfe/box.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  tmp.Write("bin.dat", std::string("\x89PNG\r\n\x1a\n\xfe\xff\x00\x01 junk\n\xc3\x28\n", 20));
  struct TCase {
    const char* What;
    std::string Settings;
  };
  const std::vector<TCase> cases = {
      {"settings line", "angle 0 0\n\xfe\xff k\xe9yword\nframe 1 m\xfe/box.obj\n"},
      {"binary include", "angle 0 0\ninclude bin.dat\nframe 1 m\xfe/box.obj\n"},
      {"folder name", "angle 0 0\nframe 1 m\xfe/box.obj\n"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    tmp.Write("j.settings", c.Settings);
    std::string err;
    const auto [status, out] = Info(tmp, "j --json --root '" + tmp.str() + "'", &err);
    EXPECT_EQ(status, 0) << err;
    EXPECT_EQ(out.find('\xfe'), std::string::npos);
    nlohmann::json j;
    ASSERT_NO_THROW(j = nlohmann::json::parse(out)) << out;
    ASSERT_EQ(j["models"].size(), 1u);
    // "m", then the byte replaced (U+FFFD) or shown escaped, then "/box".
    const std::string model = j["models"][0];
    EXPECT_TRUE(model == "m\xef\xbf\xbd/box" || model == "m\\xfe/box") << model;
  }
}

TEST(InfoJobCommand, SceneFramesNameTheirFileClipAndTime) {
  const std::string examples = std::string(QUARVEL_SOURCE_DIR) + "/examples";
  TempRoot tmp("info");
  const auto walker = quarvel::test::ReadBytes(examples + "/units/walker.gltf");
  tmp.Write("walker.gltf", std::string(walker.begin(), walker.end()));
  tmp.Write("job.settings", "angle 0 0\nscene 1 walker.gltf\nclip 2 2 walker.gltf walk\n");
  auto [status, out] = Info(tmp, "job --root '" + tmp.str() + "'");
  ASSERT_EQ(status, 0) << out;
  EXPECT_NE(out.find("  frame 1: walker.gltf (min y "), std::string::npos) << out;
  EXPECT_NE(out.find(") from walker.gltf, rest pose\n"), std::string::npos) << out;
  EXPECT_NE(out.find(") from walker.gltf, clip walk at 0.5 s\n"), std::string::npos) << out;
  std::tie(status, out) = Info(tmp, "job --json --root '" + tmp.str() + "'");
  ASSERT_EQ(status, 0) << out;
  const auto j = nlohmann::json::parse(out);
  EXPECT_EQ(j["frames"][2]["model"], "walker.gltf #0 @0.5s");
  EXPECT_EQ(j["frames"][2]["source"],
            nlohmann::json({{"file", "walker.gltf"}, {"clip", "walk"}, {"seconds", 0.5}}));
  EXPECT_EQ(j["frames"][0]["source"]["clip"], "");
}
