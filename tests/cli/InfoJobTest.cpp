// quarvel-cli info job: a job loaded without rendering, as text and as JSON.
#include "jobs/JobTestUtil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/wait.h>
// GCC sees a null dereference inside nlohmann's inlined conversions that cannot happen.
#pragma GCC diagnostic ignored "-Wnull-dereference"
#include <nlohmann/json.hpp>

using quarvel::test::TempRoot;

namespace {

std::pair<int, std::string> Info(const TempRoot& tmp, const std::string& args,
                                 std::string* err = nullptr) {
  const std::string out = tmp / "stdout.txt", errFile = tmp / "stderr.txt";
  const std::string cmd =
      std::string(QUARVEL_CLI) + " info job " + args + " >'" + out + "' 2>'" + errFile + "'";
  const int raw = std::system(cmd.c_str());
  const auto o = quarvel::test::ReadBytes(out);
  if (err) {
    const auto e = quarvel::test::ReadBytes(errFile);
    err->assign(e.begin(), e.end());
  }
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, std::string(o.begin(), o.end())};
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
