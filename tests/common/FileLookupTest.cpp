#include "common/FileLookup.h"
#include "common/Error.h"

#include "TempFolder.h"
#include "platform/Platform.h"
#include "support/TestSystem.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;
using namespace quarvel;

namespace {

struct TempDir : test::TempFolder {
  TempDir() : TempFolder("lookup") {}
};

} // namespace

TEST(FileLookup, FindsPathsIgnoringCaseAndBackslashes) {
  TempDir dir;
  dir.Touch("Models/Tank.PNG", "png");
  const std::string root = dir.path.string();

  // The asset names a file with "\" and another letter case than the one on disk.
  auto found = FindPath(root + "\\models\\tank.png");
  ASSERT_TRUE(found.has_value());
  // The name on disk; where the system itself ignores case, the name as asked names it too.
  EXPECT_EQ(*found, root + (test::HasCaseDistinctNames ? "/Models/Tank.PNG" : "/models/tank.png"));
  EXPECT_TRUE(FileExists(root + "/MODELS/tank.png"));
  EXPECT_FALSE(FileExists(root + "/Models")); // a folder is not a file
  EXPECT_FALSE(FindPath(root + "/models/tank.bmp").has_value());
  // A name is whole or names nothing: the part before a NUL byte is not looked up.
  EXPECT_FALSE(FindPath(root + "/Models/Tank.PNG" + std::string(1, '\0') + "x").has_value());
  EXPECT_EQ(ResolvePath(root + "\\none\\x.png"), root + "/none/x.png");
  EXPECT_EQ(ReadWholeFile(root + "/models/TANK.png"), "png");
}

TEST(FileLookup, ExactNameWinsOverCaseInsensitiveMatch) {
  if (!test::HasCaseDistinctNames)
    GTEST_SKIP() << "names that differ only in case are one file on this system";
  TempDir dir;
  dir.Touch("a/Tex.png", "upper");
  dir.Touch("a/tex.png", "lower");
  dir.Touch("a/TEX.png", "all");
  const std::string root = dir.path.string();
  EXPECT_EQ(ReadWholeFile(root + "/a/tex.png"), "lower");
  // No exact match: the first in byte order ("TEX.png" < "Tex.png" < "tex.png").
  EXPECT_EQ(*FindPath(root + "/A/tEx.png"), root + "/a/TEX.png");
}

TEST(FileLookup, JoinAndErrors) {
  EXPECT_EQ(JoinPath("units", "tank.obj"), "units/tank.obj");
  EXPECT_EQ(JoinPath("units\\", "sub\\tank.obj"), "units/sub/tank.obj");
  EXPECT_EQ(JoinPath("", "tank.obj"), "tank.obj");
  try {
    ReadWholeFile("/nonexistent-quarvel/missing.obj");
    FAIL() << "expected an error";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("/nonexistent-quarvel/missing.obj"), std::string::npos);
  }
}

// ---- The root rule ----------------------------------------------------------------------

namespace {

// Lifts the root rule for one test and puts it back whatever happens.
struct OutsideAllowed {
  OutsideAllowed() { SetOutsideRootAllowed(true); }
  ~OutsideAllowed() { SetOutsideRootAllowed(false); }
};

std::string RefusalOf(const std::string& root, const std::string& name) {
  try {
    ResolveInRoot(root, name);
  } catch (const OutsideRoot& e) {
    return e.what();
  }
  return "";
}

} // namespace

// The names by which Windows reads from elsewhere than below the root, which its build's
// root rule refuses.
TEST(RootRule, WindowsWaysOut) {
  const char *drive = "a drive", *device = "a device", *stream = "an alternate data stream";
  const struct {
    const char* Name;
    const char* Names; // nullptr: an ordinary name
  } cases[] = {
      {"C:/Users/x.obj", drive},       {"c:x.obj", drive},
      {"units/C:/Users/x.png", drive}, {"units/CON", device},
      {"units/nul.txt", device},       {"Com1.obj", device},
      {"units/lpt9 .mtl", device},     {"aux/tank.obj", device},
      {"units/t.obj:hidden", stream},  {"units/t.obj::$DATA", stream},
      {"units/console.obj", nullptr},  {"units/com10.obj", nullptr},
      {"units/nullify.obj", nullptr},  {"units/tank.obj", nullptr},
  };
  for (const auto& c : cases) {
    const char* why = WindowsWayOut(c.Name);
    EXPECT_EQ(why ? why : "", c.Names ? "on Windows it names " + std::string(c.Names) : "")
        << c.Name;
  }
}

TEST(RootRule, NamesBelowTheRootResolveAndEverythingElseIsRefused) {
  if (!test::HasSymbolicLinks)
    GTEST_SKIP() << "this system makes no symbolic links for a test";
  TempDir dir;
  dir.Touch("root/units/tank.settings", "angle 0 0");
  dir.Touch("secret.txt", "the secret");
  const std::string root = dir.path.string() + "/root";
  fs::create_symlink(dir.path / "secret.txt", root + "/passwd.txt");
  fs::create_symlink("/etc/passwd", root + "/etcpasswd.txt");
  fs::create_symlink("..", root + "/up");
  fs::create_symlink("units", root + "/alias");

  struct Case {
    const char* name;
    const char* found; // below root; "" = refused
  } cases[] = {
      {"units/tank.settings", "units/tank.settings"},
      {"UNITS\\Tank.SETTINGS", "units/tank.settings"},
      {"units/../units/tank.settings", "units/../units/tank.settings"},
      {"./units//tank.settings", "./units//tank.settings"},
      {"alias/tank.settings", "alias/tank.settings"}, // a link that stays inside
      {"units/missing.obj", "units/missing.obj"},     // not there: the open names it
      {"../secret.txt", ""},
      {"units/../../secret.txt", ""},
      {"..\\secret.txt", ""},
      {"../missing.txt", ""}, // refused without looking
      {"/etc/hostname", ""},
      {"passwd.txt", ""},    // a link inside the root to a file outside it
      {"etcpasswd.txt", ""}, // the shared-repository trick: passwd.txt -> /etc/passwd
      {"up/secret.txt", ""}, // a link to a folder outside
      // Windows' ways out are ordinary names here (see WindowsWayOut).
      {"units/nul.txt", "units/nul.txt"},
      {"units/a:b.obj", "units/a:b.obj"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string refusal = RefusalOf(root, c.name);
    if (*c.found == '\0') {
      EXPECT_NE(refusal.find(" is outside the root folder " + root + " ("), std::string::npos)
          << refusal;
      EXPECT_NE(refusal.find("--allow-outside-root"), std::string::npos) << refusal;
    } else {
      EXPECT_EQ(refusal, "");
      EXPECT_EQ(ResolveInRoot(root, c.name), root + "/" + c.found);
    }
  }
  // A refused link says where it leads; the name is the one the input wrote.
  EXPECT_EQ(RefusalOf(root, "etcpasswd.txt").rfind("etcpasswd.txt is outside", 0), 0u);
  EXPECT_NE(RefusalOf(root, "etcpasswd.txt").find("it leads to /etc/passwd"), std::string::npos);
  // The root given as "" or "." is the current folder.
  EXPECT_NE(RefusalOf("", "../x").find("outside the root folder . ("), std::string::npos);

  // Lifted, every name is looked up as before, absolute ones as they are.
  OutsideAllowed allowed;
  EXPECT_EQ(RefusalOf(root, "../secret.txt"), "");
  EXPECT_EQ(ReadWholeFile(ResolveInRoot(root, "passwd.txt")), "the secret");
  EXPECT_EQ(ResolveInRoot(root, "/etc/hostname"), "/etc/hostname");
}

TEST(RootRule, RefusedNamesAreQuotedEscapedAndCut) {
  TempDir dir;
  const std::string refusal = RefusalOf(dir.str(), "/\x1b[31m" + std::string(5000, 'a'));
  EXPECT_EQ(refusal.find('\x1b'), std::string::npos);
  EXPECT_NE(refusal.find("/\\x1b[31maaa"), std::string::npos);
  EXPECT_LT(refusal.size(), 400u) << refusal;
}

TEST(ReadWholeFile, ReadsOnlyRegularFilesWithinTheirCap) {
  TempDir dir;
  dir.Touch("small.txt", "12345");
  const std::string big = dir / "big.settings";
  { std::ofstream(big, std::ios::binary).put('x'); }
  fs::resize_file(big, (uint64_t{16} << 20) + 1); // sparse: no 16 MiB written
  const std::string fifo = dir / "pipe";
  const bool pipe = test::MakeNamedPipe(fifo);
  ASSERT_TRUE(pipe || !test::HasNamedPipes);

  struct Case {
    std::string path;
    uint64_t cap;
    std::string error; // "" = read
  } cases[] = {
      {dir / "small.txt", 5, ""},
      {dir / "small.txt", 4,
       dir / "small.txt" + ": is 5 bytes, more than the 4 bytes a file may have"},
      {big, MaxSettingsFileBytes,
       big + ": is 16777217 bytes, more than the 16 MiB a settings file may have"},
      {"/dev/zero", MaxSettingsFileBytes, "/dev/zero: is not a regular file"},
      {fifo, MaxSettingsFileBytes, fifo + ": is not a regular file"}, // must not block
      {dir.str(), MaxSettingsFileBytes, dir.str() + ": is a folder, not a file"},
      // The system would stop at the NUL and open small.txt.
      {dir / "small.txt" + std::string("\0.obj", 5), 5,
       dir / "small.txt" + "\\x00.obj: cannot open file: a file name cannot hold a NUL byte"},
  };
  for (const Case& c : cases) {
    if ((c.path == fifo && !pipe) || (c.path.rfind("/dev/", 0) == 0 && !test::HasDeviceFiles))
      continue; // none here
    SCOPED_TRACE(c.path);
    const char* kind = c.cap == MaxSettingsFileBytes ? "settings file" : "file";
    try {
      EXPECT_EQ(ReadWholeFile(c.path, c.cap, kind), "12345");
      EXPECT_EQ(c.error, "");
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()).substr(0, c.error.size()), c.error);
      EXPECT_NE(c.error, "");
    }
  }
}

// The settings file named on the command line may be a named pipe (a job generated on the
// fly); it is read to its end, within the same cap, and a device is still refused.
TEST(ReadWholeFile, ReadsANamedPipeOnlyWhenAskedAndWithinTheCap) {
  if (!test::HasNamedPipes)
    GTEST_SKIP() << "this system has no named pipes in folders";
  TempDir dir;
  const std::string fifo = dir / "job.settings";
  ASSERT_TRUE(test::MakeNamedPipe(fifo));
  // The reader stops at the cap and closes its end while the writer may still be writing.
  platform::IgnoreBrokenPipes();
  for (const std::string& text : {std::string("angle 0 0\n"), std::string(70000, 'x')}) {
    std::thread writer([&] {
      std::ofstream out(fifo, std::ios::binary);
      out << text;
    });
    try {
      const std::string got = ReadWholeFile(fifo, 65536, "settings file", TPipes::Accept);
      EXPECT_EQ(got, text);
      EXPECT_LE(text.size(), 65536u);
    } catch (const Error& e) {
      EXPECT_GT(text.size(), 65536u);
      EXPECT_NE(std::string(e.what()).find("more than the 65536 bytes"), std::string::npos)
          << e.what();
    }
    writer.join();
  }
  EXPECT_THROW(ReadWholeFile("/dev/zero", 65536, "settings file", TPipes::Accept), Error);
}
