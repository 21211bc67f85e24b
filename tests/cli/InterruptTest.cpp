// quarvel-cli render stopped by SIGINT or SIGTERM: the running job writes nothing, old
// outputs stay byte for byte, no temporary file remains, the exit status is 128 + the
// signal, and with --jobs the summary tells what was rendered, interrupted, not started.
//
// A job is held at a known point without any timing: its settings file is a FIFO, so the
// job waits in the read after its first progress line ("Loading") until the test writes
// the settings, which it does only once the signal has been sent.
#include "jobs/JobTestUtil.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <map>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using quarvel::test::BoxMTL;
using quarvel::test::BoxOBJ;
using quarvel::test::FilesBelow;
using quarvel::test::ReadBytes;
using quarvel::test::TempRoot;

namespace {

// A quarvel-cli run whose standard output and error come through one pipe, line by line.
class TRunningCli {
public:
  explicit TRunningCli(const std::vector<std::string>& args) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
      throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    // The test runner may have started us with SIGINT ignored (in the background).
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t stopSignals, none;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &stopSignals);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    std::vector<std::string> argv = {QUARVEL_CLI};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (std::string& a : argv)
      cargv.push_back(a.data());
    cargv.push_back(nullptr);
    const int rc = ::posix_spawn(&Pid, QUARVEL_CLI, &actions, &attributes, cargv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(fds[1]);
    if (rc != 0) {
      ::close(fds[0]);
      throw std::runtime_error("cannot start quarvel-cli");
    }
    Fd = fds[0];
  }
  ~TRunningCli() {
    if (Pid > 0) { // a failed test: do not leave the program behind
      ::kill(Pid, SIGKILL);
      Wait();
    }
    if (Fd >= 0)
      ::close(Fd);
  }
  TRunningCli(const TRunningCli&) = delete;
  TRunningCli& operator=(const TRunningCli&) = delete;

  // Reads lines until one satisfies `wanted`; false at the end of the output (or when
  // nothing comes for a very long time, which only a hung program explains).
  template <typename Predicate> bool WaitFor(Predicate wanted) {
    for (;;) {
      const size_t end = Pending.find('\n');
      if (end != std::string::npos) {
        const std::string line = Pending.substr(0, end);
        Pending.erase(0, end + 1);
        Transcript += line + "\n";
        if (wanted(line))
          return true;
        continue;
      }
      if (Fd < 0)
        return false;
      pollfd p{Fd, POLLIN, 0};
      if (::poll(&p, 1, 300000) <= 0) {
        ADD_FAILURE() << "quarvel-cli says nothing; so far:\n" << Transcript;
        return false;
      }
      char buffer[4096];
      const ssize_t n = ::read(Fd, buffer, sizeof buffer);
      if (n > 0) {
        Pending.append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        if (!Pending.empty())
          Pending += "\n";
        ::close(Fd);
        Fd = -1;
      }
    }
  }
  bool WaitForLine(const std::string& line) {
    return WaitFor([&](const std::string& l) { return l == line; });
  }
  // Reads to the end of the output; the exit status, or -1 when it ended by a signal.
  int Finish() {
    WaitFor([](const std::string&) { return false; });
    return Wait();
  }
  void Signal(int signal) const { ::kill(Pid, signal); }

  std::string Transcript; // every line read so far

private:
  int Wait() {
    int status = 0;
    while (::waitpid(Pid, &status, 0) < 0 && errno == EINTR) {
    }
    Pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  pid_t Pid = -1;
  int Fd = -1;
  std::string Pending;
};

// Writes `text` into a FIFO once a reader opens it, from a thread of its own. Should the
// reader never come, the destructor opens the FIFO itself to set the writer free.
class TFifoFeeder {
public:
  TFifoFeeder(std::string path, std::string text)
      : Path(std::move(path)), Writer([this, text] {
          const int fd = ::open(Path.c_str(), O_WRONLY | O_CLOEXEC);
          Opened = true;
          if (fd >= 0) {
            [[maybe_unused]] const ssize_t n = ::write(fd, text.data(), text.size());
            ::close(fd);
          }
        }) {}
  ~TFifoFeeder() {
    int reader = -1;
    if (!Opened)
      reader = ::open(Path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    Writer.join();
    if (reader >= 0)
      ::close(reader);
  }
  TFifoFeeder(const TFifoFeeder&) = delete;
  TFifoFeeder& operator=(const TFifoFeeder&) = delete;

private:
  std::string Path;
  std::atomic<bool> Opened{false};
  std::thread Writer;
};

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Every file below dir with its bytes; temporaries would show up here too.
std::map<std::string, std::vector<uint8_t>> Outputs(const std::string& dir) {
  std::map<std::string, std::vector<uint8_t>> files;
  for (const std::string& f : FilesBelow(dir))
    files[f] = ReadBytes(dir + "/" + f);
  return files;
}

bool AnyTemporary(const std::string& dir) {
  for (const std::string& f : FilesBelow(dir))
    if (Has(f, ".tmp-"))
      return true;
  return false;
}

const std::string JobText = "angle 0 0\nangle 1 90\nframe 1 models/box.obj\n";

// A root with the box model and the jobs named, each rendered once into root/out.
void RenderOnce(const TempRoot& root, const std::vector<std::string>& jobs) {
  root.Write("models/box.mtl", BoxMTL());
  root.Write("models/box.obj", BoxOBJ(2.0f, 1.0f, 1.5f, true));
  std::vector<std::string> args = {"render",   "--quiet", "--root",
                                   root.str(), "--out",   root / "out"};
  for (const std::string& job : jobs) {
    root.Write(job + ".settings", JobText);
    args.push_back(job);
  }
  TRunningCli first(args);
  ASSERT_EQ(first.Finish(), 0) << first.Transcript;
  ASSERT_EQ(FilesBelow(root / "out").size(), 4 * jobs.size());
  // A render that got through would now write different pictures.
  root.Write("models/box.obj", BoxOBJ(1.0f, 2.0f, 1.0f, false));
}

// The job's settings file becomes a FIFO: a render of it waits until it is fed.
void HoldJob(const TempRoot& root, const std::string& job) {
  const std::string file = root / (job + ".settings");
  std::filesystem::remove(file);
  ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
}

} // namespace

TEST(RenderInterrupt, ASignalStopsTheJobWithoutWritingAndExitsWithItsStatus) {
  for (const int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal);
    TempRoot root("interrupt");
    RenderOnce(root, {"job", "other"});
    const auto before = Outputs(root / "out");
    HoldJob(root, "job");

    // One job after another in this process: the second never starts.
    TRunningCli cli({"render", "job", "other", "--root", root.str(), "--out", root / "out"});
    ASSERT_TRUE(cli.WaitForLine("job: Loading")) << cli.Transcript;
    cli.Signal(signal);
    {
      TFifoFeeder feeder(root / "job.settings", JobText);
      EXPECT_EQ(cli.Finish(), 128 + signal) << cli.Transcript;
    }
    EXPECT_TRUE(Has(cli.Transcript, "quarvel-cli: job: interrupted\n")) << cli.Transcript;
    EXPECT_TRUE(Has(cli.Transcript,
                    "quarvel-cli: 0 of 2 jobs rendered; interrupted: job; not started: other\n"))
        << cli.Transcript;
    EXPECT_FALSE(Has(cli.Transcript, "wrote ")) << cli.Transcript;
    EXPECT_FALSE(Has(cli.Transcript, "other: ")) << cli.Transcript;
    EXPECT_EQ(Outputs(root / "out"), before);
    EXPECT_FALSE(AnyTemporary(root.str()));
  }
}

TEST(RenderInterrupt, WorkersAreStoppedAndTheSummarySaysWhatFinished) {
  // Two workers for four jobs: "a" renders, "c" takes its place; "b" and "c" are held when
  // the signal comes, "d" is still waiting for a worker.
  TempRoot root("interrupt");
  RenderOnce(root, {"a", "b", "c", "d"});
  const auto before = Outputs(root / "out");
  HoldJob(root, "b");
  HoldJob(root, "c");

  TRunningCli cli(
      {"render", "a", "b", "c", "d", "--jobs", "2", "--root", root.str(), "--out", root / "out"});
  bool bHeld = false, cHeld = false;
  ASSERT_TRUE(cli.WaitFor([&](const std::string& line) {
    bHeld |= line == "b: Loading";
    cHeld |= line == "c: Loading";
    return bHeld && cHeld;
  })) << cli.Transcript;
  EXPECT_TRUE(Has(cli.Transcript, "wrote " + root / "out/a_1.p16\n")) << cli.Transcript;
  cli.Signal(SIGINT);
  // The parent has passed the signal on once it says so; only then are the jobs let go.
  ASSERT_TRUE(cli.WaitFor([](const std::string& line) {
    return line.rfind("quarvel-cli: interrupted: stopping", 0) == 0;
  })) << cli.Transcript;
  {
    TFifoFeeder feedB(root / "b.settings", JobText);
    TFifoFeeder feedC(root / "c.settings", JobText);
    EXPECT_EQ(cli.Finish(), 130) << cli.Transcript;
  }
  EXPECT_TRUE(Has(cli.Transcript, "quarvel-cli: b: interrupted\n")) << cli.Transcript;
  EXPECT_TRUE(Has(cli.Transcript, "quarvel-cli: c: interrupted\n")) << cli.Transcript;
  EXPECT_FALSE(Has(cli.Transcript, "\nd: ")) << cli.Transcript;
  EXPECT_TRUE(Has(cli.Transcript,
                  "quarvel-cli: 1 of 4 jobs rendered: a; interrupted: b c; not started: d\n"))
      << cli.Transcript;

  // "a" was rendered with the changed model; the others are exactly as they were.
  auto after = Outputs(root / "out");
  for (const std::string job : {"b", "c", "d"})
    for (const std::string file : {"_0.kxz", "_0.p16", "_1.kxz", "_1.p16"})
      EXPECT_EQ(after[job + file], before.at(job + file)) << job + file;
  EXPECT_NE(after["a_0.kxz"], before.at("a_0.kxz"));
  EXPECT_EQ(after.size(), before.size());
  EXPECT_FALSE(AnyTemporary(root.str()));
}
