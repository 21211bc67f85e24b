// quarvel-cli render: progress lines, formats, dumps, several jobs and workers, refusals,
// outputs that cannot be written.
#include "CliRun.h"
#include "gl/GLTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <sstream>

using quarvel::test::BoxMTL;
using quarvel::test::BoxOBJ;
using quarvel::test::Cli;
using quarvel::test::CliRun;
using quarvel::test::FilesBelow;
using quarvel::test::Has;
using quarvel::test::Quote;
using quarvel::test::TempRoot;

namespace {

// What render says first when this machine draws on a software rasteriser, else "".
std::string SoftwareNote() {
  quarvel::test::EnsureGLView();
  const quarvel::TGLDeviceChoice& choice = quarvel::GLDeviceReport().Choice;
  if (!choice.Software)
    return "";
  const std::string renderer = quarvel::TOGL::GLRenderer();
  return "drawing on " + renderer.substr(0, renderer.find(" (")) + " (software); " + choice.Reason;
}

void WriteModels(const TempRoot& root) {
  root.Write("models/box.mtl", BoxMTL());
  root.Write("models/box.obj", BoxOBJ(2.0f, 1.0f, 1.5f, true));
}

} // namespace

TEST(RenderCommand, ExampleRendersWithOneLinePerNewStatus) {
  TempRoot tmp("cli");
  const std::string out = tmp / "out";
  const CliRun r =
      Cli(tmp, "render units/tank --root " + Quote(std::string(QUARVEL_SOURCE_DIR) + "/examples") +
                   " --out " + Quote(out));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(FilesBelow(out),
            (std::vector<std::string>{"units/tank_0.kxz", "units/tank_0.p16", "units/tank_1.kxz",
                                      "units/tank_1.p16", "units/tank_2.kxz", "units/tank_2.p16",
                                      "units/tank_3.kxz", "units/tank_3.p16"}));
  auto lines = r.OutLines();
  ASSERT_FALSE(lines.empty());
  // On the software rasteriser one line says so, once, when the drawing starts.
  if (const std::string note = SoftwareNote(); note != "") {
    EXPECT_EQ(std::count(lines.begin(), lines.end(), note), 1) << r.out;
    lines.erase(std::remove(lines.begin(), lines.end(), note), lines.end());
  }
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "Loading");
  EXPECT_EQ(lines.back(), "1 of 1 job rendered");
  // Each status text once, however many views report it.
  for (const char* text :
       {"Finished Loading", "Rendering OBJs", "Rendering OBJs - Pass 1 (Visuals)",
        "Rendering OBJs - Pass 2 (ZBuffer)", "Rendering OBJs - Pass 3 (Side Colours)",
        "Removing Gaps", "Making 8 Bit Palette", "Saving as KXZ", "Saving as KXZs", "Finished!",
        "Loading OBJ Material [tank_walk2.obj]"})
    EXPECT_EQ(std::count(lines.begin(), lines.end(), text), 1) << text;
  EXPECT_NE(std::find(lines.begin(), lines.end(), "wrote " + out + "/units/tank_3.p16"),
            lines.end());
}

TEST(RenderCommand, FormatsDumpsPathsQuietAndWarnings) {
  TempRoot tmp("cli");
  WriteModels(tmp);
  tmp.Write("jobs/j.settings", "angle 0 0\nangle 1 90deg\nframe 1 models/box.obj\n");
  const std::string out = tmp / "out", dump = tmp / "dump";

  // A path ending in ".settings" names the job as the list would (jobs/j).
  CliRun r = Cli(tmp, "render " + Quote(tmp / "jobs/j.settings") + " --root " + Quote(tmp.str()) +
                          " --format 2P5D --out " + Quote(out) + " --dump-sheets " + Quote(dump) +
                          " --quiet");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(FilesBelow(out), (std::vector<std::string>{"jobs/j_0.2p5d", "jobs/j_1.2p5d"}));
  EXPECT_EQ(
      FilesBelow(dump),
      (std::vector<std::string>{"jobs/j_0.colour.png", "jobs/j_0.depth.png", "jobs/j_0.side.png",
                                "jobs/j_1.colour.png", "jobs/j_1.depth.png", "jobs/j_1.side.png"}));

  // Without --quiet the ignored number is reported on standard error with its place.
  r = Cli(tmp,
          "render " + Quote("jobs\\j") + " --root " + Quote(tmp.str()) + " --out " + Quote(out));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "warning: " + tmp / "jobs/j.settings" +
                       ":2: '90deg' is not a valid integer value; 0 degrees taken\n");
  EXPECT_TRUE(Has(r.out, "wrote " + out + "/jobs/j_1.kxz\n"));
}

TEST(RenderCommand, SeveralJobsInWorkersAFailureStopsNoOther) {
  TempRoot tmp("cli");
  WriteModels(tmp);
  tmp.Write("a.settings", "angle 0 0\nframe 1 models/box.obj\n");
  tmp.Write("sub/b.settings", "angle 0 45\nframe 1 models/box.obj\nframe 2 models/box.obj\n");
  tmp.Write("bad.settings", "angle 0 0\nframe 1 models/missing.obj\n");
  const std::string out = tmp / "out";

  CliRun r =
      Cli(tmp, "render a bad sub/b --jobs 2 --root " + Quote(tmp.str()) + " --out " + Quote(out));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(FilesBelow(out),
            (std::vector<std::string>{"a_0.kxz", "a_0.p16", "sub/b_0.kxz", "sub/b_0.p16"}));
  EXPECT_TRUE(Has(r.err, "quarvel-cli: bad: ")) << r.err;
  EXPECT_TRUE(Has(r.err, "missing.obj")) << r.err;
  EXPECT_TRUE(Has(r.err, "quarvel-cli: 2 of 3 jobs rendered; failed: bad\n")) << r.err;
  EXPECT_TRUE(Has(r.out, "sub/b: Rendering OBJs\n")) << r.out;

  // --all takes every settings file below the root, one after another.
  tmp.Write("bad.settings", "angle 0 0\nframe 1 models/box.obj\n");
  std::filesystem::remove_all(out);
  r = Cli(tmp,
          "render --all --root " + Quote(tmp.str()) + " --out " + Quote(out) + " --format 2p5d");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(FilesBelow(out), (std::vector<std::string>{"a_0.2p5d", "bad_0.2p5d", "sub/b_0.2p5d"}));
  EXPECT_TRUE(Has(r.out, "3 of 3 jobs rendered\n"));
}

TEST(RenderCommand, RefusedJobsExitNonZeroWithTheirMessageAndWriteNothing) {
  TempRoot tmp("cli");
  WriteModels(tmp);
  const std::string root = tmp.str();
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"frame 1 models/box.obj\n", "the job has no angle"},
      {"angle 0 0\n", "the job has no frame"},
      {"angle 0 0\nframe 1 models/box.obj\nscale 0\n", "nothing was drawn"},
      {"angle 0 0\ninclude c.txt\n",
       "include cycle: " + root + "/r.settings -> " + root + "/c.txt -> " + root + "/r.settings"},
      {"angle 0 0\nframe 0 models/box.obj\n", "r.settings:2: frame number 0 is below 1"},
      {"angle -2 0\nframe 1 models/box.obj\n", "r.settings:1: angle slot -2 is negative"},
  };
  tmp.Write("c.txt", "include r.settings\n");
  for (const auto& [text, message] : cases) {
    SCOPED_TRACE(message);
    tmp.Write("r.settings", text);
    const CliRun r = Cli(tmp, "render r --root " + Quote(root) + " --out " + Quote(tmp / "out") +
                                  " --dump-sheets " + Quote(tmp / "dump"));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "quarvel-cli: r: ")) << r.err;
    EXPECT_TRUE(Has(r.err, message)) << r.err;
    EXPECT_TRUE(FilesBelow(tmp / "out").empty());
    EXPECT_TRUE(FilesBelow(tmp / "dump").empty());
  }
  const CliRun none = Cli(tmp, "render --root " + Quote(root));
  EXPECT_EQ(none.status, 2); // a command line that was wrong
  EXPECT_TRUE(Has(none.err, "name at least one settings file, or use --all")) << none.err;
}

TEST(RenderCommand, AnOutputThatCannotBeWrittenKeepsTheWholeOldSet) {
  TempRoot tmp("cli");
  WriteModels(tmp);
  tmp.Write("j.settings", "angle 0 0\nangle 1 90\nframe 1 models/box.obj\n");
  const std::string out = tmp / "out";
  const std::string args = "render j --root " + Quote(tmp.str()) + " --out " + Quote(out);
  ASSERT_EQ(Cli(tmp, args).status, 0);
  auto outputs = [&] {
    std::map<std::string, std::vector<uint8_t>> files;
    for (const std::string& f : FilesBelow(out))
      files[f] = quarvel::test::ReadBytes(out + "/" + f);
    return files;
  };
  // A different model: every file of a render that got through would change.
  tmp.Write("models/box.obj", BoxOBJ(1.0f, 2.0f, 1.0f, false));

  // The last angle's name is taken by a folder: not even the first angle is replaced.
  std::filesystem::remove(out + "/j_1.kxz");
  std::filesystem::create_directories(out + "/j_1.kxz/inside");
  auto before = outputs();
  CliRun r = Cli(tmp, args);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r.err, "quarvel-cli: j: " + out + "/j_1.kxz: ")) << r.err;
  EXPECT_TRUE(Has(r.err, "a folder has that name")) << r.err;
  EXPECT_TRUE(Has(r.err, "0 of 1 job rendered; failed: j")) << r.err;
  EXPECT_FALSE(Has(r.out, "wrote ")) << r.out;
  EXPECT_EQ(outputs(), before); // temporaries would show up here
  EXPECT_TRUE(std::filesystem::is_directory(out + "/j_1.kxz/inside"));

  // A read-only output folder (where permissions hold: not for root).
  std::filesystem::remove_all(out + "/j_1.kxz");
  ASSERT_EQ(Cli(tmp, args).status, 0);
  before = outputs();
  std::filesystem::permissions(out, std::filesystem::perms::owner_read |
                                        std::filesystem::perms::owner_exec);
  const bool readOnly = !std::ofstream(out + "/.probe").good();
  std::filesystem::remove(out + "/.probe");
  if (readOnly) {
    r = Cli(tmp, args + " --format 2p5d");
    std::filesystem::permissions(out, std::filesystem::perms::owner_all);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "quarvel-cli: j: " + out + "/j_0.2p5d: cannot write file")) << r.err;
    EXPECT_EQ(outputs(), before);
  }
  std::filesystem::permissions(out, std::filesystem::perms::owner_all);
}

TEST(RenderOutputs, TheFormsOfOneNameAreRenderedOnce) {
  TempRoot tmp("cli");
  WriteModels(tmp);
  tmp.Write("units/tank.settings", "angle 0 0\nframe 1 models/box.obj\n");
  const std::string out = tmp / "out";
  for (const char* jobs : {"1", "4"}) {
    SCOPED_TRACE(jobs);
    const CliRun r = Cli(tmp, "render units/tank units/tank.settings ./units/tank units//tank " +
                                  Quote("units\\tank") + " units/x/../tank --force --jobs " + jobs +
                                  " --root " + Quote(tmp.str()) + " --out " + Quote(out));
    EXPECT_EQ(r.status, 0) << r.err;
    const auto lines = r.OutLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "wrote " + out + "/units/tank_0.kxz"), 1)
        << r.out;
    EXPECT_EQ(lines.back(), "1 of 1 job rendered");
    EXPECT_EQ(FilesBelow(out), (std::vector<std::string>{"units/tank_0.kxz", "units/tank_0.p16"}));
  }
}

TEST(RenderOutputs, WithOutEveryFileLandsInsideItAndANameThatClimbsOutIsRefused) {
  // The root is tmp/root; "other" lies beside it. Each case runs from tmp/`from`.
  TempRoot tmp("cli");
  for (const char* dir : {"root", "other"}) {
    tmp.Write(std::string(dir) + "/models/box.mtl", BoxMTL());
    tmp.Write(std::string(dir) + "/models/box.obj", BoxOBJ(2.0f, 1.0f, 1.5f, true));
    tmp.Write(std::string(dir) + "/x.settings", "angle 0 0\nframe 1 models/box.obj\n");
  }
  tmp.Write("root/sub/y.settings", "angle 0 0\nframe 1 models/box.obj\n");
  struct TCase {
    std::string From, Name;
    std::string Written; // below out, or "" when refused
  };
  const std::vector<TCase> cases = {
      {"root", "x", "x_0.kxz"},
      {"root", "sub/../x", "x_0.kxz"},
      {"tmp", "root/sub/y.settings", "sub/y_0.kxz"}, // a path to a file below the root
      {"root", "../other/x", ""},
      {"root", "sub/../../other/x", ""},
      {"tmp", "other/x.settings", ""}, // outside the root: named "../other/x"
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::filesystem::remove_all(tmp / "out");
    const std::string from = c.From == "tmp" ? tmp.str() : tmp / c.From;
    const CliRun r = Cli(tmp,
                         "render " + Quote(c.Name) + " --root " + Quote(tmp / "root") + " --out " +
                             Quote(tmp / "out"),
                         from);
    if (!c.Written.empty()) {
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(FilesBelow(tmp / "out").front(), c.Written);
    } else {
      EXPECT_EQ(r.status, 1);
      // Refused for its output name, or (where reading outside the root is refused) for its
      // settings file: either way for being outside.
      EXPECT_TRUE(Has(r.err, "outside")) << r.err;
      EXPECT_TRUE(FilesBelow(tmp / "out").empty());
    }
    // Nothing beside the settings files.
    EXPECT_EQ(FilesBelow(tmp / "other"),
              (std::vector<std::string>{"models/box.mtl", "models/box.obj", "x.settings"}));
  }
}

TEST(RenderOutputs, AnOutputFolderThatCannotBeWrittenFailsBeforeAnythingIsDrawn) {
  TempRoot tmp("cli");
  WriteModels(tmp);
  tmp.Write("units/j.settings", "angle 0 0\nangle 1 90\nframe 1 models/box.obj\n");
  tmp.Write("units/j2.settings", "angle 0 0\nframe 1 models/box.obj\n");
  tmp.Write("afile", "x");
  tmp.Write("out2/units", "x");
  std::filesystem::create_directories(tmp / "out3/units/j_1.kxz");
  struct TCase {
    std::string Out, Error;
  };
  const std::vector<TCase> cases = {
      {tmp / "afile", "quarvel-cli: --out " + tmp / "afile" + ": that file is in the way"},
      {tmp / "out2", "quarvel-cli: units/j: " + tmp / "out2/units/j_0.kxz" +
                         ": cannot write file: " + tmp / "out2/units" + " is a file in the way"},
      {tmp / "out3", "quarvel-cli: units/j: " + tmp / "out3/units/j_1.kxz" +
                         ": cannot write file: a folder has that name"},
  };
  for (const TCase& c : cases) {
    for (const char* jobs : {"1", "2"}) {
      SCOPED_TRACE(c.Out + " --jobs " + jobs);
      // Two jobs, so that --jobs 2 really uses workers.
      const CliRun r = Cli(tmp, "render units/j units/j2 --jobs " + std::string(jobs) + " --root " +
                                    Quote(tmp.str()) + " --out " + Quote(c.Out));
      EXPECT_EQ(r.status, 1);
      EXPECT_TRUE(Has(r.err, c.Error)) << r.err;
      EXPECT_FALSE(Has(r.out, "units/j: Rendering OBJs")) << r.out;
      EXPECT_FALSE(Has(r.out, "wrote " + c.Out + "/units/j_")) << r.out;
    }
  }
  // The other job is not held up: only the folder in the way of j's second angle matters.
  EXPECT_EQ(FilesBelow(tmp / "out3"),
            (std::vector<std::string>{"units/j2_0.kxz", "units/j2_0.p16"}));
}

TEST(RenderOutputs, FilesOfAnEarlierRenderWithMoreAnglesAreNamedAndKept) {
  TempRoot tmp("cli");
  WriteModels(tmp);
  const std::string out = tmp / "out";
  const std::string args = "render units/tank --root " + Quote(tmp.str()) + " --out " + Quote(out);
  const std::string settings = tmp / "units/tank.settings";
  struct TCase {
    int Before, After;
    std::string Format, Warning; // "" = none
  };
  const std::vector<TCase> cases = {
      {4, 2, "kxz",
       "warning: " + settings +
           ": 4 files left by an earlier render with more angles were not replaced (this job "
           "has 2 angles): " +
           out + "/units/tank_2.kxz, " + out + "/units/tank_2.p16, " + out + "/units/tank_3.kxz, " +
           out + "/units/tank_3.p16; remove them if no longer wanted\n"},
      {2, 1, "2p5d",
       "warning: " + settings +
           ": a file left by an earlier render with more angles was not replaced (this job has 1 "
           "angle): " +
           out + "/units/tank_1.2p5d; remove it if no longer wanted\n"},
      {2, 2, "kxz", ""},
  };
  auto job = [](int angles) {
    std::string text;
    for (int a = 0; a < angles; ++a)
      text += "angle " + std::to_string(a) + " " + std::to_string(a * 90) + "\n";
    return text + "frame 1 models/box.obj\n";
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.Before) + " -> " + std::to_string(c.After));
    std::filesystem::remove_all(out);
    tmp.Write("units/tank.settings", job(c.Before));
    ASSERT_EQ(Cli(tmp, args + " --format " + c.Format).status, 0);
    const auto before = FilesBelow(out);
    // Without the manifest of the earlier render (an older version wrote it, or it was
    // lost), nothing says which files were its own: they are named, not removed.
    std::filesystem::remove(out + "/units/.tank.manifest");
    tmp.Write("units/tank.settings", job(c.After));
    const CliRun r = Cli(tmp, args + " --format " + c.Format);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, c.Warning);
    EXPECT_EQ(FilesBelow(out), before); // nothing removed
  }
}

TEST(RenderCommand, TheRendererIsNamedOnceAndItsChoiceReachesWorkers) {
  TempRoot tmp("cli");
  WriteModels(tmp);
  tmp.Write("a.settings", "angle 0 0\nframe 1 models/box.obj\n");
  tmp.Write("b.settings", "angle 0 45\nframe 1 models/box.obj\n");
  const std::string note = SoftwareNote();
  if (note.empty())
    GTEST_SKIP() << "this machine draws on a hardware renderer";
  EXPECT_EQ(note, "drawing on llvmpipe (software); no hardware OpenGL device was found");
  // --force: a job that is up to date draws nothing, and so names no renderer.
  const std::string common = " --force --root " + Quote(tmp.str()) + " --out " + Quote(tmp / "out");
  for (const char* jobs : {"", " --jobs 2"}) {
    CliRun r = Cli(tmp, std::string("render a b") + jobs + common);
    ASSERT_EQ(r.status, 0) << jobs << ": " << r.err;
    const auto lines = r.OutLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), note), 1) << jobs << ": " << r.out;
    EXPECT_EQ(r.err, "") << jobs;

    r = Cli(tmp, std::string("render a b --quiet") + jobs + common);
    EXPECT_EQ(r.status, 0) << jobs << ": " << r.err;
    EXPECT_EQ(r.out, "") << jobs;

    // Asked for software, it is said with that reason.
    r = Cli(tmp, std::string("render a b --renderer SOFTWARE") + jobs + common);
    EXPECT_EQ(r.status, 0) << jobs << ": " << r.err;
    EXPECT_TRUE(Has(r.out, "(software); the first software renderer, as --renderer software "
                           "asks\n"))
        << jobs << ": " << r.out;

    // Without a hardware renderer, --renderer hardware fails every job, in workers too,
    // as a failure of the machine (another one may have the renderer).
    r = Cli(tmp, std::string("render a b --renderer hardware") + jobs + common);
    EXPECT_EQ(r.status, 3) << jobs;
    EXPECT_TRUE(Has(r.err, "quarvel-cli: a: Cannot create the OpenGL view: no hardware OpenGL "
                           "device was found"))
        << jobs << ": " << r.err;
    EXPECT_TRUE(Has(r.err, "0 of 2 jobs rendered")) << jobs << ": " << r.err;

    // A device number that does not exist is passed on as well.
    r = Cli(tmp, std::string("render a b --gl-device 42") + jobs + common);
    EXPECT_EQ(r.status, 3) << jobs;
    EXPECT_TRUE(Has(r.err, "there is no OpenGL device 42")) << jobs << ": " << r.err;
  }
}
