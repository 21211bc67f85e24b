// What others can leave in a shared output folder: a FIFO, a folder or a device where the
// program keeps its own files fails the job at once instead of hanging it, and temporary
// files of a render killed while saving are removed by the next render of the set.
#include "CliRun.h"
#include "RunningCli.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <sys/stat.h>
#include <sys/sysmacros.h>

using quarvel::test::BoxMTL;
using quarvel::test::BoxOBJ;
using quarvel::test::Cli;
using quarvel::test::FilesBelow;
using quarvel::test::Has;
using quarvel::test::Quote;
using quarvel::test::TempRoot;
namespace fs = std::filesystem;

namespace {

// A root with the job "job" (two angles: its set is four sprite files and a manifest).
void MakeJob(const TempRoot& root) {
  root.Write("box.mtl", BoxMTL());
  root.Write("box.obj", BoxOBJ(2.0f, 1.0f, 1.5f, true));
  root.Write("job.settings", "angle 0 0\nangle 1 90\nframe 1 box.obj\n");
}

// Every name in the folder, whatever it names.
std::vector<std::string> Entries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir))
    names.push_back(entry.path().filename().string());
  return names;
}

size_t Temporaries(const std::string& dir) {
  size_t n = 0;
  for (const std::string& f : FilesBelow(dir))
    n += Has(f, ".tmp-");
  return n;
}

} // namespace

TEST(SharedOutputFolder, SomethingElseUnderTheProgramsOwnNamesFailsTheJobAtOnce) {
  enum class TKind { Fifo, Folder, Device, Link };
  struct TCase {
    const char* Name;
    TKind Kind;
    const char* Says;
  };
  const TCase cases[] = {
      {".job.lock", TKind::Fifo, "cannot lock the output set: a FIFO (named pipe) has that name"},
      {".job.lock", TKind::Folder, "cannot lock the output set: a folder has that name"},
      {".job.lock", TKind::Device, "cannot lock the output set: a device or socket has"},
      {".job.manifest", TKind::Fifo, "cannot use it as the manifest: a FIFO (named pipe)"},
      {".job.manifest", TKind::Folder, "cannot use it as the manifest: a folder has"},
      {"job_1.p16", TKind::Fifo, "cannot write file: a FIFO (named pipe) has that name"},
      {"job_0.kxz", TKind::Device, "cannot write file: a device or socket has that name"},
      {".job_0.kxz.tmp-AbCdEf", TKind::Fifo, "cannot write the set: a FIFO (named pipe)"},
      // Never followed, to lock or make a file elsewhere.
      {".job.lock", TKind::Link, "cannot lock the output set: cannot open the lock file: Too many"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name + std::to_string(static_cast<int>(c.Kind)));
    TempRoot root("shared");
    MakeJob(root);
    const std::string planted = root / ("out/" + std::string(c.Name));
    fs::create_directories(root / "out");
    const int made = c.Kind == TKind::Fifo ? ::mkfifo(planted.c_str(), 0600)
                     : c.Kind == TKind::Device
                         ? ::mknod(planted.c_str(), S_IFCHR | 0600, makedev(1, 3)) // /dev/null's
                     : c.Kind == TKind::Link ? ::symlink("/dev/null", planted.c_str())
                                             : ::mkdir(planted.c_str(), 0700);
    if (made != 0 && c.Kind == TKind::Device)
      continue; // making a device takes privileges this run may not have
    ASSERT_EQ(made, 0) << planted;
    const quarvel::test::CliRun run =
        Cli(root, "render job --out " + Quote(root / "out") + " --root " + Quote(root.str()));
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_TRUE(Has(run.err, "job: " + planted + ": " + c.Says)) << run.err;
    EXPECT_EQ(Has(run.err, "; remove it\n"), c.Kind != TKind::Link) << run.err;
    EXPECT_TRUE(Has(run.err, "0 of 1 job rendered; failed: job\n")) << run.err;
    EXPECT_EQ(Entries(root / "out"), std::vector<std::string>{c.Name}); // left as it was
  }
}

TEST(SharedOutputFolder, ARenderKilledWhileSavingLeavesNothingBehindTheNextRender) {
  TempRoot root("shared");
  MakeJob(root);
  fs::create_directories(root / "out");
  {
    // The killed render has written its whole set of temporaries and waits for the lock.
    quarvel::test::THeldLock lock(root / "out/.job.lock");
    quarvel::test::TRunningCli cli(
        {"render", "job", "--quiet", "--root", root.str(), "--out", root / "out"});
    ASSERT_TRUE(quarvel::test::WaitForTemporaries(root / "out", 5)) << cli.Transcript;
    cli.Signal(SIGKILL);
    EXPECT_EQ(cli.Finish(), -1);
  }
  ASSERT_EQ(Temporaries(root / "out"), 5u);
  // Killed a while ago: a temporary file younger than a minute may be a live writer's
  // that has not taken its lock yet.
  for (const auto& entry : fs::directory_iterator(root / "out"))
    fs::last_write_time(entry.path(), fs::last_write_time(entry.path()) - std::chrono::hours(1));
  const quarvel::test::CliRun again =
      Cli(root, "render job --out " + Quote(root / "out") + " --root " + Quote(root.str()));
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_TRUE(Has(again.err, "removed 5 temporary files that a render stopped while saving left"))
      << again.err;
  EXPECT_EQ(Temporaries(root / "out"), 0u);
  EXPECT_EQ(FilesBelow(root / "out", true).size(), 5u);
}
