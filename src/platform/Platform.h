// The operating system, as the rest of the program sees it.
//
// Everything the program asks of the system beyond the C++ library goes through this
// header: file status and identity, reading a regular file with a cap, the calls that
// write output sets (temporary files, sync, rename, hard links), the output lock, the
// program's own path, child processes, isolated runs with time and memory limits, stop
// requests from the terminal, the terminal itself, and a key for the machine. One source
// file per system implements it (PlatformPosix.cpp, PlatformWin32.cpp); nothing outside this folder
// includes a system header (cmake/CheckNoOS.cmake fails the build when one does).
//
// Failures are reported the way the C library does it, so that messages stay the same
// on every system: a call that fails returns its failure value and leaves the reason
// in LastError(), whose text ErrorText gives. Interrupted system calls are retried here,
// never passed on, except where a stop request (InstallStopHandlers) ends a wait: the
// call then fails with ErrorInterrupted.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quarvel::platform {

// --- Errors ---

// The reason of the last failed call on this thread (errno on POSIX).
int LastError();
void SetLastError(int code);
// The system's text for a reason ("No such file or directory").
std::string ErrorText(int code);
// Reasons the program acts on.
extern const int ErrorNoSpace;     // the device is full
extern const int ErrorNotFound;    // no such file or folder
extern const int ErrorWouldBlock;  // a lock is held elsewhere
extern const int ErrorIsFolder;    // a folder where a file was wanted
extern const int ErrorNotFolder;   // a file where a folder was wanted
extern const int ErrorInvalid;     // the call does not apply here (a sync on some file systems)
extern const int ErrorInterrupted; // a stop request ended the wait
extern const int ErrorIsLink;      // a symbolic link where none may be followed

// --- Files ---

// An open file: a file descriptor on POSIX, a HANDLE on Windows. NoFile when none.
using TFileHandle = intptr_t;
constexpr TFileHandle NoFile = -1;

enum class TFileKind { Regular, Directory, Pipe, Link, Other };

struct TFileStatus {
  TFileKind Kind = TFileKind::Other;
  uint64_t Size = 0;
  int64_t MTimeNs = 0; // last change of the contents, ns since 1970
  int64_t CTimeNs = 0; // last change of the contents or the file's attributes
  // Which file this is: two names with equal Device and Identity are one file.
  uint64_t Device = 0;
  uint64_t Identity = 0;
};

// The status of the file `path` names (links followed); nullopt when there is none or
// it cannot be read (LastError says why).
std::optional<TFileStatus> StatusOf(const std::string& path);
// The status of the name `path` itself: a symbolic link there is not followed (Link).
std::optional<TFileStatus> StatusOfName(const std::string& path);
// The status of an open file.
std::optional<TFileStatus> StatusOf(TFileHandle file);

// Whether this process may read the file `path` names.
bool CanRead(const std::string& path);

// Opens a file for reading. `wait` false: opening a pipe does not wait for a writer (the
// caller refuses such a file anyway). `wait` true: it waits for one, and reads from the
// pipe wait for its data, but a stop request ends either wait (ErrorInterrupted).
// `followLinks` false: a symbolic link in the file's place fails with ErrorIsLink (for
// files in output folders, where anyone with a share may plant one). NoFile on failure.
TFileHandle OpenForReading(const std::string& path, bool wait = false, bool followLinks = true);
// Reads up to `size` bytes; 0 at the end of the file, -1 on failure.
int64_t Read(TFileHandle file, void* data, size_t size);
// Writes up to `size` bytes; how many were written, -1 on failure.
int64_t Write(TFileHandle file, const void* data, size_t size);
// Flushes the file's contents to the device; 0, or -1 on failure.
int Sync(TFileHandle file);
// 0, or -1 on failure.
int Close(TFileHandle file);

// Makes and opens a new file whose name is `pattern` with its trailing "XXXXXX" replaced
// (the name is written back into `pattern`), readable and writable by its owner and as
// the user's file-creation mask allows others. NoFile on failure.
TFileHandle MakeTemporary(std::string& pattern);
// The folder for temporary files (TMPDIR, else /tmp, on POSIX).
std::string TemporaryFolder();
// Makes a new folder whose name is `pattern` with its trailing "XXXXXX" replaced (written
// back into `pattern`), for this user only. False on failure.
bool MakeTemporaryFolder(std::string& pattern);

// Gives `existing` the second name `newName`; 0, or -1 (also where the file system has no
// hard links).
int Link(const std::string& existing, const std::string& newName);
// Puts `from` in the place of `to` in one step, replacing a file there; 0 or -1.
int Replace(const std::string& from, const std::string& to);
// Removes the name; 0 or -1.
int Remove(const std::string& name);

// Opens (making it when missing) a lock file, for TryLock. Opening neither follows a link
// in the lock file's place nor waits on a pipe there: the caller checks what it opened.
TFileHandle OpenLockFile(const std::string& path);
// Takes an advisory lock on an open file without waiting, held until the file is closed:
// 0, or -1 with ErrorWouldBlock when a lock that excludes it is held elsewhere. Shared
// locks exclude only an exclusive one.
int TryLock(TFileHandle file, bool shared = false);

// Files removed should a second stop request end the program at once (the temporary
// files of a set being written), which happens inside a signal handler where nothing can
// be allocated: the name is copied now. A handle for KeepOnAbruptEnd; -1 when too many
// names are registered (that file is then left behind).
int RemoveOnAbruptEnd(const std::string& path);
void KeepOnAbruptEnd(int handle);

// Whether the system reads file names the Windows way (drives, device names such as CON,
// alternate data streams after a ':'), which the root rule must then refuse.
bool WindowsFileNames();

// The path of the running program; "" when the system does not say.
std::string ProgramPath();
// The folder for this user's caches, "" when the environment names none: on POSIX
// $XDG_CACHE_HOME or ~/.cache (absolute paths only), on Windows %LOCALAPPDATA%.
std::string UserCacheFolder();
// What tells this machine apart from others (its identity and its name) as one line of
// text, and the names of its GPU device nodes, sorted: the key of a per-machine cache.
std::string MachineKey();
std::vector<std::string> GraphicsDevices();
// Every shared library the process has loaded, by path (the GL driver among them).
std::vector<std::string> LoadedLibraries();

// The program's command line in UTF-8, the program's name first: `argv` as given on
// POSIX; on Windows the wide command line (main's argv is in the ANSI code page, which
// cannot hold every file name), and the console is then set to show UTF-8 output.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// Entries of the process's environment, as "NAME=value".
std::vector<std::string> Environment();

// Sleeps for `milliseconds`.
void SleepMs(int milliseconds);

// --- Child processes ---

// A child process: this program run again, its standard output into a pipe.
struct TChild {
  int64_t Process = -1;        // the process id
  TFileHandle Output = NoFile; // the pipe's end this process reads
};

// Starts this program itself (the file the running program was started from) with
// `arguments` (the first is the name it is given, as argv[0]), the environment and the
// standard input and error of this process, and its standard output into a pipe.
// nullopt on failure (LastError says why).
std::optional<TChild> SpawnSelf(const std::vector<std::string>& arguments);

// Waits until one of the children's output can be read or has ended (set in `ready`, one
// entry per child), or a stop request wakes the wait (WakeOnStopRequests); a signal that
// interrupts the wait wakes it too, with nothing ready. 0, or -1 on failure (LastError).
int WaitForOutput(const std::vector<TChild>& children, std::vector<bool>& ready);

// Reads up to `size` bytes of the child's output; 0 once it has ended, -1 on failure.
int64_t ReadOutput(const TChild& child, void* data, size_t size);

// Sends the child `signal` (SignalInterrupt, SignalTerminate); 0, or -1 on failure.
int Kill(const TChild& child, int signal);

// How a child ended: its exit status, or the signal that ended it. Windows has no
// signals: there a fault's exception code reads as the signal the fault raises on POSIX
// (an access violation as SIGSEGV), and the status 128 + SIGINT or SIGTERM, which Kill
// and a second stop request end a process with, as that signal.
struct TChildEnd {
  bool Signalled = false;
  int Code = 0; // the exit status, or the signal number when Signalled
};
// Closes the child's output (a child still writing gets a broken pipe instead of
// waiting for a reader) and waits for the child to end. A child whose end cannot be
// learnt is taken as ended with status 0.
TChildEnd WaitForEnd(TChild& child);

// --- Isolated runs ---

// A function run in a child process that may crash, hang or exhaust memory without harm to
// the caller: a TIsolatedWorker runs it on each request and tells how the run ended. The
// child (the worker) is made at the first run and kept for the next ones, with its output
// and error streams sent to the null device, deaf to the terminal's Ctrl-C and to SIGTERM
// (the caller stops it), killed should the caller die, holding none of the caller's open
// files but its standard input (on Windows not even that), and leaving without flushing or
// tearing down anything of the caller's. On POSIX it is a copy of the caller (fork);
// Windows has no fork, and the worker there is this program started again, which finds the
// function by the name it was registered under (RegisterIsolatedFunction) and serves the
// requests from main's first line (ServeIfIsolatedWorker).

// What the function gives back: its result, or a refusal with a text ("" for none).
struct TIsolatedAnswer {
  bool Refused = false;
  std::string Bytes;
};
// Run in the worker on a request's bytes. std::bad_alloc from it is the out-of-memory
// ending; any other exception is a refusal without text. On POSIX the worker is the
// caller as it was when the worker was made: what the function reads besides the request
// must not have changed since (see the generation of TIsolatedWorker::Run). On Windows it
// is the program as it starts: the function reads nothing of the caller's but the request.
using TIsolatedFunction = std::function<TIsolatedAnswer(const std::string& request)>;

// Registers `run` as the isolated function called `name`, before main (from a variable
// at namespace scope: `const bool x = RegisterIsolatedFunction(...)`), so that a worker
// started as this program again finds it. A name is registered once. Returns true.
bool RegisterIsolatedFunction(const std::string& name, TIsolatedFunction run);

// The first call of every program's main that may make isolated runs (and of test
// programs that do): in a worker TIsolatedWorker started, serves the caller's requests
// and ends the process; anywhere else returns at once. Does nothing on POSIX, where the
// worker is forked and never comes back through main.
void ServeIfIsolatedWorker();

struct TIsolationLimits {
  double Seconds = 0; // wall-clock time of a run from its request on; must be > 0
  // Address space of the worker, all its runs together (not applied in sanitizer builds,
  // which reserve terabytes of it); on Windows the memory it commits, which its Job
  // Object holds. 0 for none.
  uint64_t MemoryBytes = 0;
  // Most bytes the caller takes back; a longer answer ends the run (TooLarge).
  uint64_t MaxAnswerBytes = uint64_t{1} << 20;
};

enum class TIsolatedEnd {
  Done,        // Bytes: the function's result
  Refused,     // Bytes: the refusal's text (may be empty)
  Crashed,     // Text: the signal's name ("Segmentation fault")
  TimedOut,    // killed at the time limit
  OutOfMemory, // the function ran out of memory
  Interrupted, // killed because stopRequested said so
  TooLarge,    // killed for an answer longer than MaxAnswerBytes
  Other,       // ended in some other way (a sanitizer's report in the worker, say)
  NotStarted,  // no worker could be made; Text: why (ErrorText)
};

struct TIsolatedOutcome {
  TIsolatedEnd End = TIsolatedEnd::Other;
  std::string Bytes;
  std::string Text;
};

// One worker for one function, made at the first run. A run that ends in any way but
// Done or Refused leaves no worker behind (it is killed and reaped before Run returns),
// and the next run makes a fresh one. Runs are one at a time (a second thread waits).
class TIsolatedWorker {
public:
  // The function registered as `name` (RegisterIsolatedFunction); a name never
  // registered is a fault of the program's, and ends it.
  explicit TIsolatedWorker(const std::string& name);
  // Closes the worker's requests, on which it leaves, and reaps it.
  ~TIsolatedWorker();
  TIsolatedWorker(const TIsolatedWorker&) = delete;
  TIsolatedWorker& operator=(const TIsolatedWorker&) = delete;

  // Runs the function on `request` in the worker within `limits`. `generation` names the
  // state of the caller's that the function reads besides the request (the caller counts
  // up when it changes): a worker made at another generation, or with another memory
  // limit, is ended first and a fresh one made. `stopRequested` (may be empty) is asked
  // about every 100 ms while the function runs; true kills the worker.
  TIsolatedOutcome Run(const std::string& request, uint64_t generation,
                       const TIsolationLimits& limits, const std::function<bool()>& stopRequested);

private:
  struct TState;
  std::unique_ptr<TState> State;
};

// --- Stop requests and the terminal ---

// The signals that ask the program to stop (SIGINT: Ctrl-C; SIGTERM: a job system).
extern const int SignalInterrupt;
extern const int SignalTerminate;

// The handlers' hold on the rest of the program, both safe in a signal handler: `record`
// takes the first request (its signal), `pending` gives the signal of the request recorded
// so far (0: none).
struct TStopCallbacks {
  void (*Record)(int signal) noexcept = nullptr;
  int (*Pending)() noexcept = nullptr;
};

// Handles SIGINT and SIGTERM: the first request is recorded. With
// `secondEndsAtOnce` (the program the user started) a second request has the signal's
// default effect at once; the same signal sent again by the process that sent the first
// is not a second request but the first delivered twice (`timeout -s INT` signals its
// child and then the child's process group). A signal from the terminal or from another
// process is a new request. A signal ignored from the start (a job started in the
// background by a shell without job control) stays ignored. Reads and writes go on
// through a request; only waits return.
void InstallStopHandlers(bool secondEndsAtOnce, TStopCallbacks callbacks);

// From now on a stop request also wakes WaitForOutput. 0, or -1 on failure (LastError).
int WakeOnStopRequests();
// Stop requests no longer wake anything.
void StopWakingOnStopRequests();

// From now on a write to a pipe or socket whose reader has gone fails (and the caller
// says so) instead of ending the program without a word. A GL driver probing a display
// server that drops the connection is such a writer.
void IgnoreBrokenPipes();

// Whether standard output is a terminal.
bool OutputIsTerminal();
// The width of the terminal standard output is on, in columns; 0 when not known.
int TerminalWidth();

} // namespace quarvel::platform
