// Isolated runs (platform/Platform.h) on Windows: the worker is this program started
// again, inside a Job Object that holds its memory and kills it with the caller.
//
// Windows has no fork, so the worker cannot be a copy of the caller: it is the program's
// own file started with a hidden first argument, the name of the registered function and
// the two pipes it is to use. main's first line (ServeIfIsolatedWorker) sees the argument,
// serves requests until the pipe of requests closes, and never returns. The marker is on
// the command line rather than in the environment because the command line is the one
// process's alone: an environment variable passes to every process started below the one
// that has it (a render's own --jobs workers, a tool Assimp were to start), and one left
// set in a user's shell would turn every later run of the program into a worker.
//
// Requests and answers are framed as on POSIX (a request: its length in 8 bytes and its
// bytes; an answer: a kind, the length, the bytes). The worker first writes one byte
// when it is ready, so that the time limit covers the function's run and not the start
// of a process, which under load (or Wine) takes longer than a run's limit in the tests.
// The answers come on a named pipe read with overlapped I/O, which can be waited on
// together with the worker's process and a timeout; the requests on an anonymous pipe.
#include "platform/Win32Headers.h"

// GetProcessMemoryInfo from kernel32 (K32GetProcessMemoryInfo), not psapi.dll.
#ifndef PSAPI_VERSION
#define PSAPI_VERSION 2
#endif
#include <psapi.h>
#include <shellapi.h>

#include "platform/IsolatedAnswers.h"
#include "platform/IsolatedFunctions.h"
#include "platform/Platform.h"
#include "platform/Win32Internal.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <exception>
#include <mutex>
#include <new>
#include <string>
#include <vector>

namespace quarvel::platform {

namespace {

const wchar_t WorkerSwitch[] = L"--quarvel-isolated-worker";

// Exit statuses of the worker. A fault ends it with its exception code instead
// (win32::FaultOf tells which), abort() with STATUS_STACK_BUFFER_OVERRUN as the C runtime
// of Visual C++ does.
constexpr DWORD WorkerLeft = 0;     // its requests closed
constexpr DWORD WorkerMisused = 64; // the hidden argument without a caller's pipes
constexpr DWORD WorkerOutOfMemory = 65;
constexpr DWORD WorkerCannotAnswer = 66;
constexpr DWORD WorkerAborted = 0xC0000409;

// Said once, when the worker is ready; its answers are as IsolatedAnswers.h says.
constexpr char AnswerReady = 'S';

// How long a worker may take to start and say it is ready: far more than it needs on a
// loaded machine, to tell a worker that cannot start from one that is slow to.
constexpr double StartSeconds = 120;

constexpr DWORD PipeBytes = 1 << 20;

[[noreturn]] void Leave(DWORD status) {
  // Nothing of the program is torn down: it was set up only to serve.
  ::TerminateProcess(::GetCurrentProcess(), status);
  ::ExitProcess(status); // not reached
}

LONG WINAPI OnFault(EXCEPTION_POINTERS* fault) {
  // Ends at once with the fault's code, before the system (or Wine's debugger) would
  // report the crash.
  Leave(fault->ExceptionRecord->ExceptionCode);
}

void OnAbort(int) {
  Leave(WorkerAborted);
}

bool WriteAll(HANDLE file, const char* bytes, size_t size) {
  while (size > 0) {
    DWORD n = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1 << 30));
    if (!::WriteFile(file, bytes, chunk, &n, nullptr) || n == 0)
      return false;
    bytes += n;
    size -= n;
  }
  return true;
}

// False at the end of the pipe, or on an error, before `size` bytes.
bool ReadAll(HANDLE file, char* bytes, size_t size) {
  while (size > 0) {
    DWORD n = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1 << 30));
    if (!::ReadFile(file, bytes, chunk, &n, nullptr) || n == 0)
      return false;
    bytes += n;
    size -= n;
  }
  return true;
}

std::wstring HandleText(HANDLE h) {
  return std::to_wstring(reinterpret_cast<uintptr_t>(h));
}

// A handle named on the worker's command line, which must be one of the pipes the caller
// handed down; null otherwise.
HANDLE PipeNamed(const wchar_t* text) {
  wchar_t* end = nullptr;
  const unsigned long long value = std::wcstoull(text, &end, 10);
  if (end == text || *end != L'\0')
    return nullptr;
  const auto h = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
  return ::GetFileType(h) == FILE_TYPE_PIPE ? h : nullptr;
}

[[noreturn]] void Serve(const TIsolatedFunction& run, HANDLE requests, HANDLE answers) {
  // A crash ends the worker by its code; no dialog waits for a click that never comes.
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  ::SetUnhandledExceptionFilter(OnFault);
  std::signal(SIGABRT, OnAbort);
  if (!WriteAll(answers, &AnswerReady, 1))
    Leave(WorkerCannotAnswer);
  for (;;) {
    uint64_t size = 0;
    if (!ReadAll(requests, reinterpret_cast<char*>(&size), sizeof size))
      Leave(WorkerLeft);
    TIsolatedAnswer said;
    try {
      std::string request(size, '\0');
      if (!ReadAll(requests, request.data(), request.size()))
        Leave(WorkerLeft);
      said = run(request);
    } catch (const std::bad_alloc&) {
      Leave(WorkerOutOfMemory);
    } catch (...) {
      said = {true, ""};
    }
    const auto head = isolated::AnswerHead(said);
    if (!WriteAll(answers, head.data(), head.size()) ||
        !WriteAll(answers, said.Bytes.data(), said.Bytes.size()))
      Leave(WorkerCannotAnswer);
  }
}

// An inheritable handle on the null device, for the worker's standard streams.
HANDLE NullDevice() {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const HANDLE h =
      ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherit, OPEN_EXISTING, 0, nullptr);
  return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

void CloseIfOpen(HANDLE& h) {
  if (h != nullptr && h != INVALID_HANDLE_VALUE)
    ::CloseHandle(h);
  h = nullptr;
}

// How a wait for the worker's answer ended.
enum class TWait { Read, Ended, Late, Stopped, OverMemory };

} // namespace

void ServeIfIsolatedWorker() {
  int count = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (argv == nullptr)
    return;
  if (count < 2 || std::wcscmp(argv[1], WorkerSwitch) != 0) {
    ::LocalFree(argv);
    return;
  }
  const TIsolatedFunction* run = count == 5 ? isolated::Find(win32::Narrow(argv[2])) : nullptr;
  const HANDLE requests = count == 5 ? PipeNamed(argv[3]) : nullptr;
  const HANDLE answers = count == 5 ? PipeNamed(argv[4]) : nullptr;
  ::LocalFree(argv);
  if (run == nullptr || requests == nullptr || answers == nullptr) {
    const char text[] = "this argument is the program's own, for its workers\n";
    DWORD n = 0;
    ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), text, sizeof text - 1, &n, nullptr);
    Leave(WorkerMisused);
  }
  Serve(*run, requests, answers);
}

struct TIsolatedWorker::TState {
  std::string Name;
  std::mutex Lock;
  HANDLE Process = nullptr; // null: no worker
  HANDLE Job = nullptr;
  HANDLE Requests = nullptr;
  HANDLE Answers = nullptr;  // overlapped
  HANDLE ReadDone = nullptr; // the event of the answers' reads
  uint64_t Generation = 0;
  uint64_t MemoryBytes = 0;

  ~TState() { CloseIfOpen(ReadDone); }

  // Reads up to `size` bytes of the answer within `deadline`, asking `stopRequested`
  // (when given) ten times a second. Never returns with the read still going.
  TWait ReadSome(char* into, size_t size, size_t& got,
                 std::chrono::steady_clock::time_point deadline,
                 const std::function<bool()>& stopRequested) {
    got = 0;
    OVERLAPPED io{};
    io.hEvent = ReadDone;
    ::ResetEvent(ReadDone);
    DWORD n = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1 << 30));
    if (::ReadFile(Answers, into, chunk, &n, &io)) {
      got = n;
      return n > 0 ? TWait::Read : TWait::Ended;
    }
    if (::GetLastError() != ERROR_IO_PENDING)
      return TWait::Ended; // the worker has gone (a broken pipe)
    const HANDLE both[2] = {ReadDone, Process};
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      const DWORD slice = static_cast<DWORD>(std::clamp<int64_t>(left.count(), 0, 100));
      const DWORD woke = ::WaitForMultipleObjects(2, both, FALSE, slice);
      if (woke == WAIT_OBJECT_0 || woke == WAIT_OBJECT_0 + 1) {
        // The read is done, or the worker has ended: a last look at the read tells which
        // (an answer written just before the end still counts).
        if (woke == WAIT_OBJECT_0 + 1 && ::WaitForSingleObject(ReadDone, 0) != WAIT_OBJECT_0)
          break;
        if (::GetOverlappedResult(Answers, &io, &n, FALSE) && n > 0) {
          got = n;
          return TWait::Read;
        }
        return TWait::Ended;
      }
      const bool late = left.count() <= 0;
      if (late || (stopRequested && stopRequested())) {
        Cancel(io);
        return late ? TWait::Late : TWait::Stopped;
      }
      if (OverMemory()) {
        Cancel(io);
        return TWait::OverMemory;
      }
    }
    Cancel(io);
    return TWait::Ended;
  }

  // Whether the worker has committed more memory than its limit. The Job Object refuses
  // it that memory on Windows, and this never says yes there; Wine keeps no such limit,
  // and the caller ends the worker on seeing it over (between two looks, ten times a
  // second, it may take more).
  bool OverMemory() {
    // The commit charge: PagefileUsage, which Wine fills in too (PrivateUsage, the same
    // number on Windows, it leaves 0).
    PROCESS_MEMORY_COUNTERS used{};
    return MemoryBytes > 0 && ::GetProcessMemoryInfo(Process, &used, sizeof used) &&
           used.PagefileUsage > MemoryBytes;
  }

  // Cancels a read and waits until the system has let go of its buffer.
  void Cancel(OVERLAPPED& io) {
    DWORD n = 0;
    ::CancelIoEx(Answers, &io);
    ::GetOverlappedResult(Answers, &io, &n, TRUE);
  }

  // Makes a worker and waits until it is ready. NotStarted (Text: why), or Interrupted,
  // in `failed` when it is not.
  bool Start(uint64_t generation, uint64_t memoryBytes, const std::function<bool()>& stopRequested,
             TIsolatedOutcome& failed) {
    failed = {};
    failed.End = TIsolatedEnd::NotStarted;
    auto fail = [&](DWORD code) {
      win32::SetErrnoFrom(code);
      failed.Text = ErrorText(LastError());
      CloseAll();
      return false;
    };
    if (ReadDone == nullptr)
      ReadDone = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (ReadDone == nullptr)
      return fail(::GetLastError());
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE requestsEnd = nullptr; // the worker's ends
    HANDLE answersEnd = nullptr;
    HANDLE null = nullptr;
    auto closeEnds = [&] {
      CloseIfOpen(requestsEnd);
      CloseIfOpen(answersEnd);
      CloseIfOpen(null);
    };
    if (!::CreatePipe(&requestsEnd, &Requests, &inherit, PipeBytes))
      return fail(::GetLastError());
    ::SetHandleInformation(Requests, HANDLE_FLAG_INHERIT, 0);
    // The answers' pipe has a name only for the moment the worker's end is opened; one
    // instance, taken by that end, so no other process can take its place.
    static std::atomic<unsigned> made{0};
    std::wstring name;
    for (int attempt = 0; attempt < 100 && Answers == nullptr; ++attempt) {
      name = L"\\\\.\\pipe\\quarvel-isolated-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
             std::to_wstring(made++);
      const HANDLE h = ::CreateNamedPipeW(
          name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
          PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
          PipeBytes, PipeBytes, 0, nullptr);
      if (h != INVALID_HANDLE_VALUE)
        Answers = h;
      else if (::GetLastError() != ERROR_ACCESS_DENIED && ::GetLastError() != ERROR_PIPE_BUSY)
        break;
    }
    if (Answers == nullptr) {
      const DWORD code = ::GetLastError();
      closeEnds();
      return fail(code);
    }
    answersEnd = ::CreateFileW(name.c_str(), GENERIC_WRITE, 0, &inherit, OPEN_EXISTING, 0, nullptr);
    null = NullDevice();
    if (answersEnd == INVALID_HANDLE_VALUE || null == nullptr) {
      const DWORD code = ::GetLastError();
      answersEnd = nullptr;
      closeEnds();
      return fail(code);
    }
    const std::wstring program = win32::Widen(ProgramPath());
    std::wstring commandLine = L"\"" + program + L"\" " + WorkerSwitch + L" " + win32::Widen(Name) +
                               L" " + HandleText(requestsEnd) + L" " + HandleText(answersEnd);
    win32::TStarted started;
    // Detached from the console: the terminal's Ctrl-C and its closing reach the caller
    // only, which stops the worker. Suspended until it is in its job, so that the limits
    // hold from its first instruction. It inherits only its two pipes and the null device.
    bool ok = win32::StartProcess(program, commandLine, {requestsEnd, answersEnd, null}, null, null,
                                  null, CREATE_SUSPENDED | DETACHED_PROCESS, started);
    DWORD code = ::GetLastError();
    closeEnds();
    if (!ok)
      return fail(code);
    Process = started.Process;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
    if (memoryBytes > 0) {
      limits.BasicLimitInformation.LimitFlags |= JOB_OBJECT_LIMIT_PROCESS_MEMORY;
      limits.ProcessMemoryLimit = static_cast<SIZE_T>(memoryBytes);
    }
    Job = ::CreateJobObjectW(nullptr, nullptr);
    ok =
        Job != nullptr &&
        ::SetInformationJobObject(Job, JobObjectExtendedLimitInformation, &limits, sizeof limits) &&
        ::AssignProcessToJobObject(Job, Process);
    code = ::GetLastError();
    if (!ok || ::ResumeThread(started.Thread) == static_cast<DWORD>(-1)) {
      code = ok ? ::GetLastError() : code;
      ::TerminateProcess(Process, 1);
      ::CloseHandle(started.Thread);
      ::WaitForSingleObject(Process, INFINITE);
      return fail(code);
    }
    ::CloseHandle(started.Thread);
    Generation = generation;
    MemoryBytes = memoryBytes;
    // Its first byte says it is ready.
    char ready = 0;
    size_t got = 0;
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(StartSeconds));
    const TWait wait = ReadSome(&ready, 1, got, deadline, stopRequested);
    if (wait == TWait::Read && ready == AnswerReady)
      return true;
    const DWORD status = wait == TWait::Ended ? ExitStatus() : 0;
    KillAndReap();
    failed.End = wait == TWait::Stopped ? TIsolatedEnd::Interrupted : TIsolatedEnd::NotStarted;
    if (wait == TWait::Late)
      failed.Text = "the worker was not ready within " + std::to_string(int(StartSeconds)) + " s";
    else if (wait == TWait::Ended) {
      char text[64];
      std::snprintf(text, sizeof text, "the worker ended as it started (status 0x%08lX)",
                    static_cast<unsigned long>(status));
      failed.Text = text;
    }
    return false;
  }

  void CloseAll() {
    CloseIfOpen(Requests);
    CloseIfOpen(Answers);
    CloseIfOpen(Job); // kills what is left of the worker
    CloseIfOpen(Process);
  }

  // The worker's exit status once it has ended (waited for).
  DWORD ExitStatus() {
    ::WaitForSingleObject(Process, INFINITE);
    DWORD status = 0;
    ::GetExitCodeProcess(Process, &status);
    return status;
  }

  // Waits for the end of the worker, its requests closed or killed; its status.
  DWORD Reap() {
    CloseIfOpen(Requests);
    const DWORD status = ExitStatus();
    CloseAll();
    return status;
  }

  void KillAndReap() {
    ::TerminateProcess(Process, 1);
    Reap();
  }

  // Whether the worker, idle, has ended since its last run; it is reaped then.
  bool Ended() {
    if (::WaitForSingleObject(Process, 0) != WAIT_OBJECT_0)
      return false;
    Reap();
    return true;
  }
};

TIsolatedWorker::TIsolatedWorker(const std::string& name) : State(std::make_unique<TState>()) {
  isolated::Named(name); // a name never registered ends the program here
  State->Name = name;
}

TIsolatedWorker::~TIsolatedWorker() {
  if (State->Process != nullptr)
    State->Reap();
}

TIsolatedOutcome TIsolatedWorker::Run(const std::string& request, uint64_t generation,
                                      const TIsolationLimits& limits,
                                      const std::function<bool()>& stopRequested) {
  const std::lock_guard<std::mutex> held(State->Lock);
  TState& worker = *State;
  TIsolatedOutcome outcome;
  if (worker.Process != nullptr && !worker.Ended() &&
      (worker.Generation != generation || worker.MemoryBytes != limits.MemoryBytes))
    worker.KillAndReap();
  // A worker that ended between the check above and the request is made again once.
  bool sent = false;
  for (int attempt = 0; attempt < 2 && !sent; ++attempt) {
    if (worker.Process == nullptr &&
        !worker.Start(generation, limits.MemoryBytes, stopRequested, outcome))
      return outcome;
    const uint64_t size = request.size();
    sent = WriteAll(worker.Requests, reinterpret_cast<const char*>(&size), sizeof size) &&
           WriteAll(worker.Requests, request.data(), request.size());
    if (!sent)
      worker.KillAndReap();
  }
  outcome = {};
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
      if (std::uncaught_exceptions() > Before && Worker.Process != nullptr)
        Worker.KillAndReap();
    }
  } endOnThrow{worker};
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::duration<double>(limits.Seconds));
  isolated::TAnswerReader answer(outcome.Bytes, limits.MaxAnswerBytes);
  TWait wait = TWait::Read;
  for (;;) {
    size_t got = 0;
    wait = worker.ReadSome(answer.Next(), answer.Wanted(), got, deadline, stopRequested);
    if (wait != TWait::Read)
      break;
    if (const auto ended = answer.Took(got)) {
      // TooLarge ends the worker; after a whole answer it waits for the next request.
      if (*ended == TIsolatedEnd::TooLarge)
        worker.KillAndReap();
      outcome.End = *ended;
      return outcome;
    }
  }
  outcome.Bytes.clear();
  if (wait == TWait::Late || wait == TWait::Stopped || wait == TWait::OverMemory) {
    worker.KillAndReap();
    outcome.End = wait == TWait::Late      ? TIsolatedEnd::TimedOut
                  : wait == TWait::Stopped ? TIsolatedEnd::Interrupted
                                           : TIsolatedEnd::OutOfMemory;
    return outcome;
  }
  const DWORD status = worker.Reap();
  if (const win32::TFault fault = win32::FaultOf(status); fault.Signal != 0) {
    outcome.End = TIsolatedEnd::Crashed;
    outcome.Text = fault.Name;
  } else if (status == WorkerOutOfMemory) {
    outcome.End = TIsolatedEnd::OutOfMemory;
  } else {
    outcome.End = TIsolatedEnd::Other;
  }
  return outcome;
}

} // namespace quarvel::platform
