// What a render farm's manager reads of a worker: the exit status by kind of failure (to
// retry or not), the Open Job Description progress lines, and the shard the scheduler's
// variables name.
#include "CliRun.h"
#include "RunningCli.h"
#include "common/OutputLock.h"
#include "jobs/JobTestUtil.h"

#include <gtest/gtest.h>

#include <csignal>
#include <optional>
#include <regex>
#include <set>
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

// The variables of every scheduler ResolveShard reads, unset, then `env`.
std::string SchedulerEnv(const std::string& env) {
  return "env -u JOB_COMPLETION_INDEX -u SLURM_ARRAY_TASK_ID -u SLURM_ARRAY_TASK_MIN -u "
         "SLURM_ARRAY_TASK_COUNT -u QUARVEL_SHARD_INDEX -u QUARVEL_SHARD_COUNT " +
         env;
}

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

TEST(FarmWorker, OpenJDLinesAloneOnStandardOutputRisingToHundredWithOneStatusPerJob) {
  for (const char* jobs : {"1", "2"}) {
    SCOPED_TRACE(std::string("--jobs ") + jobs);
    TempRoot root("openjd");
    WriteJobs(root, {"a", "b", "c", "bad"});
    const std::string common =
        " --root " + Quote(root.str()) + " --out " + Quote(root / "out") + " --jobs " + jobs;
    ASSERT_EQ(Cli(root, "render a --quiet" + common).status, 0);
    const CliRun r = Cli(root, "render a b c bad --progress openjd" + common);
    EXPECT_EQ(r.status, 1) << r.err;
    const std::regex progress("openjd_progress: ([0-9]+)"), status("openjd_status: (.+)");
    int last = -1;
    std::set<std::string> statuses;
    for (const std::string& line : r.OutLines()) {
      std::smatch m;
      if (std::regex_match(line, m, progress)) {
        EXPECT_GE(std::stoi(m[1]), last) << r.out;
        last = std::stoi(m[1]);
      } else if (std::regex_match(line, m, status)) {
        EXPECT_TRUE(statuses.insert(m[1]).second) << r.out;
      } else {
        ADD_FAILURE() << "not an OpenJD line: " << line;
      }
    }
    EXPECT_EQ(last, 100) << r.out;
    EXPECT_EQ(statuses,
              (std::set<std::string>{"a: up to date", "b: rendered", "c: rendered", "bad: failed"}))
        << r.out;
    // The people's lines went to standard error.
    EXPECT_TRUE(Has(r.err, "2 of 4 jobs rendered, 1 up to date; failed: bad")) << r.err;
  }
}

TEST(FarmWorker, AutoShardsRenderWhatTheSchedulersTaskNumberNames) {
  TempRoot root("autoshard");
  std::vector<std::string> jobs;
  for (int i = 0; i < 8; ++i)
    jobs.push_back("j" + std::to_string(i));
  WriteJobs(root, jobs);
  auto render = [&](const std::string& env, const std::string& shard, const std::string& out) {
    const CliRun r = Cli(root,
                         "render --all --quiet --root " + Quote(root.str()) + " --out " +
                             Quote(root / out) + " --shard " + shard,
                         "", SchedulerEnv(env));
    EXPECT_EQ(r.status, 0) << env << " " << shard << ": " << r.err;
    std::map<std::string, std::vector<uint8_t>> files;
    for (const std::string& f : FilesBelow(root / out))
      if (f.find(".manifest") == std::string::npos)
        files[f] = ReadBytes(root / out + "/" + f);
    return files;
  };
  const auto third = render("", "3/4", "expected");
  ASSERT_FALSE(third.empty()) << "shard 3 of 4 holds none of the jobs";
  for (const char* env : {"SLURM_ARRAY_TASK_ID=3", "SLURM_ARRAY_TASK_ID=2 SLURM_ARRAY_TASK_MIN=0",
                          "JOB_COMPLETION_INDEX=2", "QUARVEL_SHARD_INDEX=2"})
    EXPECT_EQ(render(env, "auto/4", "auto"), third) << env;
  EXPECT_EQ(render("QUARVEL_SHARD_INDEX=2 QUARVEL_SHARD_COUNT=4", "auto", "auto"), third);
  const CliRun missing = Cli(root, "render --all --root " + Quote(root.str()) + " --shard auto/4",
                             "", SchedulerEnv(""));
  EXPECT_EQ(missing.status, 2) << missing.err;
}

} // namespace
} // namespace quarvel::test
