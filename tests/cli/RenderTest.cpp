// quarvel-cli render: progress lines, formats, dumps, several jobs and workers, refusals,
// outputs that cannot be written.
#include "jobs/JobTestUtil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

using quarvel::test::BoxMTL;
using quarvel::test::BoxOBJ;
using quarvel::test::FilesBelow;
using quarvel::test::TempRoot;

namespace {

struct CliRun {
  int status = -1;
  std::string out;
  std::string err;
  std::vector<std::string> OutLines() const {
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string l; std::getline(in, l);)
      lines.push_back(l);
    return lines;
  }
};

std::string Quote(const std::string& s) {
  return "'" + s + "'";
}

CliRun Cli(const TempRoot& tmp, const std::string& args) {
  const std::string out = tmp / "stdout.txt", err = tmp / "stderr.txt";
  const std::string cmd = std::string(QUARVEL_CLI) + " " + args + " >" + Quote(out) + " 2>" +
                          Quote(err) + " </dev/null";
  CliRun r;
  const int raw = std::system(cmd.c_str());
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  const auto o = quarvel::test::ReadBytes(out), e = quarvel::test::ReadBytes(err);
  r.out.assign(o.begin(), o.end());
  r.err.assign(e.begin(), e.end());
  return r;
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
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
  const auto lines = r.OutLines();
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
  if (::access(out.c_str(), W_OK) != 0) {
    r = Cli(tmp, args + " --format 2p5d");
    std::filesystem::permissions(out, std::filesystem::perms::owner_all);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "quarvel-cli: j: " + out + "/j_0.2p5d: cannot write file")) << r.err;
    EXPECT_EQ(outputs(), before);
  }
  std::filesystem::permissions(out, std::filesystem::perms::owner_all);
}
