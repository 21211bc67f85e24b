// A real client reads the PNG sheets: Phaser in headless Chromium (tests/browser) draws
// every frame of a rendered animation from its sheet and atlas, and must get the frames
// where the view had them; with a rectangle, the trim or the pivot one pixel off it must
// not.
#include "cli/CliRun.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>

namespace quarvel::test {
namespace {

TEST(BrowserClient, PhaserDrawsEveryFrameWhereTheAtlasSays) {
  const std::string browser = std::string(QUARVEL_SOURCE_DIR) + "/tests/browser";
  if (!std::filesystem::exists("/usr/bin/chromium") || std::system("node -v >/dev/null") != 0 ||
      !std::filesystem::exists(browser + "/node_modules/puppeteer-core/package.json"))
    GTEST_SKIP() << "needs chromium, nodejs and " << browser << "/node_modules (bootstrap.sh)";
  TempRoot tmp("browser");
  const CliRun r = Cli(tmp, "render units/tank --root " + Quote(QUARVEL_SOURCE_DIR "/examples") +
                                " --format png --sheet-max 400 --quiet --out " +
                                Quote(tmp / "out") + " --dump-sheets " + Quote(tmp / "dump"));
  ASSERT_EQ(r.status, 0) << r.err;
  // The frame size from the dumped planes (the IHDR's width and height), not the atlas.
  const std::vector<uint8_t> dump = ReadBytes(tmp / "dump/units/tank_1.colour.png");
  ASSERT_GT(dump.size(), 24u);
  auto be32 = [&](size_t at) {
    return dump[at] << 24 | dump[at + 1] << 16 | dump[at + 2] << 8 | dump[at + 3];
  };
  const int frameWidth = be32(16) / 3, frameHeight = be32(20);
  std::ifstream in(tmp / "out/units/tank_1.json");
  const nlohmann::json atlas = nlohmann::json::parse(in);
  const std::string second = "/frames/tank~11~10002/";
  // The atlas as written, then with one number of the second frame a pixel off.
  const std::pair<const char*, int> cases[] = {
      {"", 0}, {"frame/x", 1}, {"spriteSourceSize/y", 1}, {"anchor/x", -1}};
  for (const auto& [field, by] : cases) {
    SCOPED_TRACE(field);
    nlohmann::json changed = atlas;
    if (by != 0) {
      nlohmann::json& value = changed[nlohmann::json::json_pointer(second + field)];
      value = value.is_number_integer() ? value.get<int>() + by : 0.5 + by / 400.0;
    }
    const nlohmann::json check = {{"sheet", "file://" + tmp / "out/units/tank_1.png"},
                                  {"atlas", changed},
                                  {"animation", "tank/1"},
                                  {"frameWidth", frameWidth},
                                  {"frameHeight", frameHeight},
                                  {"columns", 400 / frameWidth},
                                  {"view", 400}};
    std::ofstream(tmp / "page.html")
        << "<pre id=result></pre><script>window.CHECK = " << check << "</script><script src='"
        << browser << "/node_modules/phaser/dist/phaser.min.js'></script><script src='" << browser
        << "/check-sheet.js'></script>\n";
    const std::string command = "timeout 300 node " + Quote(browser + "/run-check.mjs") +
                                " /usr/bin/chromium " + Quote(tmp / "page.html") + " >" +
                                Quote(tmp / "verdict") + " 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const std::vector<uint8_t> verdict = ReadBytes(tmp / "verdict");
    EXPECT_EQ(std::string(verdict.begin(), verdict.end()).substr(0, 4), by == 0 ? "ok 3" : "fail");
  }
}

} // namespace
} // namespace quarvel::test
