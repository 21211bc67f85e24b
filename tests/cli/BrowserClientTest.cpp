// A real client reads the PNG sheets: Phaser (tests/browser, installed by the bootstrap
// from the npm registry) in headless Chromium loads a rendered sheet with its atlas, draws
// every frame of one animation and compares the canvas with the frames cut from the sheet
// by the documented layout, byte for byte (tests/browser/check-sheet.js). The same page
// given an atlas with one number off by a pixel must see the difference.
#include "cli/SheetPictures.h"
#include "image/Image.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

namespace quarvel::test {
namespace {

const std::string BrowserDir = std::string(QUARVEL_SOURCE_DIR) + "/tests/browser";
const std::string Phaser = BrowserDir + "/node_modules/phaser/dist/phaser.min.js";
const std::string Driver = BrowserDir + "/node_modules/puppeteer-core/package.json";

std::string ChromiumPath() {
  for (const char* path : {"/usr/bin/chromium", "/usr/bin/chromium-browser"})
    if (std::filesystem::exists(path))
      return path;
  return std::string();
}

// The frames of angle `angle` as the atlas must make an engine draw them: each uncut, in
// a cell of the view's size, side by side. Cut from the sheet where the layout puts them
// (rows of as many frames as fit in sheetMax), the frame size from the dumped planes.
std::vector<uint8_t> ExpectedCells(const TRGBAPicture& sheet, int frameWidth, int frameHeight,
                                   int frames, int sheetMax, int view) {
  const int columns = std::max(1, sheetMax / frameWidth);
  const int mx = (view - frameWidth) / 2, my = (view - frameHeight) / 2;
  const size_t width = static_cast<size_t>(view * frames);
  std::vector<uint8_t> cells(width * static_cast<size_t>(view) * 4, 0);
  for (int f = 0; f < frames; ++f)
    for (int y = 0; y < frameHeight; ++y)
      for (int x = 0; x < frameWidth; ++x) {
        const uint8_t* from = sheet.At(f % columns * frameWidth + x, f / columns * frameHeight + y);
        const size_t to =
            (static_cast<size_t>(my + y) * width + static_cast<size_t>(f * view + mx + x)) * 4;
        std::copy(from, from + 4, cells.begin() + static_cast<std::ptrdiff_t>(to));
      }
  return cells;
}

// What check-sheet.js put into <pre id="result"> (tests/browser/run-check.mjs waits for
// it), or what went wrong on the way.
std::string RunPage(const TempRoot& tmp, const std::string& chromium, const std::string& check) {
  const std::string page = tmp / "page.html", dom = tmp / "dom.txt";
  std::ofstream(page) << "<!DOCTYPE html><html><body><pre id=\"result\">not run</pre>\n<script>"
                      << "window.CHECK = " << check << ";</script>\n<script src=\"file://" << Phaser
                      << "\"></script>\n<script src=\"file://" << BrowserDir
                      << "/check-sheet.js\"></script></body></html>\n";
  const std::string cmd = "timeout 300 node " + Quote(BrowserDir + "/run-check.mjs") + " " +
                          Quote(chromium) + " " + Quote(page) + " >" + Quote(dom) + " 2>" +
                          Quote(tmp / "driver.err") + " </dev/null";
  if (std::system(cmd.c_str()) != 0) {
    const std::vector<uint8_t> err = ReadBytes(tmp / "driver.err");
    return "the browser failed: " + std::string(err.begin(), err.end());
  }
  std::vector<uint8_t> bytes = ReadBytes(dom);
  while (!bytes.empty() && bytes.back() == '\n')
    bytes.pop_back();
  return std::string(bytes.begin(), bytes.end());
}
TEST(BrowserClient, PhaserDrawsEveryFrameWhereTheAtlasSays) {
  const std::string chromium = ChromiumPath();
  if (chromium.empty() || std::system("node --version >/dev/null 2>&1") != 0 ||
      !std::filesystem::exists(Phaser) || !std::filesystem::exists(Driver))
    GTEST_SKIP() << "needs Debian's chromium and nodejs, and Phaser and puppeteer-core in "
                 << BrowserDir << "/node_modules (scripts/bootstrap.sh installs them all)";
  TempRoot tmp("browser");
  const std::string out = tmp / "out", dump = tmp / "dump";
  constexpr int sheetMax = 400, angle = 1, view = 400;
  const CliRun r = Cli(tmp, "render units/tank --root " + Quote(ExamplesRoot()) +
                                " --format png --maps depth,mask,normal --sheet-max " +
                                std::to_string(sheetMax) + " --quiet --out " + Quote(out) +
                                " --dump-sheets " + Quote(dump));
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string stem = out + "/units/tank_" + std::to_string(angle);
  const TRGBAPicture sheet = ReadSheet(stem + ".png");
  const TRGBAPicture planes =
      ReadSheet(dump + "/units/tank_" + std::to_string(angle) + ".colour.png");
  ASSERT_GT(sheet.Width, 0);
  constexpr int frames = 3;
  const int frameWidth = planes.Width / frames, frameHeight = planes.Height;
  ASSERT_LT(sheet.Width, frames * frameWidth) << "the test wants frames on more than one row";
  const std::vector<uint8_t> cells =
      ExpectedCells(sheet, frameWidth, frameHeight, frames, sheetMax, view);
  const std::string expected = "data:image/png;base64," +
                               Base64(EncodePNG("expected", view * frames, view, 4, cells.data()));
  const nlohmann::json atlas = ReadJSON(stem + ".json");
  ASSERT_TRUE(atlas.is_object());

  const std::string second = "tank/1/0002";
  struct Case {
    const char* What;
    std::function<void(nlohmann::json&)> Change;
    bool Same;
  };
  const Case cases[] = {
      {"as written", [](nlohmann::json&) {}, true},
      {"a rectangle one pixel right",
       [&](nlohmann::json& a) {
         a["frames"][second]["frame"]["x"] = a["frames"][second]["frame"]["x"].get<int>() + 1;
       },
       false},
      {"the trim one pixel down",
       [&](nlohmann::json& a) {
         a["frames"][second]["spriteSourceSize"]["y"] =
             a["frames"][second]["spriteSourceSize"]["y"].get<int>() + 1;
       },
       false},
      {"the pivot one pixel left",
       [&](nlohmann::json& a) {
         for (const char* key : {"pivot", "anchor"})
           a["frames"][second][key]["x"] = 0.5 - 1.0 / view;
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    nlohmann::json changed = atlas;
    c.Change(changed);
    const nlohmann::json check = {
        {"sheet", "data:image/png;base64," + Base64(ReadBytes(stem + ".png"))},
        {"atlas", changed},
        {"expected", expected},
        {"animation", "tank/1"},
        {"cellWidth", view},
        {"cellHeight", view},
        {"cells", frames}};
    const std::string result = RunPage(tmp, chromium, check.dump());
    if (c.Same)
      EXPECT_EQ(result, "ok 3 frames");
    else
      EXPECT_EQ(result.rfind("fail: ", 0), 0u) << result;
  }
}

} // namespace
} // namespace quarvel::test
