// quarvel-cli render SETTINGS... : render jobs to sprite files, headless.
//
// Jobs run one after another in this process, or with --jobs N in up to N worker
// processes (each its own GL context): the worker is this program run again with the
// hidden option --worker, which renders one job and reports on its standard output in
// lines the parent reads:
//   progress PERCENT TEXT | warning TEXT | wrote FILE | error MESSAGE | interrupted
// A job that fails does not stop the others; the exit status is 0 only when every job
// succeeded.
//
// Interruption: the first SIGINT or SIGTERM asks the jobs to stop. The running job stops
// at its next progress report (or, at the latest, right before its files would replace
// the old ones) and writes nothing; no further job starts; the summary names the jobs
// rendered, interrupted and not started; the exit status is 128 + the signal (130, 143).
// With workers the parent passes the signal on to every running worker and waits for
// them. A second signal in the program the user started ends it at once (its handler is
// reset by the first), which may leave a temporary ".NAME.tmp-XXXXXX" behind. Workers
// keep their handler: a Ctrl-C on a terminal reaches them directly as well as through
// the parent, and must count as one request.
#include "cli/Command.h"
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
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <map>
#include <memory>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

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
    }
    return Inputs_;
  }

private:
  const TRenderArgs& Args_;
  std::unique_ptr<TShaderSet> Shaders_;
  TRenderInputs Inputs_;
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
        std::cout << prefix << line << std::endl;
      return;
    }
    const std::string shown = prefix + text;
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
    std::cout << text << std::endl;
  }

  void Warning(const std::string& job, const std::string& text) {
    if (Quiet || ++WarningCount[job] > MaxShownWarnings)
      return;
    ClearLine();
    std::cerr << "warning: " << text << std::endl;
  }

  // The count of the job's warnings that were not shown.
  void EndJob(const std::string& job) {
    const std::string more = MoreWarningsNote(WarningCount[job]);
    if (Quiet || more.empty())
      return;
    ClearLine();
    std::cerr << "warning: " << (Prefixed ? job + ": " : std::string()) << more << std::endl;
  }

  void Error(const std::string& text) {
    ClearLine();
    std::cerr << "quarvel-cli: " << text << std::endl;
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

void OnStopSignal(int signal) {
  const int savedErrno = errno;
  RequestInterrupt(signal);
  const int fd = wakeFd.load();
  if (fd >= 0) {
    const char byte = 0;
    [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1); // a full pipe wakes anyway
  }
  errno = savedErrno;
}

// secondEndsAtOnce: the first signal resets the handler, so a second one has its default
// effect. A signal ignored from the start (a job started in the background by a shell
// without job control) stays ignored.
void InstallStopHandlers(bool secondEndsAtOnce) {
  for (const int signal : {SIGINT, SIGTERM}) {
    struct sigaction previous {};
    if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
      continue;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // SA_RESTART: reads and writes go on (an interrupted write would leave std::cout bad);
    // poll() returns anyway, and the self-pipe wakes it.
    action.sa_flags = SA_RESTART | (secondEndsAtOnce ? SA_RESETHAND : 0);
    ::sigaction(signal, &action, nullptr);
  }
}

enum class TOutcome { NotStarted, Rendered, Failed, Interrupted };

TJobOptions OptionsOf(const TRenderArgs& args, const std::string& name) {
  TJobOptions options;
  options.RootDir = args.Root;
  options.OutputDir = args.Out;
  options.DumpSheetsDir = args.Dump;
  options.AsKXZ = args.Format == "kxz";
  if (!args.RootGiven)
    options.MissingInputHint = RootHint(name);
  return options;
}

// One job in this process.
TOutcome RenderHere(const TRenderArgs& args, const std::string& name, TProgressDisplay& display,
                    TRenderSession& session) {
  try {
    const std::vector<std::string> files = RunJob(
        OptionsOf(args, name), name, session.Inputs(),
        [&](int32_t percent, const std::string& text) { display.Progress(name, percent, text); },
        [&](const std::string& text) { display.Warning(name, text); });
    display.ClearLine();
    display.EndJob(name);
    for (const std::string& file : files)
      display.Line("wrote " + file);
    return TOutcome::Rendered;
  } catch (const Interrupted&) {
    display.EndJob(name);
    display.Error(name + ": interrupted");
    return TOutcome::Interrupted;
  } catch (const std::exception& e) {
    display.EndJob(name);
    display.Error(name + ": " + e.what());
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
    const std::vector<std::string> files = RunJob(
        OptionsOf(args, name), name, session.Inputs(),
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

pid_t SpawnWorker(const TRenderArgs& args, const std::string& name, int& readFd) {
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
                                      TProgressDisplay& display) {
  std::vector<TOutcome> outcomes(names.size(), TOutcome::NotStarted);
  std::vector<TWorker> running;
  size_t next = 0;
  bool announced = false;

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
      display.Progress(w.Name, percent, s2 == std::string::npos ? "" : rest.substr(s2 + 1));
    } else if (kind == "warning") {
      display.Warning(w.Name, rest);
    } else if (kind == "wrote") {
      display.Line("wrote " + rest);
    } else if (kind == "error") {
      w.Failed = true;
      display.Error(w.Name + ": " + rest);
    } else if (kind == "interrupted") {
      w.Interrupted = true;
      display.Error(w.Name + ": interrupted");
    }
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
        w.Pid = SpawnWorker(args, w.Name, w.Fd);
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
    if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR)
      throw Error(std::string("waiting for workers: ") + std::strerror(errno));
    if (fds.back().revents & POLLIN) {
      char drain[64];
      while (::read(wake[0], drain, sizeof drain) > 0) {
      }
    }

    for (size_t i = 0; i < running.size();) {
      TWorker& w = running[i];
      bool ended = false;
      if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
        char buffer[4096];
        const ssize_t n = ::read(w.Fd, buffer, sizeof buffer);
        if (n > 0) {
          w.Pending.append(buffer, static_cast<size_t>(n));
          size_t end;
          while ((end = w.Pending.find('\n')) != std::string::npos) {
            handleLine(w, w.Pending.substr(0, end));
            w.Pending.erase(0, end + 1);
          }
        } else if (n == 0 || errno != EINTR) {
          ended = true;
        }
      }
      if (!ended) {
        ++i;
        continue;
      }
      ::close(w.Fd);
      display.EndJob(w.Name);
      int status = 0;
      while (::waitpid(w.Pid, &status, 0) < 0 && errno == EINTR) {
      }
      TOutcome outcome = TOutcome::Failed;
      if (w.Failed)
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
  std::string summary = std::to_string(rendered) + " of " + std::to_string(names.size()) +
                        (names.size() == 1 ? " job" : " jobs") + " rendered";
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
  LowerCaseASCII(args.Progress);
  if (args.Worker) {
    SetExitCode(RunWorker(args));
    return;
  }

  std::vector<std::string> names;
  if (args.All) {
    if (!args.Settings.empty())
      throw CLI::ValidationError("give settings names or --all, not both");
    std::string dir = NormaliseSeparators(args.Root);
    if (dir.empty() || dir.back() != '/')
      dir += "/";
    std::vector<std::string> problems;
    ScanSettingsFiles(args.Root, dir, names, &problems);
    for (const std::string& problem : problems)
      if (!args.Quiet)
        std::cerr << "warning: " << problem << std::endl;
    if (names.empty())
      throw Error("no .settings file below " + args.Root);
  } else {
    if (args.Settings.empty())
      throw CLI::ValidationError("name at least one settings file, or use --all");
    for (const std::string& s : args.Settings)
      names.push_back(SettingsNameFromArgument(args.Root, s));
  }

  InstallStopHandlers(true);
  TProgressDisplay display(args.Quiet, names.size() > 1, ProgressModeOf(args.Progress));
  std::vector<TOutcome> outcomes;
  if (args.Jobs > 1 && names.size() > 1) {
    outcomes = RenderInWorkers(args, names, display);
  } else {
    TRenderSession session(args);
    for (const std::string& name : names)
      outcomes.push_back(InterruptSignal() ? TOutcome::NotStarted
                                           : RenderHere(args, name, display, session));
  }

  // An interrupt that came after the last job was done stopped nothing.
  const bool stopped = std::any_of(outcomes.begin(), outcomes.end(), [](TOutcome o) {
    return o == TOutcome::Interrupted || o == TOutcome::NotStarted;
  });
  const bool allRendered = std::all_of(outcomes.begin(), outcomes.end(),
                                       [](TOutcome o) { return o == TOutcome::Rendered; });
  const std::string summary = Summary(names, outcomes, stopped);
  if (allRendered)
    display.Line(summary);
  else
    display.Error(summary);
  // A worker stopped by a signal sent to it alone counts as interrupted, but the program
  // was not: its status says that something failed.
  const int signal = InterruptSignal();
  SetExitCode(stopped && signal != 0 ? 128 + signal : allRendered ? 0 : 1);
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
                  "Folder the output names are relative to (default: the current folder)");
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
  sub->add_flag("--worker", args->Worker, "Internal: run one job for a parent process")->group("");
  sub->callback([args, sub] {
    args->RootGiven = sub->count("--root") > 0;
    RunRender(*args);
  });
});

} // namespace

} // namespace quarvel::cli
