// quarvel-cli render SETTINGS... : render jobs to sprite files, headless.
//
// Jobs run one after another in this process, or with --jobs N in up to N worker
// processes (each its own GL context): the worker is this program run again with the
// hidden option --worker, which renders one job and reports on its standard output in
// lines the parent reads:
//   progress PERCENT TEXT | warning TEXT | wrote FILE | error MESSAGE
// A job that fails does not stop the others; the exit status is 0 only when every job
// succeeded.
#include "common/FileLists.h"
#include "cli/Command.h"
#include "common/Error.h"
#include "common/FileLookup.h"
#include "jobs/JobRunner.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <map>
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
  std::string Format = "kxz";
  std::string Out;
  int Jobs = 1;
  std::string Dump;
  bool Quiet = false;
  bool All = false;
  bool Worker = false;
};

// What the user sees while jobs run. Progress goes to standard output: on a terminal as
// one line redrawn in place (bar, percentage, status text), otherwise as one line per
// new status text. Warnings and errors go to standard error. Quiet keeps only errors.
class TProgressDisplay {
public:
  TProgressDisplay(bool quiet, bool multipleJobs)
      : Quiet(quiet), Prefixed(multipleJobs), Terminal(::isatty(STDOUT_FILENO) == 1) {}

  void Progress(const std::string& job, int percent, const std::string& text) {
    if (Quiet)
      return;
    const std::string shown = (Prefixed ? job + ": " : std::string()) + text;
    if (!Terminal) {
      if (LastText[job] != text) {
        LastText[job] = text;
        std::cout << shown << std::endl;
      }
      return;
    }
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

  void Warning(const std::string& text) {
    if (Quiet)
      return;
    ClearLine();
    std::cerr << "warning: " << text << std::endl;
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
  bool Terminal;
  bool LineShown = false;
  std::map<std::string, std::string> LastText;
};

TJobOptions OptionsOf(const TRenderArgs& args) {
  TJobOptions options;
  options.RootDir = args.Root;
  options.OutputDir = args.Out;
  options.DumpSheetsDir = args.Dump;
  options.AsKXZ = args.Format == "kxz";
  return options;
}

// One job in this process; true when it succeeded.
bool RenderHere(const TRenderArgs& args, const std::string& name, TProgressDisplay& display) {
  try {
    const std::vector<std::string> files = RunJob(
        OptionsOf(args), name,
        [&](int32_t percent, const std::string& text) { display.Progress(name, percent, text); },
        [&](const std::string& text) { display.Warning(text); });
    display.ClearLine();
    for (const std::string& file : files)
      display.Line("wrote " + file);
    return true;
  } catch (const std::exception& e) {
    display.Error(name + ": " + e.what());
    return false;
  }
}

// The worker side: one job, reported line by line on standard output.
int RunWorker(const TRenderArgs& args) {
  auto say = [](const std::string& kind, const std::string& text) {
    std::string flat = text;
    std::replace(flat.begin(), flat.end(), '\n', ' ');
    std::cout << kind << " " << flat << "\n" << std::flush;
  };
  try {
    const std::string& name = args.Settings.at(0);
    const std::vector<std::string> files = RunJob(
        OptionsOf(args), name,
        [&](int32_t percent, const std::string& text) {
          say("progress", std::to_string(percent) + " " + text);
        },
        [&](const std::string& text) { say("warning", text); });
    for (const std::string& file : files)
      say("wrote", file);
    return 0;
  } catch (const std::exception& e) {
    say("error", e.what());
    return 1;
  }
}

struct TWorker {
  std::string Name;
  pid_t Pid = -1;
  int Fd = -1;
  std::string Pending; // a line not yet complete
  bool Failed = false; // an "error" line came
};

pid_t SpawnWorker(const TRenderArgs& args, const std::string& name, int& readFd) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0)
    throw Error(std::string("cannot start a worker: ") + std::strerror(errno));
  std::vector<std::string> argv = {"quarvel-cli", "render",   "--worker", "--root",
                                   args.Root,     "--format", args.Format};
  if (!args.Out.empty()) {
    argv.push_back("--out");
    argv.push_back(args.Out);
  }
  if (!args.Dump.empty()) {
    argv.push_back("--dump-sheets");
    argv.push_back(args.Dump);
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

// Runs the jobs in up to args.Jobs worker processes; returns the names that failed.
std::vector<std::string> RenderInWorkers(const TRenderArgs& args,
                                         const std::vector<std::string>& names,
                                         TProgressDisplay& display) {
  std::vector<std::string> failed;
  std::vector<TWorker> running;
  size_t next = 0;

  auto handleLine = [&](TWorker& w, const std::string& line) {
    const size_t space = line.find(' ');
    const std::string kind = line.substr(0, space);
    const std::string rest = space == std::string::npos ? std::string() : line.substr(space + 1);
    if (kind == "progress") {
      const size_t s2 = rest.find(' ');
      int percent = std::atoi(rest.substr(0, s2).c_str());
      display.Progress(w.Name, percent, s2 == std::string::npos ? "" : rest.substr(s2 + 1));
    } else if (kind == "warning") {
      display.Warning(rest);
    } else if (kind == "wrote") {
      display.Line("wrote " + rest);
    } else if (kind == "error") {
      w.Failed = true;
      display.Error(w.Name + ": " + rest);
    }
  };

  while (next < names.size() || !running.empty()) {
    while (next < names.size() && static_cast<int>(running.size()) < args.Jobs) {
      TWorker w;
      w.Name = names[next++];
      try {
        w.Pid = SpawnWorker(args, w.Name, w.Fd);
        running.push_back(std::move(w));
      } catch (const std::exception& e) {
        display.Error(w.Name + ": " + e.what());
        failed.push_back(w.Name);
      }
    }
    if (running.empty())
      continue;

    std::vector<pollfd> fds;
    for (const TWorker& w : running)
      fds.push_back(pollfd{w.Fd, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR)
      throw Error(std::string("waiting for workers: ") + std::strerror(errno));

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
      int status = 0;
      while (::waitpid(w.Pid, &status, 0) < 0 && errno == EINTR) {
      }
      bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && !w.Failed;
      if (!ok && !w.Failed) {
        if (WIFSIGNALED(status))
          display.Error(w.Name + ": the worker ended by signal " +
                        std::to_string(WTERMSIG(status)));
        else
          display.Error(w.Name + ": the worker failed with status " +
                        std::to_string(WEXITSTATUS(status)));
      }
      if (!ok)
        failed.push_back(w.Name);
      running.erase(running.begin() + static_cast<ptrdiff_t>(i));
      fds.erase(fds.begin() + static_cast<ptrdiff_t>(i));
    }
  }
  return failed;
}

void RunRender(TRenderArgs& args) {
  std::transform(args.Format.begin(), args.Format.end(), args.Format.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (args.Worker) {
    SetExitCode(RunWorker(args));
    return;
  }

  std::vector<std::string> names;
  if (args.All) {
    if (!args.Settings.empty())
      throw Error("give settings names or --all, not both");
    std::string dir = NormaliseSeparators(args.Root);
    if (dir.empty() || dir.back() != '/')
      dir += "/";
    ScanSettingsFiles(args.Root, dir, names);
    if (names.empty())
      throw Error("no .settings file below " + args.Root);
  } else {
    if (args.Settings.empty())
      throw Error("name at least one settings file, or use --all");
    for (const std::string& s : args.Settings)
      names.push_back(SettingsNameFromArgument(args.Root, s));
  }

  TProgressDisplay display(args.Quiet, names.size() > 1);
  std::vector<std::string> failed;
  if (args.Jobs > 1 && names.size() > 1) {
    failed = RenderInWorkers(args, names, display);
  } else {
    for (const std::string& name : names)
      if (!RenderHere(args, name, display))
        failed.push_back(name);
  }

  const size_t succeeded = names.size() - failed.size();
  std::string summary = std::to_string(succeeded) + " of " + std::to_string(names.size()) +
                        (names.size() == 1 ? " job" : " jobs") + " rendered";
  if (!failed.empty()) {
    summary += "; failed:";
    for (const std::string& f : failed)
      summary += " " + f;
    display.Error(summary);
  } else {
    display.Line(summary);
  }
  SetExitCode(failed.empty() ? 0 : 1);
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
  sub->add_flag("--all", args->All, "Render every settings file below the root");
  sub->add_flag("--worker", args->Worker, "Internal: run one job for a parent process")->group("");
  sub->callback([args] { RunRender(*args); });
});

} // namespace

} // namespace quarvel::cli
