// Inputs written by an attacker, through the whole program: files outside the root,
// special files, texture bombs, and `info` agreeing with `render` on what a texture does.
#include "CliRun.h"

#include "image/Image.h"
#include "support/TestSystem.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

using quarvel::test::BoxMTL;
using quarvel::test::BoxOBJ;
using quarvel::test::TempRoot;
namespace fs = std::filesystem;
using quarvel::test::Cli;
using quarvel::test::CliRun;
using quarvel::test::Has;
using quarvel::test::HasDeviceFiles;
using quarvel::test::HasSymbolicLinks;
using quarvel::test::Quote;

namespace {

bool HasControlByte(const std::string& text) {
  for (const char c : text)
    if ((static_cast<unsigned char>(c) < 32 && c != '\n') || c == 127)
      return true;
  return false;
}

// A job "job" below tmp/root drawing a textured box whose material names tex.png.
std::string MakeTexturedJob(const TempRoot& tmp, const std::string& settingsTail = "") {
  const std::string root = tmp / "root";
  tmp.Write("root/box.obj", BoxOBJ(2.0f, 1.0f, 1.5f, true));
  tmp.Write("root/box.mtl", BoxMTL() + "newmtl extra\nmap_Kd tex.png\n");
  tmp.Write("root/job.settings", "angle 0 0\nframe 1 box.obj\n" + settingsTail);
  return root;
}

} // namespace

TEST(HostileInput, IncludesOutsideTheRootAreRefusedAndLiftedOnlyByTheOption) {
  TempRoot tmp("hostile");
  const std::string root = MakeTexturedJob(tmp);
  tmp.Write("shared/angles.txt", "angle 1 90\n");
  if (HasSymbolicLinks)
    fs::create_symlink("/etc/passwd", root + "/passwd.txt");
  struct Case {
    std::string include;
    std::string refusal;
    bool link = false; // the case needs the symbolic link above
  } cases[] = {
      {"../../etc/passwd", "job.settings:3: ../../etc/passwd is outside the root folder " + root},
      {"/etc/hostname", "job.settings:3: /etc/hostname is outside the root folder " + root},
      {"passwd.txt",
       "job.settings:3: passwd.txt is outside the root folder " + root +
           " (it leads to /etc/passwd",
       true},
      {"../shared/angles.txt", "job.settings:3: ../shared/angles.txt is outside the root folder"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.include);
    if (c.link && !HasSymbolicLinks)
      continue;
    tmp.Write("root/job.settings", "angle 0 0\nframe 1 box.obj\ninclude " + c.include + "\n");
    for (const std::string& command :
         std::vector<std::string>{"render job -q --out " + Quote(tmp / "out"), "info job job"}) {
      const CliRun r = Cli(tmp, command + " --root " + Quote(root));
      EXPECT_EQ(r.status, 1) << command;
      EXPECT_TRUE(Has(r.err, c.refusal)) << r.err;
      EXPECT_FALSE(Has(r.err + r.out, "root:x:0")) << "nothing of the file comes back";
    }
  }
  // Lifted: the shared folder next to the root is read, also by the workers of --jobs.
  tmp.Write("root/job2.settings", "angle 0 0\nframe 1 box.obj\n");
  const CliRun r = Cli(tmp, "render job job2 --jobs 2 --allow-outside-root --out " +
                                Quote(tmp / "out") + " --root " + Quote(root));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(tmp / "out/job_1.kxz")) << "the included angle was applied";
}

TEST(HostileInput, SpecialFilesAreRefusedAtOnce) {
  if (!HasDeviceFiles || !HasSymbolicLinks)
    GTEST_SKIP() << "needs /dev/zero reached through a symbolic link";
  TempRoot tmp("hostile");
  const std::string root = MakeTexturedJob(tmp);
  fs::create_symlink("/dev/zero", root + "/zero.txt");
  fs::create_symlink("/dev/zero", tmp / "zero.2p5d");
  tmp.Write("root/job.settings", "angle 0 0\nframe 1 box.obj\ninclude /dev/zero\n");
  const CliRun include = Cli(tmp, "render job -q --allow-outside-root --out " + Quote(tmp / "out") +
                                      " --root " + Quote(root));
  EXPECT_EQ(include.status, 1);
  EXPECT_TRUE(Has(include.err, "job.settings:3: /dev/zero: is not a regular file")) << include.err;
  const CliRun view = Cli(tmp, "view " + Quote(tmp / "zero.2p5d"));
  EXPECT_EQ(view.status, 1);
  EXPECT_TRUE(Has(view.err, "zero.2p5d: is not a regular file")) << view.err;
}

TEST(HostileInput, InfoAndRenderAgreeOnTexturesThatCannotBeUsed) {
  TempRoot tmp("hostile");
  struct Case {
    std::string bytes;   // of root/tex.png; "" = no file
    std::string warning; // the job warning both give
  } cases[] = {
      {"", "texture 'tex.png' not found: no tex.png, .bmp or .jpg; drawn without texture"},
      {"\x89PNG\r\n\x1a\n\0\0\0\rIHDR", "texture tex.png cannot be used: PNG file is truncated"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.warning);
    const std::string root = MakeTexturedJob(tmp);
    fs::remove(root + "/tex.png");
    if (!c.bytes.empty())
      tmp.Write("root/tex.png", c.bytes);
    const CliRun info = Cli(tmp, "info job job --root " + Quote(root));
    const CliRun render =
        Cli(tmp, "render job --out " + Quote(tmp / "out") + " --root " + Quote(root));
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(render.status, 0) << "the model renders, untextured: " << render.err;
    EXPECT_TRUE(Has(info.out, "warnings: 1\n")) << info.out;
    // The same located warning, naming the model and the path looked for.
    const size_t at = info.out.find("warnings: 1\n  ");
    ASSERT_NE(at, std::string::npos);
    const std::string warning = info.out.substr(at + 14, info.out.find('\n', at + 14) - at - 14);
    EXPECT_TRUE(Has(warning, c.warning)) << warning;
    EXPECT_TRUE(Has(warning, "(model box.obj)")) << warning;
    EXPECT_TRUE(Has(render.err, "warning: " + warning)) << render.err;
  }
}

TEST(HostileInput, ATextureBombIsRefusedFromItsHeader) {
  TempRoot tmp("hostile");
  const std::string root = MakeTexturedJob(tmp);
  // The header alone claims 16000 x 16000 pixels (732 MiB decoded); the data never comes.
  const std::string png("\x89\x50\x4e\x47\x0d\x0a\x1a\x0a\x00\x00\x00\x0d\x49\x48\x44\x52"
                        "\x00\x00\x3e\x80\x00\x00\x3e\x80\x08\x02\x00\x00\x00\xce\x1c\x48"
                        "\x89\x00\x00\x00\x04\x49\x44\x41\x54\x78\x9c\x03\x00\x9b\x8c\x7d"
                        "\x23",
                        49);
  tmp.Write("root/tex.png", png);
  const CliRun r = Cli(tmp, "render job --out " + Quote(tmp / "out") + " --root " + Quote(root));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r.err, "image is 16000 x 16000 pixels (256000000), more than the 67108864 "
                         "pixels a picture may have (--max-texture-pixels raises the limit)"))
      << r.err;
  EXPECT_FALSE(HasControlByte(r.err)) << r.err;
}

// A shared folder can hold files named with ESC and bytes that are not UTF-8, and models
// whose group names hold them: every command shows them escaped, never raw.
TEST(HostileInput, NamesFromASharedFolderReachTheTerminalEscaped) {
  if (!quarvel::test::HasAnyByteNames)
    GTEST_SKIP() << "this system's file names cannot hold the bytes this case is about";
  TempRoot tmp("hostile");
  const std::string root = MakeTexturedJob(tmp);
  tmp.Write("root/tex.png", "not a picture");
  tmp.Write("root/box.obj", "g grp\x7f\xe9\n" + BoxOBJ(2.0f, 1.0f, 1.5f, true));
  tmp.Write("root/red\x1b[31m\xe9.settings", "angle 0 0\nframe 1 missing\x7f.obj\n");
  const std::string inRoot = " --root " + Quote(root);
  const std::vector<std::string> commands = {
      "render --all --progress plain --out " + Quote(tmp / "out") + inRoot,
      "list --all" + inRoot,
      "info model box.obj" + inRoot,
      "info job job" + inRoot,
  };
  for (const std::string& command : commands) {
    SCOPED_TRACE(command);
    const CliRun r = Cli(tmp, command);
    EXPECT_FALSE(HasControlByte(r.out + r.err)) << r.out << r.err;
    EXPECT_FALSE(Has(r.out + r.err, "\xe9")) << r.out << r.err;
  }
  const CliRun list = Cli(tmp, "list --all" + inRoot);
  EXPECT_TRUE(Has(list.out, "red\\x1b[31m\\xe9\n")) << list.out;
  const CliRun render = Cli(tmp, "render --all -q --out " + Quote(tmp / "out") + inRoot);
  EXPECT_EQ(render.status, 1);
  EXPECT_TRUE(Has(render.err, "red\\x1b[31m\\xe9.settings:2: model missing\\x7f.obj not found"))
      << render.err;
  const CliRun info = Cli(tmp, "info model box.obj" + inRoot);
  EXPECT_TRUE(Has(info.out, "  grp\\x7f\\xe9: 6 faces")) << info.out;
}

// Sprite files whose whole frames make pictures far larger than the file: a 41-byte
// container of two 1 x 1 crops at (-5700, -5700) and (5699, 5699), whose inferred frame
// is 11400 pixels square, and a sheet over --max-pixels are shown as their crops.
TEST(HostileInput, ViewCostsWhatTheFileHolds) {
  TempRoot tmp("hostile");
  tmp.Write("far.kxz", std::string("\xFFKXX\0\0X\x02\0\x04\0\xBC\xE9\xBC\xE9\x01\0\x01\0\x02\0\0\0"
                                   "\xC1\x05\x04\0\x43\x16\x43\x16\x01\0\x01\0\x02\0\0\0\xC1\x07",
                                   41));
  tmp.Write("far.p16", std::string(512, '\0'));
  std::string sheet = std::string("\x08\0\0\0\x03\0\0\0\x04\0\0\0", 12) + std::string(1072, '\0');
  sheet[12 + 24 + 1] = sheet[12 + 24 + 14] = 1; // two 4 x 3 frames, a pixel in each
  tmp.Write("two.2p5d", sheet);
  const std::pair<std::string, std::string> cases[] = {
      // the arguments, what view says
      {"far.kxz", "far.kxz: sprite container, mode 'X', 2 frames of 11400 x 11400 pixels"},
      {"far.kxz", "  the whole frames make a 22800 x 11400 picture, more than --max-pixels "
                  "67108864: the pictures show each frame's crop side by side (2 x 1; "
                  "--max-pixels 259920000 shows the whole frames)\nwrote far.kxz.png (2 x 1,"},
      {"two.2p5d --max-pixels 23", "more than --max-pixels 23: the pictures show each frame's "
                                   "crop side by side (2 x 1;"},
      {"far.kxz --max-pixels 1", "far.kxz: the whole frames make a 22800 x 11400 picture, more "
                                 "than --max-pixels 1, and their crops side by side a 2 x 1 one; "
                                 "nothing written (--max-pixels 2 shows the crops)"},
  };
  for (const auto& [args, message] : cases) {
    const CliRun r = Cli(tmp, "view " + args, tmp.str());
    EXPECT_EQ(r.status, Has(message, "nothing written") ? 1 : 0) << r.err;
    EXPECT_TRUE(Has(r.out + r.err, message)) << r.out << r.err;
  }
}
