// Isolated runs (platform/Platform.h) on POSIX systems: fork, a pipe for the answer,
// rlimit for memory, poll for the time limit.
#include "platform/Platform.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>

namespace quarvel::platform {

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool SanitizedBuild = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool SanitizedBuild = true;
#else
constexpr bool SanitizedBuild = false;
#endif
#else
constexpr bool SanitizedBuild = false;
#endif

// Exit statuses of the child. Any other ending but a signal is TIsolatedEnd::Other.
constexpr int ChildDone = 0;
constexpr int ChildRefused = 64;
constexpr int ChildOutOfMemory = 65;
constexpr int ChildCannotAnswer = 66;

bool WriteAll(int file, const std::string& bytes) {
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(file, bytes.data() + done, bytes.size() - done);
    if (n <= 0 && errno != EINTR)
      return false;
    done += n > 0 ? static_cast<size_t>(n) : 0;
  }
  return true;
}

[[noreturn]] void RunChild(const TIsolatedFunction& run, const TIsolationLimits& limits,
                           pid_t parent, int answer) {
  // The child says nothing (a sanitizer build would report the crash it may be there for),
  // and leaves by _exit: nothing of the parent's (open outputs, GL) is flushed or torn
  // down twice.
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null >= 0) {
    ::dup2(null, STDOUT_FILENO);
    ::dup2(null, STDERR_FILENO);
  }
  // The parent stops the child on Ctrl-C (and goes on to say it was interrupted, not
  // that the child crashed); should the parent die, so does the child.
  ::signal(SIGINT, SIG_IGN);
  ::signal(SIGTERM, SIG_IGN);
  // A crash ends the child by its signal, past any handler a sanitizer or fuzzer set up
  // (which would report, or save the input, as if the program had crashed).
  for (const int fault : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT})
    ::signal(fault, SIG_DFL);
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent)
    ::_exit(ChildRefused); // the parent died before the line above
  if (!SanitizedBuild && limits.MemoryBytes > 0) {
    const auto limit = static_cast<rlim_t>(limits.MemoryBytes);
    const rlimit memory{limit, limit};
    ::setrlimit(RLIMIT_AS, &memory);
  }
  int status = ChildDone;
  TIsolatedAnswer said;
  try {
    said = run();
    status = said.Refused ? ChildRefused : ChildDone;
  } catch (const std::bad_alloc&) {
    status = ChildOutOfMemory;
  } catch (...) {
    status = ChildRefused;
  }
  if (!WriteAll(answer, said.Bytes) && status == ChildDone)
    status = ChildCannotAnswer;
  ::_exit(status);
}

// Kills the child and waits for its end, so that no zombie stays behind.
void KillAndReap(pid_t pid) {
  ::kill(pid, SIGKILL);
  int ignored = 0;
  while (::waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
  }
}

} // namespace

TIsolatedOutcome RunIsolated(const TIsolatedFunction& run, const TIsolationLimits& limits,
                             const std::function<bool()>& stopRequested) {
  TIsolatedOutcome outcome;
  // The child holds the write end of a pipe until it ends: the parent wakes the moment
  // it does, without polling.
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    outcome.End = TIsolatedEnd::NotStarted;
    outcome.Text = std::strerror(errno);
    return outcome;
  }
  // A scene's answer runs to megabytes: a larger pipe takes it in fewer turns between the
  // two processes (the system may refuse, and the default size then does).
  ::fcntl(ends[0], F_SETPIPE_SZ, 1 << 20);
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0) {
    const int err = errno;
    ::close(ends[0]);
    ::close(ends[1]);
    outcome.End = TIsolatedEnd::NotStarted;
    outcome.Text = std::strerror(err);
    return outcome;
  }
  if (pid == 0) {
    ::close(ends[0]);
    RunChild(run, limits, parent, ends[1]);
  }
  ::close(ends[1]);
  // Waits for the end of the child, the time limit or a stop request, taking the answer
  // on the way.
  const auto start = std::chrono::steady_clock::now();
  const auto limit = std::chrono::duration<double>(limits.Seconds);
  std::string chunk(size_t{1} << 16, '\0');
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        limit - (std::chrono::steady_clock::now() - start));
    pollfd end{ends[0], POLLIN, 0};
    const int ready = left.count() > 0
                          ? ::poll(&end, 1, static_cast<int>(std::min<int64_t>(left.count(), 100)))
                          : 0;
    if (ready > 0) {
      const ssize_t n = ::read(ends[0], chunk.data(), chunk.size());
      if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN))
        break; // the pipe closed: the child is gone
      if (n > 0 && outcome.Bytes.size() + static_cast<size_t>(n) > limits.MaxAnswerBytes) {
        ::close(ends[0]);
        KillAndReap(pid);
        outcome.Bytes.clear();
        outcome.End = TIsolatedEnd::TooLarge;
        return outcome;
      }
      if (n > 0)
        outcome.Bytes.append(chunk.data(), static_cast<size_t>(n));
      continue;
    }
    const bool late = left.count() <= 0;
    const bool stop = !late && stopRequested && stopRequested();
    if (late || stop) {
      ::close(ends[0]);
      KillAndReap(pid);
      outcome.Bytes.clear();
      outcome.End = late ? TIsolatedEnd::TimedOut : TIsolatedEnd::Interrupted;
      return outcome;
    }
  }
  ::close(ends[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFSIGNALED(status)) {
    outcome.End = TIsolatedEnd::Crashed;
    outcome.Text = strsignal(WTERMSIG(status));
  } else if (WIFEXITED(status) && WEXITSTATUS(status) == ChildDone) {
    outcome.End = TIsolatedEnd::Done;
  } else if (WIFEXITED(status) && WEXITSTATUS(status) == ChildRefused) {
    outcome.End = TIsolatedEnd::Refused;
  } else if (WIFEXITED(status) && WEXITSTATUS(status) == ChildOutOfMemory) {
    outcome.End = TIsolatedEnd::OutOfMemory;
  } else {
    outcome.End = TIsolatedEnd::Other;
  }
  if (outcome.End != TIsolatedEnd::Done && outcome.End != TIsolatedEnd::Refused)
    outcome.Bytes.clear();
  return outcome;
}

} // namespace quarvel::platform
