// What a render farm's manager reads of a worker's exit status by kind of failure (to
// retry or not), the failures made by a running quarvel-cli: an output set's lock held by
// another process, and a signal while a FIFO holds a job in its read.
#include "CliRun.h"
#include "RunningCli.h"
#include "common/OutputLock.h"
#include "jobs/JobTestUtil.h"

#include <gtest/gtest.h>

#include <csignal>
#include <optional>
#include <sys/stat.h>

namespace quarvel::test {
namespace {

const std::string JobText = "angle 0 0\nframe 1 models/box.obj\n";

// The box model and the jobs named: "bad" names a model that is not there,
// "held" is a FIFO that holds its job in the read, every other is a good job.
void WriteJobs(const TempRoot& root, const std::vector<std::string>& jobs) {
  root.Write("models/box.mtl", BoxMTL());
  root.Write("models/box.obj", BoxOBJ(2.0f, 1.0f, 1.5f, true));
  for (const std::string& job : jobs) {
    if (job == "held")
      ASSERT_EQ(::mkfifo((root / "held.settings").c_str(), 0600), 0);
    else
      root.Write(job + ".settings",
                 job == "bad" ? "angle 0 0\nframe 1 models/none.obj\n" : JobText);
  }
}

} // namespace

TEST(FarmWorker, TheExitStatusSaysWhetherAnotherTryMayPass) {
  const struct {
    const char* What;
    std::vector<std::string> Jobs, Options;
    bool HoldB; // another process holds the lock of b's output set
    int Signal; // sent once the held job is loading
    int Status;
  } cases[] = {
      {"every job rendered", {"a", "b"}, {}, false, 0, 0},
      {"a job's input is wrong", {"a", "bad"}, {}, false, 0, 1},
      {"another render holds an output set", {"a", "b"}, {"--no-wait"}, true, 0, 3},
      {"... for longer than the job waits", {"a", "b"}, {"--lock-timeout", "1"}, true, 0, 3},
      {"both, and a retry may render b", {"bad", "b"}, {"--no-wait"}, true, 0, 3},
      {"no such OpenGL device", {"a", "b"}, {"--gl-device", "99"}, false, 0, 3},
      {"the command line is wrong", {"a", "b"}, {"--shard", "5/4"}, false, 0, 2},
      {"interrupted", {"held", "b"}, {}, false, SIGINT, 130},
      {"stopped", {"held", "b"}, {}, false, SIGTERM, 143},
  };
  for (const char* jobs : {"1", "2"})
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.What) + ", --jobs " + jobs);
      TempRoot root("farm");
      WriteJobs(root, c.Jobs);
      std::vector<std::string> args = {"render",     "--root", root.str(), "--out",
                                       root / "out", "--jobs", jobs};
      args.insert(args.end(), c.Jobs.begin(), c.Jobs.end());
      args.insert(args.end(), c.Options.begin(), c.Options.end());
      std::optional<THeldLock> lock;
      if (c.HoldB) {
        std::filesystem::create_directories(root / "out");
        lock.emplace(OutputLockFileName(root / "out/b"));
      }
      TRunningCli cli(args);
      if (c.Signal != 0) {
        ASSERT_TRUE(cli.WaitForLine("held: Loading")) << cli.Transcript;
        cli.Signal(c.Signal);
        TFifoFeeder feeder(root / "held.settings", JobText);
        EXPECT_EQ(cli.Finish(), c.Status) << cli.Transcript;
      } else {
        EXPECT_EQ(cli.Finish(), c.Status) << cli.Transcript;
      }
    }
}

} // namespace quarvel::test
