// Isolated runs (platform/Platform.h) on POSIX systems: a forked worker, a pipe for the
// requests and one for the answers, rlimit for memory, poll for the time limit.
#include "platform/IsolatedAnswers.h"
#include "platform/IsolatedFunctions.h"
#include "platform/Platform.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>

// Present in sanitizer builds only.
extern "C" void __sanitizer_set_death_callback(void (*callback)()) __attribute__((weak));

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

// Exit statuses of the worker. Any other ending but a signal is TIsolatedEnd::Other.
constexpr int WorkerLeft = 0;      // its requests closed
constexpr int WorkerOrphaned = 64; // the caller died before the worker was set up
constexpr int WorkerOutOfMemory = 65;
constexpr int WorkerCannotAnswer = 66;

// A request is its length (8 bytes, this machine's order: both ends are one program)
// and its bytes; an answer is as IsolatedAnswers.h says.

// Writes a head and a body in one call where the pipe takes both at once: the other end
// then wakes once for the two, not once for each.
bool WriteAll(int file, const char* head, size_t headSize, const char* body, size_t bodySize) {
  iovec parts[2] = {{const_cast<char*>(head), headSize}, {const_cast<char*>(body), bodySize}};
  size_t first = 0; // the first part not yet written whole
  while (first < 2) {
    const ssize_t n = ::writev(file, parts + first, static_cast<int>(2 - first));
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    auto done = static_cast<size_t>(n);
    for (; first < 2 && done >= parts[first].iov_len; ++first)
      done -= parts[first].iov_len;
    if (first < 2) {
      parts[first].iov_base = static_cast<char*>(parts[first].iov_base) + done;
      parts[first].iov_len -= done;
    }
  }
  return true;
}

// False at the end of the pipe, or on an error, before `size` bytes.
bool ReadAll(int file, char* bytes, size_t size) {
  for (size_t done = 0; done < size;) {
    const ssize_t n = ::read(file, bytes + done, size - done);
    if (n == 0 || (n < 0 && errno != EINTR))
      return false;
    done += n > 0 ? static_cast<size_t>(n) : 0;
  }
  return true;
}

// Closes every file of the worker's but the standard streams and its two pipes: a copy
// of one of the caller's held here would keep it open after the caller closed it (the
// requests of another worker, which would then never see their end; an output lock).
void CloseInherited(int requests, int answers) {
  const unsigned low = static_cast<unsigned>(std::min(requests, answers));
  const unsigned high = static_cast<unsigned>(std::max(requests, answers));
  if (low > 3)
    ::close_range(3, low - 1, 0);
  if (high > low + 1)
    ::close_range(low + 1, high - 1, 0);
  ::close_range(high + 1, ~0U, 0);
}

[[noreturn]] void RunWorker(const TIsolatedFunction& run, uint64_t memoryBytes, pid_t parent,
                            int requests, int answers) {
  // The worker says nothing (a sanitizer build would report the crash it may be there
  // for), and leaves by _exit: nothing of the parent's (open outputs, GL) is flushed or
  // torn down twice.
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null >= 0) {
    ::dup2(null, STDOUT_FILENO);
    ::dup2(null, STDERR_FILENO);
  }
  CloseInherited(requests, answers);
  // The parent stops the worker on Ctrl-C (and goes on to say it was interrupted, not
  // that the worker crashed); should the parent die, so does the worker.
  ::signal(SIGINT, SIG_IGN);
  ::signal(SIGTERM, SIG_IGN);
  // A crash ends the worker by its signal, past any handler a sanitizer or fuzzer set up
  // (which would report, or save the input, as if the program had crashed).
  for (const int fault : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT})
    ::signal(fault, SIG_DFL);
  // Nor does a sanitizer's report in the worker run the fuzzer's callback, which would
  // save the input as a crash of the program's own.
  if (__sanitizer_set_death_callback != nullptr)
    __sanitizer_set_death_callback(nullptr);
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent)
    ::_exit(WorkerOrphaned); // the parent died before the line above
  if (!SanitizedBuild && memoryBytes > 0) {
    const auto limit = static_cast<rlim_t>(memoryBytes);
    const rlimit memory{limit, limit};
    ::setrlimit(RLIMIT_AS, &memory);
  }
  for (;;) {
    uint64_t size = 0;
    if (!ReadAll(requests, reinterpret_cast<char*>(&size), sizeof size))
      ::_exit(WorkerLeft);
    TIsolatedAnswer said;
    try {
      std::string request(size, '\0');
      if (!ReadAll(requests, request.data(), request.size()))
        ::_exit(WorkerLeft);
      said = run(request);
    } catch (const std::bad_alloc&) {
      ::_exit(WorkerOutOfMemory);
    } catch (...) {
      said = {true, ""};
    }
    const auto head = isolated::AnswerHead(said);
    if (!WriteAll(answers, head.data(), head.size(), said.Bytes.data(), said.Bytes.size()))
      ::_exit(WorkerCannotAnswer);
  }
}

// Writes a request with SIGPIPE held back on this thread: a worker that has died since
// the last run makes the write fail (EPIPE), not the signal end the caller.
bool SendRequest(int file, const std::string& request) {
  sigset_t pipeSignal;
  sigset_t previous;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  ::pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
  sigset_t pending;
  sigpending(&pending);
  const bool alreadyPending = sigismember(&pending, SIGPIPE) == 1;
  const uint64_t size = request.size();
  const bool sent = WriteAll(file, reinterpret_cast<const char*>(&size), sizeof size,
                             request.data(), request.size());
  if (!sent && errno == EPIPE && !alreadyPending) {
    const timespec now{0, 0};
    ::sigtimedwait(&pipeSignal, nullptr, &now); // takes the signal the write raised
  }
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return sent;
}

} // namespace

struct TIsolatedWorker::TState {
  TIsolatedFunction Function;
  std::mutex Lock;
  pid_t Pid = -1; // -1: no worker
  int Requests = -1;
  int Answers = -1;
  uint64_t Generation = 0;
  uint64_t MemoryBytes = 0;

  void CloseBoth() {
    ::close(Requests);
    ::close(Answers);
    Requests = Answers = -1;
  }

  // Makes a worker; false (and the reason in errno) when none could be made.
  bool Start(uint64_t generation, uint64_t memoryBytes) {
    int requests[2];
    int answers[2];
    if (::pipe2(requests, O_CLOEXEC) != 0)
      return false;
    if (::pipe2(answers, O_CLOEXEC) != 0) {
      const int err = errno;
      ::close(requests[0]);
      ::close(requests[1]);
      errno = err;
      return false;
    }
    // A scene and its answer run to megabytes: larger pipes take them in fewer turns
    // between the two processes (the system may refuse, and the default size then does).
    ::fcntl(requests[1], F_SETPIPE_SZ, 1 << 20);
    ::fcntl(answers[0], F_SETPIPE_SZ, 1 << 20);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
      const int err = errno;
      for (const int end : {requests[0], requests[1], answers[0], answers[1]})
        ::close(end);
      errno = err;
      return false;
    }
    if (pid == 0)
      RunWorker(Function, memoryBytes, parent, requests[0], answers[1]);
    ::close(requests[0]);
    ::close(answers[1]);
    Pid = pid;
    Requests = requests[1];
    Answers = answers[0];
    Generation = generation;
    MemoryBytes = memoryBytes;
    return true;
  }

  // Waits for the end of the worker, its requests closed or killed; its status.
  int Reap() {
    CloseBoth();
    int status = 0;
    while (::waitpid(Pid, &status, 0) < 0 && errno == EINTR) {
    }
    Pid = -1;
    return status;
  }

  void KillAndReap() {
    ::kill(Pid, SIGKILL);
    Reap();
  }

  // Whether the worker, idle, has ended since its last run (killed from outside, say);
  // it is reaped then.
  bool Ended() {
    int status = 0;
    pid_t got = 0;
    while ((got = ::waitpid(Pid, &status, WNOHANG)) < 0 && errno == EINTR) {
    }
    if (got == 0)
      return false;
    CloseBoth();
    Pid = -1;
    return true;
  }
};

void ServeIfIsolatedWorker() {
  // The worker is forked: it never starts from main.
}

TIsolatedWorker::TIsolatedWorker(const std::string& name) : State(std::make_unique<TState>()) {
  State->Function = isolated::Named(name);
}

TIsolatedWorker::~TIsolatedWorker() {
  if (State->Pid >= 0)
    State->Reap();
}

TIsolatedOutcome TIsolatedWorker::Run(const std::string& request, uint64_t generation,
                                      const TIsolationLimits& limits,
                                      const std::function<bool()>& stopRequested) {
  const std::lock_guard<std::mutex> held(State->Lock);
  TState& worker = *State;
  TIsolatedOutcome outcome;
  if (worker.Pid >= 0 && !worker.Ended() &&
      (worker.Generation != generation || worker.MemoryBytes != limits.MemoryBytes))
    worker.KillAndReap();
  // A worker that ended between the check above and the request (with the thread that
  // made it, which is what the system ties the parent's death to) is made again once.
  bool sent = false;
  for (int attempt = 0; attempt < 2 && !sent; ++attempt) {
    if (worker.Pid < 0 && !worker.Start(generation, limits.MemoryBytes)) {
      outcome.End = TIsolatedEnd::NotStarted;
      outcome.Text = std::strerror(errno);
      return outcome;
    }
    sent = SendRequest(worker.Requests, request);
    if (!sent)
      worker.KillAndReap();
  }
  if (!sent) {
    outcome.End = TIsolatedEnd::Other;
    return outcome;
  }
  // Should the wait throw (no memory for the answer, a stop check that throws), the
  // worker, left in the middle of a request, goes too.
  struct TEndOnThrow {
    TState& Worker;
    const int Before = std::uncaught_exceptions();
    ~TEndOnThrow() {
      if (std::uncaught_exceptions() > Before && Worker.Pid >= 0)
        Worker.KillAndReap();
    }
  } endOnThrow{worker};
  // Waits for the answer, the end of the worker, the time limit or a stop request.
  const auto start = std::chrono::steady_clock::now();
  const auto limit = std::chrono::duration<double>(limits.Seconds);
  isolated::TAnswerReader answer(outcome.Bytes, limits.MaxAnswerBytes);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        limit - (std::chrono::steady_clock::now() - start));
    pollfd end{worker.Answers, POLLIN, 0};
    const int ready = left.count() > 0
                          ? ::poll(&end, 1, static_cast<int>(std::min<int64_t>(left.count(), 100)))
                          : 0;
    if (ready > 0) {
      const ssize_t n = ::read(worker.Answers, answer.Next(), answer.Wanted());
      if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN))
        break; // the pipe closed before the whole answer: the worker is gone
      if (n < 0)
        continue;
      if (const auto ended = answer.Took(static_cast<size_t>(n))) {
        // TooLarge ends the worker; after a whole answer it waits for the next request.
        if (*ended == TIsolatedEnd::TooLarge)
          worker.KillAndReap();
        outcome.End = *ended;
        return outcome;
      }
      continue;
    }
    const bool late = left.count() <= 0;
    const bool stop = !late && stopRequested && stopRequested();
    if (late || stop) {
      worker.KillAndReap();
      outcome.Bytes.clear();
      outcome.End = late ? TIsolatedEnd::TimedOut : TIsolatedEnd::Interrupted;
      return outcome;
    }
  }
  const int status = worker.Reap();
  outcome.Bytes.clear();
  if (WIFSIGNALED(status)) {
    outcome.End = TIsolatedEnd::Crashed;
    outcome.Text = strsignal(WTERMSIG(status));
  } else if (WIFEXITED(status) && WEXITSTATUS(status) == WorkerOutOfMemory) {
    outcome.End = TIsolatedEnd::OutOfMemory;
  } else {
    outcome.End = TIsolatedEnd::Other;
  }
  return outcome;
}

} // namespace quarvel::platform
