// render --format png end to end: the files and animations of the example jobs, the sheet
// options in the up-to-date check, and the normal map of a sphere.
#include "cli/CliRun.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <png.h>

#include <cmath>
#include <fstream>

namespace quarvel::test {
namespace {

const std::string Examples = QUARVEL_SOURCE_DIR "/examples";

std::vector<std::string> Files(const std::string& job, const std::vector<std::string>& kinds) {
  std::vector<std::string> files;
  for (int a = 0; a < 4; ++a)
    for (const std::string& kind : kinds)
      files.push_back(job + "_" + std::to_string(a) + "." + kind);
  std::sort(files.begin(), files.end());
  return files;
}

// Renders one after another: each job's files, its up-to-date check under the sheet
// options, and one animation per angle of its frames in order.
TEST(PngSheets, EachAngleIsASheetWithItsMapsAndOneAnimationOfItsFrames) {
  TempRoot tmp("png");
  using TKinds = std::vector<std::string>;
  const TKinds all = {"png", "json", "depth.png", "mask.png", "normal.png", "tres"};
  const TKinds mask = {"png", "json", "mask.png"}, plain = {"png", "json"};
  const std::string everything = "--maps depth,mask,normal --atlas godot";
  const std::tuple<std::string, std::string, bool, TKinds, int> steps[] = {
      {"units/tank", everything, false, all, 3},
      {"units/tank", everything, true, all, 3},
      {"units/tank", "--maps mask", false, mask, 3}, // the other maps and the resource go
      {"units/tank", "--maps mask --palette", false, mask, 3},
      {"units/walker", "", false, plain, 8}}; // a clip of eight poses
  for (const auto& [job, options, upToDate, kinds, frames] : steps) {
    const std::string out = tmp / job; // a folder per job
    const CliRun r = Cli(tmp, "render " + job + " --root " + Quote(Examples) +
                                  " --format png --out " + Quote(out) + " " + options);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Has(r.out, job + ": up to date"), upToDate) << job << " " << options;
    EXPECT_EQ(FilesBelow(out), Files(job, kinds)) << options;
    std::ifstream in(out + "/" + job + "_2.json");
    const std::string name = job.substr(6) + "/2";
    std::vector<std::string> keys;
    for (int f = 1; f <= frames; ++f)
      keys.push_back(name + "/000" + std::to_string(f));
    EXPECT_EQ(nlohmann::json::parse(in)["animations"], (nlohmann::json{{name, keys}})) << job;
  }
  EXPECT_EQ(Cli(tmp, "render units/tank --root " + Quote(Examples) + " --maps depth").status, 2);
}

// The normal where the ray through the view's pixel centre (u, v) meets a sphere seen
// through the job's camera (45 degrees, 12 units away) as a circle of `radius` pixels.
std::array<double, 3> SphereNormal(double u, double v, double radius) {
  const double t = std::tan(std::acos(-1.0) / 8), R = 12 * std::sin(std::atan(radius / 200 * t));
  const double dx = (u / 200 - 1) * t, dy = (1 - v / 200) * t, dd = dx * dx + dy * dy + 1;
  const double s = (12 - std::sqrt(144 - dd * (144 - R * R))) / dd;
  return {s * dx / R, s * dy / R, (12 - s) / R};
}

TEST(PngSheets, TheNormalMapOfASphereHoldsItsNormals) {
  TempRoot tmp("png");
  std::ofstream obj(tmp / "sphere.obj"); // radius 1, its own normals, 128 x 64 quads
  const double pi = std::acos(-1.0);
  for (int r = 0; r <= 64; ++r)
    for (int s = 0; s < 128; ++s) {
      const double x = std::sin(pi * r / 64) * std::cos(pi * s / 64), y = std::cos(pi * r / 64),
                   z = std::sin(pi * r / 64) * std::sin(pi * s / 64);
      obj << "v " << x << " " << y << " " << z << "\nvn " << x << " " << y << " " << z << "\n";
    }
  for (int r = 0; r < 64; ++r)
    for (int s = 0; s < 128; ++s) {
      obj << "f";
      for (const int c :
           {r * 128 + s, r * 128 + 128 + s, r * 128 + 128 + (s + 1) % 128, r * 128 + (s + 1) % 128})
        obj << " " << c + 1 << "//" << c + 1;
      obj << "\n";
    }
  obj.close();
  std::ofstream(tmp / "sphere.settings") << "scale 2\nangle 0 0\nframe 1 sphere.obj\n";
  for (const bool yDown : {false, true}) {
    const CliRun r = Cli(tmp, "render sphere --root " + Quote(tmp.str()) +
                                  " --format png --maps normal --quiet --out " +
                                  Quote(tmp / "out") + (yDown ? " --normal-y-down" : ""));
    ASSERT_EQ(r.status, 0) << r.err;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, (tmp / "out/sphere_0.normal.png").c_str()));
    image.format = PNG_FORMAT_RGBA;
    std::vector<uint8_t> rgba(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr));
    const int w = static_cast<int>(image.width), cx = w / 2,
              cy = static_cast<int>(image.height) / 2;
    size_t covered = 0; // the silhouette's radius from its area; its centre is the view's
    for (size_t i = 3; i < rgba.size(); i += 4)
      covered += rgba[i] != 0;
    const double radius = std::sqrt(static_cast<double>(covered) / pi);
    const int step = static_cast<int>(0.9 * radius);
    for (const auto& [dx, dy] : {std::pair{0, 0}, {step, 0}, {-step, 0}, {0, step}, {0, -step}}) {
      const std::array<double, 3> n = SphereNormal(200.5 + dx, 200.5 + dy, radius);
      const uint8_t* got = &rgba[(static_cast<size_t>(cy + dy) * w + cx + dx) * 4];
      for (int k = 0; k < 3; ++k)
        EXPECT_NEAR(got[k], std::round(((k == 1 && yDown ? -1 : 1) * n[k] * 0.5 + 0.5) * 255), 1)
            << dx << "," << dy << " component " << k << (yDown ? " y down" : "");
    }
  }
}

} // namespace
} // namespace quarvel::test
