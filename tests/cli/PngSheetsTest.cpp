// render --format png end to end: the files of the example jobs, the atlas against the
// pictures, the manifest's view of the sheet options, and the normal pass on a sphere.
#include "cli/SheetPictures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

namespace quarvel::test {
namespace {

std::vector<std::string> AngleFiles(const std::string& stem, int angles,
                                    const std::vector<std::string>& extensions) {
  std::vector<std::string> files;
  for (int a = 0; a < angles; ++a)
    for (const std::string& e : extensions)
      files.push_back(stem + "_" + std::to_string(a) + "." + e);
  std::sort(files.begin(), files.end());
  return files;
}

TEST(PngSheets, ExampleJobsWriteASheetPerAngleThatTheAtlasDescribes) {
  struct Case {
    const char* Job;
    const char* Options;
    std::vector<std::string> Extensions;
    int Frames;
  };
  const Case cases[] = {
      {"units/tank",
       "--maps depth,mask,normal --atlas godot",
       {"png", "json", "depth.png", "mask.png", "normal.png", "tres"},
       3},
      // A clip of eight poses, wrapped into rows of three.
      {"units/walker", "--sheet-max 350", {"png", "json"}, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Job);
    TempRoot tmp("png");
    const std::string out = tmp / "out";
    const CliRun r = Cli(tmp, std::string("render ") + c.Job + " --root " + Quote(ExamplesRoot()) +
                                  " --format png --quiet --out " + Quote(out) + " " + c.Options);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(FilesBelow(out), AngleFiles(c.Job, 4, c.Extensions));
    for (int a = 0; a < 4; ++a) {
      const std::string stem = out + "/" + c.Job + "_" + std::to_string(a);
      const nlohmann::json atlas = ReadJSON(stem + ".json");
      ASSERT_TRUE(atlas.is_object());
      const TRGBAPicture sheet = ReadSheet(stem + ".png");
      ASSERT_EQ(sheet.Channels, 4);
      EXPECT_EQ(atlas["meta"]["size"], (nlohmann::json{{"w", sheet.Width}, {"h", sheet.Height}}));
      // Every map has the colour sheet's layout.
      for (const char* map : {"depth", "mask", "normal"}) {
        const TRGBAPicture picture = ReadSheet(stem + "." + map + ".png");
        if (picture.Width == 0)
          continue;
        EXPECT_EQ(picture.Width, sheet.Width) << map;
        EXPECT_EQ(picture.Height, sheet.Height) << map;
        EXPECT_EQ(picture.Channels, std::string(map) == "normal" ? 4 : 1) << map;
      }
      // One animation of the frames in frame order, which the frame tags say too, and
      // each frame's rectangle inside the sheet, covering something.
      const std::string name = std::string(c.Job).substr(6) + "/" + std::to_string(a);
      std::vector<std::string> keys;
      for (int f = 1; f <= c.Frames; ++f)
        keys.push_back(name + "/000" + std::to_string(f));
      EXPECT_EQ(atlas["animations"], (nlohmann::json{{name, keys}}));
      EXPECT_EQ(atlas["meta"]["frameTags"],
                nlohmann::json::parse(R"([{"name": ")" + name + R"(", "from": 0, "to": )" +
                                      std::to_string(c.Frames - 1) +
                                      R"(, "direction": "forward"}])"));
      ASSERT_EQ(atlas["frames"].size(), keys.size());
      for (const std::string& key : keys) {
        const nlohmann::json& f = atlas["frames"][key];
        const int x = f["frame"]["x"], y = f["frame"]["y"], w = f["frame"]["w"],
                  h = f["frame"]["h"];
        EXPECT_LE(x + w, sheet.Width) << key;
        EXPECT_LE(y + h, sheet.Height) << key;
        bool covered = false;
        for (int j = y; j < y + h && !covered; ++j)
          for (int i = x; i < x + w && !covered; ++i)
            covered = sheet.At(i, j)[3] != 0;
        EXPECT_TRUE(covered) << key;
      }
    }
  }
}

TEST(PngSheets, TheSheetOptionsDecideWhetherTheOutputIsUpToDate) {
  TempRoot tmp("png");
  const std::string out = tmp / "out";
  struct Step {
    const char* Options;
    bool UpToDate;
    std::vector<std::string> Extensions;
  };
  const Step steps[] = {
      {"--maps depth", false, {"png", "json", "depth.png"}},
      {"--maps depth", true, {"png", "json", "depth.png"}},
      {"--maps depth,mask", false, {"png", "json", "depth.png", "mask.png"}},
      {"--maps mask", false, {"png", "json", "mask.png"}}, // the depth sheets go
      {"--maps mask --palette", false, {"png", "json", "mask.png"}},
      {"--maps mask --palette", true, {"png", "json", "mask.png"}},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.Options);
    const CliRun r = Cli(tmp, "render units/tank --root " + Quote(ExamplesRoot()) +
                                  " --format png --out " + Quote(out) + " " + s.Options);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Has(r.out, "units/tank: up to date"), s.UpToDate) << r.out;
    EXPECT_EQ(FilesBelow(out), AngleFiles("units/tank", 4, s.Extensions));
  }
  // The options are for PNG sheets alone.
  EXPECT_EQ(Cli(tmp, "render units/tank --root " + Quote(ExamplesRoot()) + " --maps depth").status,
            2);
}

// A sphere of radius 1 whose normals are its own (vn lines), 128 segments by 64 rings.
std::string SphereOBJ() {
  std::ostringstream o;
  constexpr int segments = 128, rings = 64;
  const double pi = std::acos(-1.0);
  for (int r = 0; r <= rings; ++r)
    for (int s = 0; s < segments; ++s) {
      const double theta = pi * r / rings, phi = 2 * pi * s / segments;
      const double x = std::sin(theta) * std::cos(phi), y = std::cos(theta),
                   z = std::sin(theta) * std::sin(phi);
      o << "v " << x << " " << y << " " << z << "\nvn " << x << " " << y << " " << z << "\n";
    }
  auto at = [](int r, int s) { return r * segments + s % segments + 1; };
  for (int r = 0; r < rings; ++r)
    for (int s = 0; s < segments; ++s) {
      const int a = at(r, s), b = at(r + 1, s), c = at(r + 1, s + 1), d = at(r, s + 1);
      o << "f " << a << "//" << a << " " << b << "//" << b << " " << c << "//" << c << " " << d
        << "//" << d << "\n";
    }
  return o.str();
}

// The normal of the sphere where the ray through the view's pixel (u, v) (from the top
// left corner, pixel centres at .5) meets it: the camera's 45 degree perspective, the
// sphere's centre 12 units in front of it, its radius from the silhouette's.
std::vector<double> SphereNormal(double u, double v, double radiusPixels) {
  const double t = std::tan(std::acos(-1.0) / 8);
  const double sinBeta = std::sin(std::atan(radiusPixels / 200 * t));
  const double R = 12 * sinBeta;
  const double dx = (u / 200 - 1) * t, dy = (1 - v / 200) * t, dz = -1;
  const double dd = dx * dx + dy * dy + dz * dz, dc = -12 * dz;
  const double s = (dc - std::sqrt(dc * dc - dd * (144 - R * R))) / dd;
  return {s * dx / R, s * dy / R, (s * dz + 12) / R};
}

TEST(PngSheets, TheNormalMapOfASphereHoldsItsNormals) {
  TempRoot tmp("png");
  {
    std::ofstream(tmp / "sphere.obj") << SphereOBJ();
    std::ofstream(tmp / "sphere.settings") << "scale 2\nangle 0 0\nframe 1 sphere.obj\n";
  }
  const std::string out = tmp / "out";
  for (const bool yDown : {false, true}) {
    SCOPED_TRACE(yDown ? "+Y down" : "+Y up");
    const CliRun r = Cli(tmp, "render sphere --root " + Quote(tmp.str()) +
                                  " --format png --maps normal --quiet --out " + Quote(out) +
                                  (yDown ? " --normal-y-down" : ""));
    ASSERT_EQ(r.status, 0) << r.err;
    const TRGBAPicture normals = ReadSheet(out + "/sphere_0.normal.png");
    ASSERT_EQ(normals.Channels, 4);
    // The silhouette's radius, from its area (a circle: the sphere's centre is on the
    // camera's axis); the frame's margins are cut alike on both sides, so the view's
    // centre is the sheet's.
    const int cx = normals.Width / 2, cy = normals.Height / 2;
    size_t covered = 0;
    for (int y = 0; y < normals.Height; ++y)
      for (int x = 0; x < normals.Width; ++x)
        covered += normals.At(x, y)[3] != 0;
    const double radius = std::sqrt(static_cast<double>(covered) / std::acos(-1.0));
    ASSERT_GT(radius, 40);
    const int step = static_cast<int>(0.9 * radius);
    // The centre and, near the four edges, the points 0.9 of the radius out.
    const int points[][2] = {{0, 0}, {step, 0}, {-step, 0}, {0, step}, {0, -step}};
    for (const auto& p : points) {
      const int x = cx + p[0], y = cy + p[1];
      const std::vector<double> n = SphereNormal(200 + p[0] + 0.5, 200 + p[1] + 0.5, radius);
      const uint8_t* got = normals.At(x, y);
      for (int k = 0; k < 3; ++k) {
        const double component = k == 1 && yDown ? -n[1] : n[static_cast<size_t>(k)];
        const double wanted = std::round((component * 0.5 + 0.5) * 255);
        EXPECT_NEAR(got[k], wanted, 1) << "pixel " << p[0] << "," << p[1] << " component " << k;
      }
      EXPECT_EQ(got[3], 255);
    }
  }
}

} // namespace
} // namespace quarvel::test
