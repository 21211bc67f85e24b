// A quarvel-cli process driven by a test: its standard output and error come through one
// pipe, line by line, and the test can signal it and wait for given lines. And a FIFO
// feeder, which holds a job at a known point without any timing: a job whose settings
// file is a FIFO waits in the read until the test writes the settings.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace quarvel::test {

// A quarvel-cli run whose standard output and error come through one pipe, line by line.
class TRunningCli {
public:
  // ownGroup: the program leads a process group of its own (as under timeout(1)), so that
  // SignalGroup reaches it and its workers, and nothing else.
  explicit TRunningCli(const std::vector<std::string>& args, bool ownGroup = false) {
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
    short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
    if (ownGroup) {
      flags |= POSIX_SPAWN_SETPGROUP;
      posix_spawnattr_setpgroup(&attributes, 0);
    }
    posix_spawnattr_setflags(&attributes, flags);
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
  void SignalGroup(int signal) const { ::kill(-Pid, signal); }
  pid_t ProcessId() const { return Pid; }
  // The raw wait status once Finish returned.
  int RawStatus = 0;

  std::string Transcript; // every line read so far

private:
  int Wait() {
    int status = 0;
    while (::waitpid(Pid, &status, 0) < 0 && errno == EINTR) {
    }
    Pid = -1;
    RawStatus = status;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  pid_t Pid = -1;
  int Fd = -1;
  std::string Pending;
};

// Writes `text` into a FIFO once a reader opens it, from a thread of its own. Should the
// reader never come, the destructor opens the FIFO itself to set the writer free. A reader
// may also go before the text is written (a worker the program under test stops): the
// write then fails, with SIGPIPE held back on this thread so that it cannot end the test.
class TFifoFeeder {
public:
  TFifoFeeder(std::string path, std::string text)
      : Path(std::move(path)), Writer([this, text] {
          sigset_t pipeSignal;
          sigemptyset(&pipeSignal);
          sigaddset(&pipeSignal, SIGPIPE);
          ::pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
          const int fd = ::open(Path.c_str(), O_WRONLY | O_CLOEXEC);
          Opened = true;
          if (fd >= 0) {
            const ssize_t n = ::write(fd, text.data(), text.size());
            ::close(fd);
            const timespec now{0, 0};
            if (n < 0 && errno == EPIPE)
              ::sigtimedwait(&pipeSignal, nullptr, &now); // the signal that write raised
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

// The lock of an output set (".NAME.lock"), held by this process as another render would
// hold it: a render of the set waits for it with its temporary files complete.
class THeldLock {
public:
  explicit THeldLock(const std::string& file)
      : Fd(::open(file.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666)) {
    if (Fd < 0 || ::flock(Fd, LOCK_EX) != 0)
      throw std::runtime_error("cannot lock " + file);
  }
  ~THeldLock() { ::close(Fd); }
  THeldLock(const THeldLock&) = delete;
  THeldLock& operator=(const THeldLock&) = delete;

private:
  int Fd;
};

// Waits until the folder `dir` holds `count` temporary files (".tmp-" in their names);
// false when that does not happen within a very long time, which only a fault explains.
inline bool WaitForTemporaries(const std::string& dir, size_t count) {
  for (int i = 0; i < 6000; ++i) {
    size_t found = 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec))
      found += entry.path().filename().string().find(".tmp-") != std::string::npos;
    if (found >= count)
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

} // namespace quarvel::test
