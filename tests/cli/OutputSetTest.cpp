// quarvel-cli render of one output set by several processes at once: a render waits while
// another puts the same set in place (or fails with --no-wait), and two renders racing
// into one folder always leave one whole set.
//
// Nothing here is timed: the test holds the set's lock itself and learns through inotify
// that the render has reached it (the render opens the lock file only once all its
// temporary files are complete).
#include "RunningCli.h"
#include "common/OutputLock.h"
#include "jobs/JobTestUtil.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

using quarvel::TOutputLock;
using quarvel::test::BoxMTL;
using quarvel::test::BoxOBJ;
using quarvel::test::FilesBelow;
using quarvel::test::ReadBytes;
using quarvel::test::TempRoot;
using quarvel::test::TRunningCli;

namespace {

using TFiles = std::map<std::string, std::vector<uint8_t>>;

TFiles Outputs(const std::string& dir) {
  TFiles files;
  for (const std::string& f : FilesBelow(dir))
    files[f] = ReadBytes(dir + "/" + f);
  return files;
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A root with a two-angle job "j" of a box of the given size (and, when `blue`, another
// paint: another palette).
void WriteJob(const TempRoot& root, const std::string& dir, float width, bool blue = false) {
  std::string mtl = BoxMTL();
  if (blue)
    mtl.replace(mtl.find("Kd 0.8 0.3 0.2"), 14, "Kd 0.1 0.4 0.9");
  root.Write(dir + "/models/box.mtl", mtl);
  root.Write(dir + "/models/box.obj", BoxOBJ(width, 1.0f, 1.5f, false));
  root.Write(dir + "/j.settings", "angle 0 0\nangle 1 90\nframe 1 models/box.obj\n");
}

std::vector<std::string> Render(const TempRoot& root, const std::string& dir,
                                const std::string& out) {
  return {"render", "j", "-q", "--root", root / dir, "--out", out};
}

// Waits until a file named `name` is opened in `dir`.
class TOpenWatch {
public:
  TOpenWatch(const std::string& dir, std::string name) : Name(std::move(name)) {
    Fd = ::inotify_init1(IN_CLOEXEC);
    if (Fd >= 0)
      ::inotify_add_watch(Fd, dir.c_str(), IN_OPEN);
  }
  ~TOpenWatch() {
    if (Fd >= 0)
      ::close(Fd);
  }
  TOpenWatch(const TOpenWatch&) = delete;
  TOpenWatch& operator=(const TOpenWatch&) = delete;

  bool Wait() {
    alignas(inotify_event) char buffer[4096];
    for (;;) {
      pollfd p{Fd, POLLIN, 0};
      if (Fd < 0 || ::poll(&p, 1, 300000) <= 0) // only a hung render takes that long
        return false;
      const ssize_t n = ::read(Fd, buffer, sizeof buffer);
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if (event->len > 0 && Name == event->name)
          return true;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
  }

private:
  int Fd = -1;
  std::string Name;
};

} // namespace

TEST(RenderOutputSet, ARenderWaitsWhileAnotherWritesTheSetOrFailsWithNoWait) {
  TempRoot root("outputset");
  WriteJob(root, "r", 2.0f);
  const std::string out = root / "out";
  TRunningCli first(Render(root, "r", out));
  ASSERT_EQ(first.Finish(), 0) << first.Transcript;
  const TFiles before = Outputs(out);
  ASSERT_EQ(before.size(), 4u);
  root.Write("r/models/box.obj", BoxOBJ(1.0f, 2.0f, 1.0f, false)); // new pictures from now on
  const std::string lockFile = quarvel::OutputLockFileName(out + "/j");

  {
    // --no-wait: refused, the old set stays, nothing is left behind.
    TOutputLock held(lockFile, "test", true);
    auto args = Render(root, "r", out);
    args.push_back("--no-wait");
    TRunningCli cli(args);
    EXPECT_EQ(cli.Finish(), 3) << cli.Transcript; // the next try may find the set free
    EXPECT_TRUE(Has(cli.Transcript, "quarvel-cli: j: " + out +
                                        "/j is being written by another "
                                        "render\n"))
        << cli.Transcript;
    TFiles now = Outputs(out);
    now.erase(".j.lock"); // ours
    EXPECT_EQ(now, before);
  }
  EXPECT_EQ(Outputs(out), before);

  // Waiting: while the test holds the lock, the render's files stay temporaries.
  std::optional<TOutputLock> held(std::in_place, lockFile, "test", true);
  TOpenWatch watch(out, ".j.lock");
  TRunningCli cli(Render(root, "r", out));
  ASSERT_TRUE(watch.Wait()) << "the render never reached the lock";
  TFiles now = Outputs(out);
  size_t temporaries = 0;
  for (auto it = now.begin(); it != now.end();)
    if (Has(it->first, ".tmp-")) {
      ++temporaries;
      it = now.erase(it);
    } else {
      ++it;
    }
  EXPECT_EQ(temporaries, 5u); // four sprite files and the job's manifest
  now.erase(".j.lock");
  EXPECT_EQ(now, before);
  held.reset();
  EXPECT_EQ(cli.Finish(), 0) << cli.Transcript;
  const TFiles after = Outputs(out); // the lock file and the temporaries are gone
  ASSERT_EQ(after.size(), 4u);
  for (const auto& [file, bytes] : after)
    EXPECT_NE(bytes, before.at(file)) << file;
}

TEST(RenderOutputSet, TwoRendersRacingIntoOneFolderLeaveOneWholeSet) {
  // Two roots hold a job of the same name with different models: each run's containers and
  // palettes differ from the other's. 50 times, both render into one folder at once; after
  // each pair the folder holds exactly the set of one run.
  TempRoot root("outputset");
  WriteJob(root, "a", 2.0f);
  WriteJob(root, "b", 0.7f, /*blue=*/true);
  std::map<std::string, TFiles> expected;
  for (const std::string dir : {"a", "b"}) {
    TRunningCli cli(Render(root, dir, root / ("ref-" + dir)));
    ASSERT_EQ(cli.Finish(), 0) << cli.Transcript;
    expected[dir] = Outputs(root / ("ref-" + dir));
    ASSERT_EQ(expected[dir].size(), 4u);
  }
  for (const auto& [file, bytes] : expected["a"])
    ASSERT_NE(bytes, expected["b"].at(file)) << file << " does not tell the runs apart";

  const std::string out = root / "out";
  std::map<std::string, int> wins;
  for (int pair = 0; pair < 50; ++pair) {
    SCOPED_TRACE("pair " + std::to_string(pair));
    TRunningCli a(Render(root, "a", out));
    TRunningCli b(Render(root, "b", out));
    ASSERT_EQ(a.Finish(), 0) << a.Transcript;
    ASSERT_EQ(b.Finish(), 0) << b.Transcript;
    const TFiles now = Outputs(out);
    if (now == expected["a"])
      ++wins["a"];
    else if (now == expected["b"])
      ++wins["b"];
    else
      FAIL() << "the set in " << out << " is not one run's";
  }
  EXPECT_EQ(wins["a"] + wins["b"], 50);
}
