// quarvel-cli render SETTINGS... : render jobs to sprite files, headless.
//
// Jobs run one after another in this process, or with --jobs N in up to N worker
// processes (each its own GL context): the worker is this program run again with the
// hidden option --worker, which renders one job and reports on its standard output in
// lines the parent reads:
//   progress PERCENT TEXT | note TEXT | warning TEXT | wrote FILE | error MESSAGE | interrupted
// ("note" says once that the worker draws on a software rasteriser; the parent shows the
// first one only.)
// A job that fails does not stop the others; the exit status is 0 only when every job
// succeeded.
//
// Interruption: the first SIGINT or SIGTERM asks the jobs to stop. The running job stops
// at its next progress report (or, at the latest, right before its files would replace
// the old ones) and writes nothing; no further job starts; the summary names the jobs
// rendered, interrupted and not started; the exit status is 128 + the signal (130, 143).
// With workers the parent passes the signal on to every running worker and waits for
// them. A second request in the program the user started ends it at once, which may
// leave a temporary ".NAME.tmp-XXXXXX" behind. The same signal sent again by the process
// that sent the first is not a second request but the same one delivered twice:
// `timeout -s INT` signals the program it started and then that program's whole process
// group, which reaches the program a second time a moment later (taking that for a
// second Ctrl-C killed the program before it could wait for its workers and print the
// summary). A signal from the terminal (Ctrl-C again) or from another process is a new
// request. Workers keep their handler: a Ctrl-C on a terminal reaches them directly as
// well as through the parent, and must count as one request.
#include "cli/Batch.h"
#include "cli/Command.h"
#include "cli/GLOptions.h"
#include "cli/InputOptions.h"
#include "common/Error.h"
#include "common/FileLists.h"
#include "common/FileLookup.h"
#include "common/Interrupt.h"
#include "common/ProgressLines.h"
#include "common/Text.h"
#include "jobs/JobRunner.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace quarvel::cli {

namespace {

struct TRenderArgs {
  std::vector<std::string> Settings;
  std::string Root = ".";
  bool RootGiven = false; // --root was on the command line
  std::string Progress;   // "", "plain", "bar" or "none"
  std::string Format = "kxz";
  std::string Out;
  int Jobs = 1;
  std::string Dump;
  bool Quiet = false;
  bool All = false;
  bool Worker = false;
  bool HalfAmbient = false;
  TInputOptions Input;
  bool NoWait = false;
  TGLDeviceOptions GLDevice;
  TBatchOptions Batch;
};

// The GL this process renders with: the view and the shader programs, made at the first
// job (so a machine without OpenGL fails that job like any other error) and kept for the
// rest of the process, with the inputs the command line asked for.
class TRenderSession {
public:
  explicit TRenderSession(const TRenderArgs& args) : Args_(args) {}
  const TRenderInputs& Inputs() {
    if (!Shaders_) {
      Shaders_ = std::make_unique<TShaderSet>(PrepareGL(Args_.Root));
      Inputs_.Shaders = Shaders_.get();
      Inputs_.HalfAmbient = Args_.HalfAmbient;
      Note_ = SoftwareRendererNote();
    }
    return Inputs_;
  }
  // What the user is told once about the renderer (empty for a hardware one).
  std::string TakeNote() { return std::exchange(Note_, std::string()); }

private:
  const TRenderArgs& Args_;
  std::unique_ptr<TShaderSet> Shaders_;
  TRenderInputs Inputs_;
  std::string Note_;
};

// What the user sees while jobs run. Progress goes to standard output: as a bar, one
// line redrawn in place with every step (the default on a terminal); as plain lines, each
// status text once with a further line at most every 10 percent or 5 seconds, whichever
// is rarer (the default otherwise, common/ProgressLines.h); or not at all. Warnings and
// errors go to standard error; after MaxShownWarnings warnings of one job the rest are
// counted and the count follows when the job ends. Quiet keeps only errors.
enum class TProgressMode { Bar, Plain, None };

TProgressMode ProgressModeOf(const std::string& option) {
  if (option == "bar")
    return TProgressMode::Bar;
  if (option == "plain")
    return TProgressMode::Plain;
  if (option == "none")
    return TProgressMode::None;
  return ::isatty(STDOUT_FILENO) == 1 ? TProgressMode::Bar : TProgressMode::Plain;
}

class TProgressDisplay {
public:
  TProgressDisplay(bool quiet, bool multipleJobs, TProgressMode mode)
      : Quiet(quiet), Prefixed(multipleJobs), Mode(mode) {}

  void Progress(const std::string& job, int percent, const std::string& text) {
    if (Quiet || Mode == TProgressMode::None)
      return;
    const std::string prefix = Prefixed ? job + ": " : std::string();
    if (Mode == TProgressMode::Plain) {
      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
      const std::string line = Lines[job].Line(percent, text, seconds);
      if (!line.empty())
        std::cout << ForTerminal(prefix + line) << std::endl;
      return;
    }
    const std::string shown = ForTerminal(prefix + text);
    percent = std::clamp(percent, 0, 100);
    constexpr int barWidth = 24;
    const int filled = percent * barWidth / 100;
    std::string line = "[" + std::string(static_cast<size_t>(filled), '#') +
                       std::string(static_cast<size_t>(barWidth - filled), '-') + "] ";
    std::string pct = std::to_string(percent);
    line += std::string(3 - std::min<size_t>(3, pct.size()), ' ') + pct + "% " + shown;
    winsize ws{};
    size_t columns = 80;
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0)
      columns = ws.ws_col;
    if (line.size() >= columns) // a wrapped line could not be redrawn in place
      line.resize(columns - 1);
    std::cout << "\r" << line << "\x1b[K" << std::flush;
    LineShown = true;
  }

  // A line that stays (written files, job results, the summary).
  void Line(const std::string& text) {
    if (Quiet)
      return;
    ClearLine();
    std::cout << ForTerminal(text) << std::endl;
  }

  void Warning(const std::string& job, const std::string& text) {
    if (Quiet || ++WarningCount[job] > MaxShownWarnings)
      return;
    ClearLine();
    std::cerr << "warning: " << ForTerminal(text) << std::endl;
  }

  // The count of the job's warnings that were not shown.
  void EndJob(const std::string& job) {
    const std::string more = MoreWarningsNote(WarningCount[job]);
    if (Quiet || more.empty())
      return;
    ClearLine();
    std::cerr << "warning: " << ForTerminal((Prefixed ? job + ": " : std::string()) + more)
              << std::endl;
  }

  void Error(const std::string& text) {
    ClearLine();
    std::cerr << "quarvel-cli: " << ForTerminal(text) << std::endl;
  }

  void ClearLine() {
    if (LineShown) {
      std::cout << "\r\x1b[K" << std::flush;
      LineShown = false;
    }
  }

private:
  bool Quiet;
  bool Prefixed;
  TProgressMode Mode;
  bool LineShown = false;
  std::chrono::steady_clock::time_point Start = std::chrono::steady_clock::now();
  std::map<std::string, TProgressLines> Lines;
  std::map<std::string, size_t> WarningCount;
};

// Write end of the parent's self-pipe: the signal handler writes a byte to it so that a
// parent waiting in poll() for its workers wakes up. -1 while there is none.
std::atomic<int> wakeFd{-1};

// Whether a second request ends the program at once (the program the user started), and
// the process that sent the first request (0: the kernel, a terminal's Ctrl-C).
std::atomic<bool> secondEndsAtOnce{false};
std::atomic<pid_t> firstSender{0};

// The process that sent a signal, or 0 when the kernel did (a terminal's Ctrl-C).
pid_t SenderOf(const siginfo_t* info) {
  return info && (info->si_code == SI_USER || info->si_code == SI_QUEUE) ? info->si_pid : 0;
}

void OnStopSignal(int signal, siginfo_t* info, void*) {
  const int savedErrno = errno;
  const pid_t sender = SenderOf(info);
  if (const int pending = InterruptSignal()) {
    const bool sameRequest = pending == signal && sender != 0 && sender == firstSender.load();
    if (secondEndsAtOnce.load() && !sameRequest) {
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
    RequestInterrupt(signal);
  }
  const int fd = wakeFd.load();
  if (fd >= 0) {
    const char byte = 0;
    [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1); // a full pipe wakes anyway
  }
  errno = savedErrno;
}

// endsAtOnce: a second request (see the top of this file) has the signal's default
// effect. A signal ignored from the start (a job started in the background by a shell
// without job control) stays ignored.
void InstallStopHandlers(bool endsAtOnce) {
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

TJobOptions OptionsOf(const TRenderArgs& args) {
  TJobOptions options;
  options.RootDir = args.Root;
  options.OutputDir = args.Out;
  options.DumpSheetsDir = args.Dump;
  options.Format = FormatFromWord(args.Format);
  options.MaxTexturePixels = args.Input.MaxTexturePixels;
  options.WaitForOutput = !args.NoWait;
  options.GuessRoot = !args.RootGiven;
  return options;
}

// One job in this process.
TOutcome RenderHere(const TRenderArgs& args, const std::string& name, TProgressDisplay& display,
                    TRenderSession& session, TBatchRun& batch) {
  struct TEnded {
    TBatchRun& Batch;
    const std::string& Name;
    ~TEnded() { Batch.Ended(Name); }
  } ended{batch, name};
  try {
    session.Inputs(); // the GL first, so that the note on the renderer comes before the job
    if (const std::string note = session.TakeNote(); !note.empty())
      display.Line(note);
    TJobOptions options = OptionsOf(args);
    batch.AddManifest(options);
    const std::vector<std::string> files = RunJob(
        options, name, session.Inputs(),
        [&](int32_t percent, const std::string& text) {
          batch.Progress(name, text);
          display.Progress(name, percent, text);
        },
        [&](const std::string& text) {
          batch.Warning(name, text);
          display.Warning(name, text);
        });
    display.ClearLine();
    display.EndJob(name);
    for (const std::string& file : files)
      display.Line("wrote " + file);
    return TOutcome::Rendered;
  } catch (const Interrupted&) {
    display.EndJob(name);
    display.Error(name + ": interrupted");
    batch.Failure(name, "interrupted");
    return TOutcome::Interrupted;
  } catch (const std::exception& e) {
    display.EndJob(name);
    display.Error(name + ": " + e.what());
    batch.Failure(name, e.what());
    return TOutcome::Failed;
  }
}

// The worker side: one job, reported line by line on standard output.
int RunWorker(const TRenderArgs& args) {
  auto say = [](const std::string& kind, const std::string& text) {
    std::string flat = text;
    std::replace(flat.begin(), flat.end(), '\n', ' ');
    std::cout << kind << (flat.empty() ? "" : " ") << flat << "\n" << std::flush;
  };
  InstallStopHandlers(false);
  try {
    const std::string& name = args.Settings.at(0);
    TRenderSession session(args);
    session.Inputs();
    if (const std::string note = session.TakeNote(); !note.empty())
      say("note", note);
    TJobOptions options = OptionsOf(args);
    TBatchRun batch(args.Batch, options, args.HalfAmbient);
    batch.Prepare();
    batch.AddManifest(options);
    const std::vector<std::string> files = RunJob(
        options, name, session.Inputs(),
        [&](int32_t percent, const std::string& text) {
          say("progress", std::to_string(percent) + " " + text);
        },
        [&](const std::string& text) { say("warning", text); });
    for (const std::string& file : files)
      say("wrote", file);
    return 0;
  } catch (const Interrupted& e) {
    say("interrupted", "");
    return 128 + e.Signal;
  } catch (const std::exception& e) {
    say("error", e.what());
    return 1;
  }
}

struct TWorker {
  std::string Name;
  pid_t Pid = -1;
  int Fd = -1;
  size_t Index = 0;         // in the list of jobs
  std::string Pending;      // a line not yet complete
  bool Failed = false;      // an "error" line came
  bool Interrupted = false; // an "interrupted" line came
  bool Signalled = false;   // the interrupt was passed on to it
};

pid_t SpawnWorker(const TRenderArgs& args, const std::string& name, const std::string& fingerprint,
                  int& readFd) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0)
    throw Error(std::string("cannot start a worker: ") + std::strerror(errno));
  std::vector<std::string> argv = {"quarvel-cli", "render", "--worker", "--format", args.Format};
  // The root only when the user gave one: without it the worker words its messages for
  // the default root, as this process would.
  if (args.RootGiven) {
    argv.push_back("--root");
    argv.push_back(args.Root);
  }
  if (!args.Out.empty()) {
    argv.push_back("--out");
    argv.push_back(args.Out);
  }
  if (!args.Dump.empty()) {
    argv.push_back("--dump-sheets");
    argv.push_back(args.Dump);
  }
  if (args.HalfAmbient)
    argv.push_back("--half-ambient");
  args.Input.AppendArguments(argv);
  if (args.NoWait)
    argv.push_back("--no-wait");
  for (const std::string& a : GLDeviceArguments(args.GLDevice))
    argv.push_back(a);
  if (!fingerprint.empty()) {
    argv.push_back("--fingerprint-value");
    argv.push_back(fingerprint);
  }
  argv.push_back("--");
  argv.push_back(name);
  std::vector<char*> cargv;
  for (std::string& a : argv)
    cargv.push_back(a.data());
  cargv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  pid_t pid = -1;
  const int rc = ::posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, cargv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (rc != 0) {
    ::close(fds[0]);
    throw Error(std::string("cannot start a worker: ") + std::strerror(rc));
  }
  readFd = fds[0];
  return pid;
}

// Runs the jobs in up to args.Jobs worker processes; returns each job's outcome.
std::vector<TOutcome> RenderInWorkers(const TRenderArgs& args,
                                      const std::vector<std::string>& names,
                                      TProgressDisplay& display, TBatchRun& batch) {
  std::vector<TOutcome> outcomes(names.size(), TOutcome::NotStarted);
  std::vector<TWorker> running;
  size_t next = 0;
  bool announced = false;
  // Set when the workers can no longer be watched: the running jobs are stopped and count
  // as failed, no other starts.
  bool abandoned = false;
  bool noted = false; // every worker notes the renderer; the user is told once

  // The self-pipe stays open until the program ends: closing it could hand its number to
  // another file while a handler is about to write to it.
  int wake[2];
  if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0)
    throw Error(std::string("cannot wait for workers: ") + std::strerror(errno));
  wakeFd.store(wake[1]);

  auto handleLine = [&](TWorker& w, const std::string& line) {
    const size_t space = line.find(' ');
    const std::string kind = line.substr(0, space);
    const std::string rest = space == std::string::npos ? std::string() : line.substr(space + 1);
    if (kind == "progress") {
      const size_t s2 = rest.find(' ');
      int percent = std::atoi(rest.substr(0, s2).c_str());
      const std::string text = s2 == std::string::npos ? "" : rest.substr(s2 + 1);
      batch.Progress(w.Name, text);
      display.Progress(w.Name, percent, text);
    } else if (kind == "note") {
      if (!std::exchange(noted, true))
        display.Line(rest);
    } else if (kind == "warning") {
      batch.Warning(w.Name, rest);
      display.Warning(w.Name, rest);
    } else if (kind == "wrote") {
      display.Line("wrote " + rest);
    } else if (kind == "error") {
      w.Failed = true;
      batch.Failure(w.Name, rest);
      display.Error(w.Name + ": " + rest);
    } else if (kind == "interrupted") {
      w.Interrupted = true;
      display.Error(w.Name + (abandoned ? ": stopped" : ": interrupted"));
    }
  };

  // Reads what a worker still has to say, until it closes its end.
  auto readSome = [&](TWorker& w) {
    char buffer[4096];
    const ssize_t n = ::read(w.Fd, buffer, sizeof buffer);
    if (n > 0) {
      w.Pending.append(buffer, static_cast<size_t>(n));
      size_t end;
      while ((end = w.Pending.find('\n')) != std::string::npos) {
        handleLine(w, w.Pending.substr(0, end));
        w.Pending.erase(0, end + 1);
      }
      return true;
    }
    return n < 0 && errno == EINTR;
  };

  // A worker whose output has ended: waits for it and records its outcome.
  auto reap = [&](TWorker& w) {
    ::close(w.Fd);
    int status = 0;
    while (::waitpid(w.Pid, &status, 0) < 0 && errno == EINTR) {
    }
    TOutcome outcome = TOutcome::Failed;
    if (abandoned || w.Failed)
      outcome = TOutcome::Failed;
    else if (w.Interrupted)
      outcome = TOutcome::Interrupted;
    else if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
      outcome = TOutcome::Rendered;
    else if (WIFSIGNALED(status) && InterruptSignal() != 0 &&
             (WTERMSIG(status) == SIGINT || WTERMSIG(status) == SIGTERM)) {
      // Stopped (from a terminal, or by us) before it had its own handler.
      outcome = TOutcome::Interrupted;
      display.Error(w.Name + ": interrupted");
    } else if (WIFSIGNALED(status)) {
      display.Error(w.Name + ": the worker ended by signal " + std::to_string(WTERMSIG(status)));
    } else {
      display.Error(w.Name + ": the worker failed with status " +
                    std::to_string(WEXITSTATUS(status)));
    }
    outcomes[w.Index] = outcome;
  };

  while (next < names.size() || !running.empty()) {
    if (const int signal = InterruptSignal()) {
      // No new job starts; every running one is asked to stop, once each.
      next = names.size();
      for (TWorker& w : running)
        if (!w.Signalled) {
          ::kill(w.Pid, signal);
          w.Signalled = true;
        }
      if (!announced) {
        announced = true;
        display.Error(running.empty() ? "interrupted: starting no other job"
                                      : "interrupted: stopping the running jobs, starting no "
                                        "other (a second interrupt ends at once)");
      }
    }
    while (next < names.size() && static_cast<int>(running.size()) < args.Jobs) {
      TWorker w;
      w.Index = next;
      w.Name = names[next++];
      try {
        w.Pid = SpawnWorker(args, w.Name, batch.Fingerprint(), w.Fd);
        running.push_back(std::move(w));
      } catch (const std::exception& e) {
        display.Error(w.Name + ": " + e.what());
        outcomes[w.Index] = TOutcome::Failed;
      }
    }
    if (running.empty())
      continue;

    std::vector<pollfd> fds;
    for (const TWorker& w : running)
      fds.push_back(pollfd{w.Fd, POLLIN, 0});
    fds.push_back(pollfd{wake[0], POLLIN, 0}); // last, after the workers' entries
    if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) {
      // Without poll() the workers cannot be followed. They are not left running on their
      // own: each is asked to stop (it writes nothing then), read to its end and waited
      // for, and only then is the failure reported in the summary.
      const int err = errno;
      abandoned = true;
      display.Error(std::string("cannot wait for the workers: ") + std::strerror(err) +
                    "; stopping the running jobs, starting no other");
      for (TWorker& w : running)
        ::kill(w.Pid, SIGTERM);
      for (TWorker& w : running) {
        while (readSome(w)) {
        }
        reap(w);
      }
      running.clear();
      break;
    }
    if (fds.back().revents & POLLIN) {
      char drain[64];
      while (::read(wake[0], drain, sizeof drain) > 0) {
      }
    }

    for (size_t i = 0; i < running.size();) {
      TWorker& w = running[i];
      if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)) || readSome(w)) {
        ++i;
        continue;
      }
      display.EndJob(w.Name);
      reap(w);
      batch.Ended(w.Name);
      running.erase(running.begin() + static_cast<ptrdiff_t>(i));
      fds.erase(fds.begin() + static_cast<ptrdiff_t>(i));
    }
  }
  wakeFd.store(-1);
  return outcomes;
}

// "2 of 3 jobs rendered; failed: bad". When an interrupt stopped something, the jobs
// rendered are named too, then those interrupted and those not started.
std::string Summary(const std::vector<std::string>& names, const std::vector<TOutcome>& outcomes,
                    bool interrupted) {
  auto listOf = [&](TOutcome which) {
    std::string list;
    for (size_t i = 0; i < names.size(); ++i)
      if (outcomes[i] == which)
        list += " " + names[i];
    return list;
  };
  const size_t rendered =
      static_cast<size_t>(std::count(outcomes.begin(), outcomes.end(), TOutcome::Rendered));
  const size_t upToDate =
      static_cast<size_t>(std::count(outcomes.begin(), outcomes.end(), TOutcome::UpToDate));
  std::string summary = std::to_string(rendered) + " of " + std::to_string(names.size()) +
                        (names.size() == 1 ? " job" : " jobs") + " rendered";
  if (upToDate > 0)
    summary += ", " + std::to_string(upToDate) + " up to date";
  if (interrupted && rendered > 0)
    summary += ":" + listOf(TOutcome::Rendered);
  for (const auto& [which, label] :
       {std::pair{TOutcome::Failed, "failed:"}, std::pair{TOutcome::Interrupted, "interrupted:"},
        std::pair{TOutcome::NotStarted, "not started:"}}) {
    const std::string list = listOf(which);
    if (!list.empty())
      summary += std::string("; ") + label + list;
  }
  return summary;
}

void RunRender(TRenderArgs& args) {
  LowerCaseASCII(args.Format);
  args.Input.Apply();
  ApplyGLDeviceOptions(args.GLDevice);
  for (const std::string& a : GLDeviceArguments(args.GLDevice))
    args.Batch.DeviceChoice += a + " ";
  if (const char* env = std::getenv("QUARVEL_GL_DEVICE"))
    args.Batch.DeviceChoice += std::string("QUARVEL_GL_DEVICE=") + env;
  LowerCaseASCII(args.Progress);
  if (args.Worker) {
    SetExitCode(RunWorker(args));
    return;
  }

  std::vector<std::string> problems;
  const std::vector<std::string> names =
      SelectJobs(args.Root, args.Settings, args.All, args.Batch.Shard, &problems);
  for (const std::string& problem : problems)
    if (!args.Quiet)
      std::cerr << "warning: " << ForTerminal(problem) << std::endl;
  // Better said once than by every job.
  std::error_code ec;
  if (!args.Out.empty() && std::filesystem::exists(args.Out, ec) &&
      !std::filesystem::is_directory(args.Out, ec))
    throw Error("--out " + args.Out +
                ": that file is in the way: --out names the folder the "
                "outputs go into (it is made when missing)");

  InstallStopHandlers(true);
  TProgressDisplay display(args.Quiet, names.size() > 1, ProgressModeOf(args.Progress));
  TBatchRun batch(args.Batch, OptionsOf(args), args.HalfAmbient);
  batch.Prepare();
  // Jobs whose manifest says their output is what they would write now are skipped.
  std::vector<TOutcome> outcomes(names.size(), TOutcome::NotStarted);
  std::vector<std::string> toRender;
  std::vector<size_t> renderIndex;
  auto check = [&](bool quietly) {
    toRender.clear();
    renderIndex.clear();
    for (size_t i = 0; i < names.size(); ++i) {
      outcomes[i] = TOutcome::NotStarted;
      if (batch.UpToDate(names[i], [&](const std::string& text) {
            if (!quietly)
              display.Warning(names[i], text);
          })) {
        outcomes[i] = TOutcome::UpToDate;
      } else {
        toRender.push_back(names[i]);
        renderIndex.push_back(i);
      }
    }
  };
  check(false);
  // Something renders, so GL is needed anyway: a fingerprint from the cache is measured
  // now, and when the driver turns out to have changed, every job is checked again.
  if (!toRender.empty() && batch.ConfirmFingerprint())
    check(true);
  for (size_t i = 0; i < names.size(); ++i)
    if (outcomes[i] == TOutcome::UpToDate)
      display.Line(names[i] + ": up to date");
  std::vector<TOutcome> rendered;
  if (args.Jobs > 1 && toRender.size() > 1) {
    rendered = RenderInWorkers(args, toRender, display, batch);
  } else {
    TRenderSession session(args);
    for (const std::string& name : toRender)
      rendered.push_back(InterruptSignal() ? TOutcome::NotStarted
                                           : RenderHere(args, name, display, session, batch));
  }
  for (size_t k = 0; k < rendered.size(); ++k)
    outcomes[renderIndex[k]] = rendered[k];

  // An interrupt that came after the last job was done stopped nothing.
  const bool stopped = std::any_of(outcomes.begin(), outcomes.end(), [](TOutcome o) {
    return o == TOutcome::Interrupted || o == TOutcome::NotStarted;
  });
  const bool allRendered = std::all_of(outcomes.begin(), outcomes.end(), [](TOutcome o) {
    return o == TOutcome::Rendered || o == TOutcome::UpToDate;
  });
  // The dependency file and the report, then the time per phase, then the summary.
  bool written = true;
  try {
    const std::string phases = batch.Finish(names, outcomes);
    if (!phases.empty())
      display.Line(phases);
  } catch (const std::exception& e) {
    display.Error(e.what());
    written = false;
  }
  const std::string summary = Summary(names, outcomes, stopped);
  if (allRendered && written)
    display.Line(summary);
  else
    display.Error(summary);
  // A worker stopped by a signal sent to it alone counts as interrupted, but the program
  // was not: its status says that something failed.
  const int signal = InterruptSignal();
  SetExitCode(stopped && signal != 0 ? 128 + signal : allRendered && written ? 0 : 1);
}

RegisterCommand reg("render", [](CLI::App& app) {
  auto args = std::make_shared<TRenderArgs>();
  CLI::App* sub =
      app.add_subcommand("render", "Render jobs (.settings files) to one sprite file per angle.");
  sub->add_option("SETTINGS", args->Settings,
                  "Settings names as the window lists them: relative to the root, without "
                  "\".settings\" (a path ending in \".settings\" is accepted too)");
  sub->add_option("--root", args->Root,
                  "Folder the settings, includes, models and shader files are below "
                  "(default: the current folder)");
  sub->add_option("--format", args->Format, "Output format: kxz (containers + .p16) or 2p5d")
      ->check(CLI::IsMember({"kxz", "2p5d"}, CLI::ignore_case));
  sub->add_option("--out", args->Out,
                  "Folder the output names are relative to (default: the current folder); "
                  "every output is written inside it");
  sub->add_option("--jobs,-j", args->Jobs, "Render up to N jobs at once in worker processes")
      ->check(CLI::Range(1, 64));
  sub->add_option("--dump-sheets", args->Dump,
                  "Also write NAME_a.colour.png, NAME_a.depth.png and NAME_a.side.png of every "
                  "angle (after gap removal, before the palette) below DIR");
  sub->add_flag("--quiet,-q", args->Quiet, "Print only errors");
  sub->add_option("--progress", args->Progress,
                  "How progress is shown: bar (one line redrawn with every step; the default "
                  "on a terminal), plain (each step once, then a line at most every 10% or 5 s; "
                  "the default otherwise) or none")
      ->check(CLI::IsMember({"plain", "bar", "none"}, CLI::ignore_case));
  sub->add_flag("--all", args->All, "Render every settings file below the root");
  sub->add_flag("--half-ambient", args->HalfAmbient,
                "Light every face with material the ambient colour (0.5, 0.5, 0.5) instead of "
                "its Ka, like the window's \"Force Half Ambient\" box (changes the output)");
  args->Input.AddTo(sub);
  sub->add_flag("--no-wait", args->NoWait,
                "Fail a job at once when another render is writing the same output files, "
                "instead of waiting for it to finish");
  AddGLDeviceOptions(*sub, args->GLDevice);
  AddBatchOptions(*sub, args->Batch);
  sub->add_flag("--worker", args->Worker, "Internal: run one job for a parent process")->group("");
  sub->callback([args, sub] {
    args->RootGiven = sub->count("--root") > 0;
    RunRender(*args);
  });
});

} // namespace

} // namespace quarvel::cli
