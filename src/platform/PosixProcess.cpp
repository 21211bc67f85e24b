// Child processes, stop requests and the terminal (platform/Platform.h) on POSIX systems
// (Linux).
#include "platform/AbruptEnd.h"
#include "platform/Platform.h"
#include "platform/PosixInternal.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace quarvel::platform {

namespace {

// The file this program was started from. The kernel's link is taken rather than the path
// it names: it stays right when the program's file is replaced or removed while it runs
// (an install during a long batch).
const char* OwnProgramFile() {
  return "/proc/self/exe";
}

// Write end of the self-pipe: the stop handler writes a byte to it so that a parent
// waiting in poll() for its children wakes up. -1 while there is none.
std::atomic<int> wakeFd{-1};
// Its read end, which WaitForOutput watches.
int wakeReadFd = -1;

// Set before the handlers are installed, read by them only.
TStopCallbacks stopCallbacks;
// Whether a second request ends the program at once (the program the user started), and
// the process that sent the first request (0: the kernel, a terminal's Ctrl-C).
std::atomic<bool> secondEndsAtOnce{false};
std::atomic<pid_t> firstSender{0};

void RemoveRegisteredFiles() {
  abrupt_end::RemoveRegistered([](const char* name) { ::unlink(name); });
}

// The process that sent a signal, or 0 when the kernel did (a terminal's Ctrl-C).
pid_t SenderOf(const siginfo_t* info) {
  return info && (info->si_code == SI_USER || info->si_code == SI_QUEUE) ? info->si_pid : 0;
}

void OnStopSignal(int signal, siginfo_t* info, void*) {
  const int savedErrno = errno;
  const pid_t sender = SenderOf(info);
  if (const int pending = stopCallbacks.Pending()) {
    const bool sameRequest = pending == signal && sender != 0 && sender == firstSender.load();
    if (secondEndsAtOnce.load() && !sameRequest) {
      // Temporary files are this run's alone: nobody would ever remove them.
      RemoveRegisteredFiles();
      // The default effect, once this handler returns (the signal is blocked until then).
      struct sigaction fallback {};
      fallback.sa_handler = SIG_DFL;
      sigemptyset(&fallback.sa_mask);
      ::sigaction(signal, &fallback, nullptr);
      ::raise(signal);
      errno = savedErrno;
      return;
    }
  } else {
    firstSender.store(sender);
    stopCallbacks.Record(signal);
  }
  const int fd = wakeFd.load();
  if (fd >= 0) {
    const char byte = 0;
    [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1); // a full pipe wakes anyway
  }
  errno = savedErrno;
}

} // namespace

bool posix::StopRequested() noexcept {
  return stopCallbacks.Pending && stopCallbacks.Pending() != 0;
}

std::optional<TChild> SpawnSelf(const std::vector<std::string>& arguments) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0)
    return std::nullopt;
  std::vector<std::string> argv = arguments;
  std::vector<char*> cargv;
  for (std::string& a : argv)
    cargv.push_back(a.data());
  cargv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  pid_t pid = -1;
  const int rc = ::posix_spawn(&pid, OwnProgramFile(), &actions, nullptr, cargv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (rc != 0) {
    ::close(fds[0]);
    errno = rc;
    return std::nullopt;
  }
  TChild child;
  child.Process = pid;
  child.Output = fds[0];
  return child;
}

int WaitForOutput(const std::vector<TChild>& children, std::vector<bool>& ready) {
  ready.assign(children.size(), false);
  std::vector<pollfd> fds;
  for (const TChild& child : children)
    fds.push_back(pollfd{static_cast<int>(child.Output), POLLIN, 0});
  const int wake = wakeReadFd;
  if (wake >= 0)
    fds.push_back(pollfd{wake, POLLIN, 0}); // last, after the children's entries
  if (::poll(fds.data(), fds.size(), -1) < 0)
    return errno == EINTR ? 0 : -1;
  if (wake >= 0 && (fds.back().revents & POLLIN)) {
    char drain[64];
    while (::read(wake, drain, sizeof drain) > 0) {
    }
  }
  for (size_t i = 0; i < children.size(); ++i)
    ready[i] = (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
  return 0;
}

int64_t ReadOutput(const TChild& child, void* data, size_t size) {
  ssize_t n;
  while ((n = ::read(static_cast<int>(child.Output), data, size)) < 0 && errno == EINTR) {
  }
  return n;
}

int Kill(const TChild& child, int signal) {
  return ::kill(static_cast<pid_t>(child.Process), signal);
}

TChildEnd WaitForEnd(TChild& child) {
  ::close(static_cast<int>(child.Output));
  child.Output = NoFile;
  int status = 0;
  while (::waitpid(static_cast<pid_t>(child.Process), &status, 0) < 0 && errno == EINTR) {
  }
  TChildEnd end;
  end.Signalled = WIFSIGNALED(status);
  end.Code = end.Signalled ? WTERMSIG(status) : WEXITSTATUS(status);
  return end;
}

const int SignalInterrupt = SIGINT;
const int SignalTerminate = SIGTERM;

void InstallStopHandlers(bool endsAtOnce, TStopCallbacks callbacks) {
  stopCallbacks = callbacks;
  secondEndsAtOnce.store(endsAtOnce);
  for (const int signal : {SIGINT, SIGTERM}) {
    struct sigaction previous {};
    if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
      continue;
    struct sigaction action {};
    action.sa_sigaction = OnStopSignal;
    // Neither handler interrupts the other: each sees the request the other recorded.
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    // SA_RESTART: reads and writes go on (an interrupted write would leave std::cout bad);
    // poll() returns anyway, and the self-pipe wakes it.
    action.sa_flags = SA_RESTART | SA_SIGINFO;
    ::sigaction(signal, &action, nullptr);
  }
}

int WakeOnStopRequests() {
  // The self-pipe stays open until the program ends: closing it could hand its number to
  // another file while a handler is about to write to it.
  int wake[2];
  if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0)
    return -1;
  wakeReadFd = wake[0];
  wakeFd.store(wake[1]);
  return 0;
}

void StopWakingOnStopRequests() {
  wakeFd.store(-1);
  wakeReadFd = -1;
}

void IgnoreBrokenPipes() {
  ::signal(SIGPIPE, SIG_IGN);
}

bool OutputIsTerminal() {
  return ::isatty(STDOUT_FILENO) == 1;
}

int TerminalWidth() {
  winsize ws{};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0)
    return ws.ws_col;
  return 0;
}

} // namespace quarvel::platform
