// What quarvel-cli tells its user: progress that suits where it goes, exit statuses, hints
// for a missing root, files that are not sprites, folders the scan cannot read, model
// names, and the count of warnings not shown.
#include "jobs/JobTestUtil.h"
#include "support/TestSystem.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

using quarvel::test::BoxMTL;
using quarvel::test::BoxOBJ;
using quarvel::test::FilesBelow;
using quarvel::test::TempRoot;

namespace {

struct TRun {
  int Status = -1;
  std::string Out;
  std::string Err;
  size_t Lines() const {
    return static_cast<size_t>(std::count(Out.begin(), Out.end(), '\n') +
                               std::count(Err.begin(), Err.end(), '\n'));
  }
};

std::string Quote(const std::string& s) {
  return "'" + s + "'";
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// quarvel-cli ARGS run in the folder `dir`, standard output and error kept apart.
TRun Cli(const TempRoot& /*tmp*/, const std::string& dir, const std::string& args) {
  const quarvel::test::TProgramRun run =
      quarvel::test::RunProgram(QUARVEL_CLI, quarvel::test::ShellWords(args), {}, dir);
  return {run.Status, run.Out, run.Err};
}

const std::string Examples = std::string(QUARVEL_SOURCE_DIR) + "/examples";

TEST(CliMessages, TheExampleRenderedToAFilePrintsFewLines) {
  TempRoot tmp("msg");
  const TRun r = Cli(tmp, tmp.str(), "render units/tank --root " + Quote(Examples) + " --out out");
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_LT(r.Lines(), 40u) << r.Out << r.Err;
  EXPECT_FALSE(Has(r.Out, "\r"));
  EXPECT_FALSE(Has(r.Out, "Loading OBJ [tank_idle.obj] 3/")) << r.Out;
  EXPECT_TRUE(Has(r.Out, "Loading OBJ [tank_idle.obj]\n")) << r.Out;
  EXPECT_EQ(FilesBelow(tmp / "out").size(), 8u);
}

TEST(CliMessages, ProgressOptionChoosesTheForm) {
  TempRoot tmp("msg");
  const std::string job = "render units/tank --root " + Quote(Examples) + " --out out --force ";
  struct TCase {
    const char* Option;
    bool Bar;       // "\r" redraws
    bool EveryStep; // every line count of the model
    bool Progress;  // any status text at all
  };
  for (const TCase& c :
       {TCase{"--progress=bar", true, true, true}, TCase{"--progress plain", false, false, true},
        TCase{"--progress=NONE", false, false, false}}) {
    SCOPED_TRACE(c.Option);
    const TRun r = Cli(tmp, tmp.str(), job + c.Option);
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(Has(r.Out, "\r"), c.Bar);
    // The model's 200 lines report 99 counts in all; plain lines show at most one per 10%.
    size_t counts = 0;
    for (size_t at = r.Out.find("OBJ [tank_idle.obj] "); at != std::string::npos;
         at = r.Out.find("OBJ [tank_idle.obj] ", at + 1))
      ++counts;
    if (c.EveryStep)
      EXPECT_GE(counts, 99u);
    else
      EXPECT_LE(counts, 10u);
    EXPECT_EQ(Has(r.Out, "Rendering OBJs"), c.Progress);
    EXPECT_TRUE(Has(r.Out, "wrote out/units/tank_3.p16\n")) << r.Out;
    EXPECT_TRUE(Has(r.Out, "1 of 1 job rendered\n")) << r.Out;
  }
  EXPECT_EQ(Cli(tmp, tmp.str(), job + "--progress=fancy").Status, 2);
}

TEST(CliMessages, ExitStatusSaysWhatWentWrong) {
  TempRoot tmp("msg");
  tmp.Write("models/box.mtl", BoxMTL());
  tmp.Write("models/box.obj", BoxOBJ(2.0f, 1.0f, 1.5f, true));
  tmp.Write("good.settings", "angle 0 0\nframe 1 models/box.obj\n");
  tmp.Write("bad.settings", "angle 0 0\n");
  const std::vector<std::pair<std::string, int>> cases = {
      {"render good --out out", 0},
      {"render bad --out out", 1},
      {"render good bad --out out", 1},
      {"render --bogus good", 2},
      {"render", 2},
      {"render good --all", 2},
      {"render good --jobs 0", 2},
      {"no-such-command", 2},
      {"", 2},
      {"--help", 0},
  };
  for (const auto& [args, status] : cases)
    EXPECT_EQ(Cli(tmp, tmp.str(), args).Status, status) << args;
  const TRun help = Cli(tmp, tmp.str(), "--help");
  for (const char* says : {"Exit status: 0 when everything succeeded", "1 when a job",
                           "2 when the command line was "
                           "wrong",
                           "3 when something failed that may pass on another try", "130 or 143"})
    EXPECT_TRUE(Has(help.Out, says)) << says << help.Out;
}

TEST(CliMessages, AJobNamedWithFoldersAndNoRootGetsAHint) {
  TempRoot tmp("msg");
  tmp.Write("proj/units/t.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  tmp.Write("proj/units/j.settings", "angle 0 0\nframe 1 units/t.obj\n");
  tmp.Write("proj/units/k.settings", "angle 0 0\ninclude common/a.txt\n");
  // The folder suggested is the nearest one below which the missing file exists, else
  // the settings file's own.
  const std::string hint = " not found below ./ (includes and models are looked up below the "
                           "root, now the current folder; did you mean --root ";
  struct TCase {
    std::string Args;
    std::string Message;
  };
  const std::vector<TCase> cases = {
      {"render proj/units/j.settings --out out",
       "proj/units/j.settings:2: model units/t.obj" + hint + "proj?)"},
      {"render proj/units/k.settings --out out",
       "proj/units/k.settings:2: include common/a.txt" + hint + "proj/units?)"},
      {"render proj/units/j proj/units/k --jobs 2 --out out",
       "proj/units/k.settings:2: include common/a.txt" + hint + "proj/units?)"},
      {"info job proj/units/j.settings",
       "proj/units/j.settings:2: model units/t.obj" + hint + "proj?)"},

      // With --root the user chose the root: no guess.
      {"render proj/units/j.settings --root . --out out",
       "proj/units/j.settings:2: model units/t.obj not found below ./ (paths are relative to "
       "--root)"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Args);
    const TRun r = Cli(tmp, tmp.str(), c.Args);
    EXPECT_EQ(r.Status, 1);
    EXPECT_TRUE(Has(r.Err, c.Message)) << r.Err;
  }
  EXPECT_EQ(Cli(tmp, tmp.str(), "render units/j --root proj --out out").Status, 0);

  // A settings file outside the current folder is refused before it is read, with a guess.
  tmp.Write("elsewhere/keep.txt", "");
  const TRun outside =
      Cli(tmp, tmp / "elsewhere", "render " + Quote(tmp / "proj/units/j.settings") + " --out out");
  EXPECT_EQ(outside.Status, 1);
  // (On Windows the refusal adds that the absolute name names a drive.)
  EXPECT_TRUE(Has(outside.Err, " is outside the root folder . (") &&
              Has(outside.Err, "inputs are read only from below the root, --allow-outside-root "
                               "lifts this) (the root is now the current folder; did you mean "
                               "--root " +
                                   tmp / "proj/units?)"))
      << outside.Err;
}

TEST(CliMessages, ViewSaysWhenAFileIsNoSpriteFile) {
  TempRoot tmp("msg");
  const std::string png = "\x89PNG\r\n\x1a\n" + std::string(40, '\0');
  tmp.Write("a.kxz.png", png);
  tmp.Write("b.kxz", png);
  tmp.Write("c.p16", std::string(512, '\0'));
  tmp.Write("d.bin", "");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"a.kxz.png", "quarvel-cli: a.kxz.png is not a KXZ container (it starts with 89 50 4E 47, a "
                    "PNG picture, and a container starts with FF 4B) nor a 2P5D sheet ("},
      {"b.kxz", "quarvel-cli: b.kxz is not a KXZ container: it starts with 89 50 4E 47, a PNG "
                "picture, and a container starts with FF 4B\n"},
      {"c.p16", "quarvel-cli: c.p16 is a .p16 palette, not a sprite file: view the .kxz "
                "container that uses it"},
      {"d.bin", "quarvel-cli: d.bin is not a KXZ container (it is empty, and a container starts "
                "with FF 4B) nor a 2P5D sheet"},
  };
  for (const auto& [file, message] : cases) {
    const TRun r = Cli(tmp, tmp.str(), "view " + file);
    EXPECT_EQ(r.Status, 1) << file;
    EXPECT_EQ(r.Err.rfind(message, 0), 0u) << r.Err;
  }
}

TEST(CliMessages, AllNamesDanglingLinks) {
  if (!quarvel::test::HasSymbolicLinks)
    GTEST_SKIP() << "needs symbolic links";
  TempRoot tmp("msg");
  tmp.Write("models/box.mtl", BoxMTL());
  tmp.Write("models/box.obj", BoxOBJ(2.0f, 1.0f, 1.5f, true));
  tmp.Write("jobs/a.settings", "angle 0 0\nframe 1 models/box.obj\n");
  std::filesystem::create_symlink(tmp / "jobs/old.settings", tmp / "jobs/b.settings");
  const TRun r = Cli(tmp, tmp.str(), "render --all --root . --out out");
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_TRUE(Has(r.Err, "warning: ./jobs/b.settings: the link leads to " +
                             tmp / "jobs/old.settings" + ", which does not exist; left out\n"))
      << r.Err;
  EXPECT_TRUE(Has(r.Out, "1 of 1 job rendered")) << r.Out;

  // list takes the same jobs and says the same; its standard output stays names only.
  const TRun list = Cli(tmp, tmp.str(), "list --all --root .");
  EXPECT_EQ(list.Status, 0) << list.Err;
  EXPECT_EQ(list.Out, "jobs/a\n");
  EXPECT_TRUE(Has(list.Err, "warning: ./jobs/b.settings: the link leads to ")) << list.Err;
  const TRun json = Cli(tmp, tmp.str(), "list --all --root . --json");
  EXPECT_TRUE(Has(json.Out, "\"warnings\": [\n    \"./jobs/b.settings: the link leads to "))
      << json.Out;
}

TEST(CliMessages, InfoModelTakesTheNamesRenderTakes) {
  TempRoot tmp("msg");
  tmp.Write("proj/units/t.obj", "mtllib t.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  for (const std::string& name :
       {std::string("units/t"), std::string("units\\t"), std::string("units/t.obj"),
        std::string("proj/units/t.obj"), tmp / "proj/units/t.obj"}) {
    SCOPED_TRACE(name);
    const TRun r = Cli(tmp, tmp.str(), "info model " + Quote(name) + " --root proj");
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_TRUE(Has(r.Out, "Model: units/t.obj\n")) << r.Out;
    EXPECT_TRUE(Has(r.Out, "Groups: 1\n  Untitled: 1 face\n")) << r.Out;
    EXPECT_TRUE(Has(r.Out, "Warnings: 1\n  units/t.obj:1: material library proj/units/t.mtl not "
                           "found; faces use the default material\n"))
        << r.Out;
  }
}

TEST(CliMessages, WarningsBeyondTwentyAreCounted) {
  TempRoot tmp("msg");
  tmp.Write("models/box.mtl", BoxMTL());
  tmp.Write("models/box.obj", BoxOBJ(2.0f, 1.0f, 1.5f, true));
  std::string settings = "angle 0 0\nframe 1 models/box.obj\n";
  for (int i = 0; i < 25; ++i)
    settings += "colour " + std::to_string(i) + "\n";
  tmp.Write("w.settings", settings);
  tmp.Write("w2.settings", settings);
  for (const char* jobs : {"", " w2 --jobs 2"}) {
    SCOPED_TRACE(jobs);
    const TRun r = Cli(tmp, tmp.str(), std::string("render w --force --root . --out out") + jobs);
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), *jobs ? 42 : 21) << r.Err;
    EXPECT_TRUE(Has(r.Err, "'colour' is not a keyword; line ignored\n")) << r.Err;
    EXPECT_TRUE(Has(r.Err, "and 5 more warnings\n")) << r.Err;
  }
  const TRun info = Cli(tmp, tmp.str(), "info job w --root .");
  ASSERT_EQ(info.Status, 0) << info.Err;
  EXPECT_TRUE(Has(info.Out, "warnings: 25\n")) << info.Out;
  EXPECT_TRUE(Has(info.Out, "w.settings:22: 'colour' is not a keyword; line ignored\n  and 5 more "
                            "warnings\n"))
      << info.Out;
  EXPECT_FALSE(Has(info.Out, "w.settings:23:")) << info.Out;
}

} // namespace
