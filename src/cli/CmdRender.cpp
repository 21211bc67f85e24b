// quarvel-cli render SETTINGS... : render jobs to sprite files, headless.
//
// Jobs run one after another in this process, or with --jobs N in up to N worker
// processes (each its own GL context): the worker is this program run again with the
// hidden option --worker and the parent's options, which renders one job and reports on
// its standard output in lines the parent reads (cli/WorkerPool.h).
// A job that fails does not stop the others. The exit status says what a scheduler should
// do (ExitStatus): 0 when every job rendered or was up to date, 1 when a job failed on its
// input (retrying will not help), 3 when one failed for a reason of the machine (another
// try may pass), 128 + the signal when interrupted.
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
#include "cli/ProgressDisplay.h"
#include "cli/SheetOptions.h"
#include "cli/WorkerPool.h"
#include "common/Error.h"
#include "common/Interrupt.h"
#include "common/Path.h"
#include "common/Text.h"
#include "jobs/JobRunner.h"
#include "platform/Platform.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <utility>

namespace quarvel::cli {

namespace {

struct TRenderArgs {
  std::vector<std::string> Settings;
  std::string Root = ".";
  bool RootGiven = false; // --root was on the command line
  std::string Progress;   // "", "plain", "bar", "openjd" or "none"
  std::string Format = "kxz";
  std::string Out;
  int Jobs = 1;
  std::string Dump;
  bool Quiet = false;
  bool All = false;
  bool Worker = false;
  bool HalfAmbient = false;
  TInputOptions Input;
  TSheetArgs Sheets;
  bool NoWait = false;
  int LockTimeout = 0;
  TGLDeviceOptions GLDevice;
  TBatchOptions Batch;
  // The command line a worker starts with (WorkerArguments).
  std::vector<std::string> WorkerArguments;
};

// The options of the parent alone, which a worker is not given: those that say which jobs
// run (the settings names, --all, --shard) and how many at once, and the fingerprint the
// parent checked. A worker is handed the fingerprint the parent measured instead; with the
// required one as well, a worker of a parent that could measure none would measure again
// and fail its job with the fingerprint's message rather than the renderer's.
const char* const ParentOnlyOptions[] = {
    "--all", "--shard", "--jobs", "--worker", "--require-fingerprint", "--fingerprint-value"};

// A worker's command line: this command's own options as the user gave them (each value
// as it was written, so the worker reads it as this process did), without the parent's
// alone. An option added to the command reaches the workers without more ado.
std::vector<std::string> WorkerArguments(const CLI::App& sub) {
  std::vector<std::string> argv = {"quarvel-cli", "render", "--worker"};
  for (const CLI::Option* option : sub.get_options()) {
    if (option->count() == 0 || option->get_lnames().empty())
      continue; // not given, or the settings names
    const std::string name = "--" + option->get_lnames().front();
    if (std::find(std::begin(ParentOnlyOptions), std::end(ParentOnlyOptions), name) !=
        std::end(ParentOnlyOptions))
      continue;
    // "--name=value": also a value that starts with "-", and a flag's "true".
    for (const std::string& value : option->results())
      argv.push_back(name + "=" + value);
  }
  return argv;
}

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

// endsAtOnce: a second request ends the program at once (see the top of this file).
void InstallStopHandlers(bool endsAtOnce) {
  platform::InstallStopHandlers(endsAtOnce, {RequestInterrupt, InterruptSignal});
}

// How a job that threw `e` failed: on its input, or for a reason another try may not meet.
TOutcome FailureOf(const std::exception& e) {
  return dynamic_cast<const TransientError*>(&e) ? TOutcome::FailedTransient : TOutcome::Failed;
}

TJobOptions OptionsOf(const TRenderArgs& args) {
  TJobOptions options;
  options.RootDir = args.Root;
  options.OutputDir = args.Out;
  options.DumpSheetsDir = args.Dump;
  options.Format = FormatFromWord(args.Format);
  args.Sheets.ApplyTo(options, args.Format);
  options.MaxTexturePixels = args.Input.MaxTexturePixels;
  options.WaitForOutput = !args.NoWait;
  options.WaitLimitSeconds = args.LockTimeout;
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
    return FailureOf(e);
  }
}

// The worker side: one job, reported line by line on standard output.
int RunWorker(const TRenderArgs& args) {
  using TKind = TWorkerPool::TMessage::TKind;
  auto say = [](TKind kind, const std::string& text, int percent = 0) {
    TWorkerPool::Report({kind, percent, text});
  };
  InstallStopHandlers(false);
  try {
    const std::string& name = args.Settings.at(0);
    TRenderSession session(args);
    session.Inputs();
    if (const std::string note = session.TakeNote(); !note.empty())
      say(TKind::Note, note);
    TJobOptions options = OptionsOf(args);
    TBatchRun batch(args.Batch, options, args.HalfAmbient);
    batch.Prepare();
    batch.AddManifest(options);
    const std::vector<std::string> files = RunJob(
        options, name, session.Inputs(),
        [&](int32_t percent, const std::string& text) { say(TKind::Progress, text, percent); },
        [&](const std::string& text) { say(TKind::Warning, text); });
    for (const std::string& file : files)
      say(TKind::Wrote, file);
    return 0;
  } catch (const Interrupted& e) {
    say(TKind::Interrupted, "");
    return 128 + e.Signal;
  } catch (const std::exception& e) {
    say(TKind::Error, e.what());
    return FailureOf(e) == TOutcome::FailedTransient ? ExitTransient : ExitFailed;
  }
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
       {std::pair{TOutcome::Failed, "failed:"},
        std::pair{TOutcome::FailedTransient, "failed, may pass on another try:"},
        std::pair{TOutcome::Interrupted, "interrupted:"},
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
  if (!args.Out.empty() && std::filesystem::exists(PathOf(args.Out), ec) &&
      !std::filesystem::is_directory(PathOf(args.Out), ec))
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
      bool upToDate = false;
      try {
        upToDate = batch.UpToDate(names[i], [&](const std::string& text) {
          if (!quietly)
            display.Warning(names[i], text);
        });
      } catch (const Error& e) {
        // Something that is not a manifest has the manifest's name: the set cannot be
        // written over it, so the job fails now rather than after its rendering.
        outcomes[i] = FailureOf(e);
        if (!quietly) {
          display.Error(names[i] + ": " + e.what());
          batch.Failure(names[i], e.what());
          display.JobDone(names[i], OutcomeWord(outcomes[i]));
        }
        continue;
      }
      if (upToDate) {
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
  display.Jobs(names.size());
  for (size_t i = 0; i < names.size(); ++i)
    if (outcomes[i] == TOutcome::UpToDate) {
      display.Line(names[i] + ": up to date");
      display.JobDone(names[i], OutcomeWord(outcomes[i]));
    }
  std::vector<TOutcome> rendered;
  if (args.Jobs > 1 && toRender.size() > 1) {
    rendered = TWorkerPool(args.WorkerArguments, args.Jobs).Run(toRender, display, batch);
  } else {
    TRenderSession session(args);
    for (const std::string& name : toRender) {
      if (InterruptSignal()) {
        rendered.push_back(TOutcome::NotStarted);
        continue;
      }
      rendered.push_back(RenderHere(args, name, display, session, batch));
      display.JobDone(name, OutcomeWord(rendered.back()));
    }
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
  const bool anyTransient =
      std::find(outcomes.begin(), outcomes.end(), TOutcome::FailedTransient) != outcomes.end();
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
  // was not: its status says that something failed. Of the failures, one that may pass on
  // another try outranks one of the input: a scheduler that retries the shard renders
  // only what failed (the rest is up to date), and one that gave up on it would leave a
  // job unrendered that the next try would render.
  const int signal = InterruptSignal();
  SetExitCode(stopped && signal != 0   ? 128 + signal
              : allRendered && written ? 0
              : anyTransient           ? ExitTransient
                                       : ExitFailed);
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
  sub->add_option("--format", args->Format,
                  "Output format: kxz (containers + .p16), 2p5d, or png (RGBA sprite sheets "
                  "NAME_a.png with a JSON atlas NAME_a.json each)")
      ->check(CLI::IsMember({"kxz", "2p5d", "png"}, CLI::ignore_case));
  args->Sheets.AddTo(sub);
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
                  "the default otherwise), openjd (for render farms: only \"openjd_progress: "
                  "P\" over the whole run and one \"openjd_status: JOB: OUTCOME\" per job on "
                  "standard output, every other line on standard error) or none")
      ->check(CLI::IsMember({"plain", "bar", "openjd", "none"}, CLI::ignore_case));
  sub->add_flag("--all", args->All, "Render every settings file below the root");
  sub->add_flag("--half-ambient", args->HalfAmbient,
                "Light every face with material the ambient colour (0.5, 0.5, 0.5) instead of "
                "its Ka, like the window's \"Force Half Ambient\" box (changes the output)");
  args->Input.AddTo(sub);
  sub->add_flag("--no-wait", args->NoWait,
                "Fail a job at once when another render is writing the same output files, "
                "instead of waiting for it to finish");
  sub->add_option("--lock-timeout", args->LockTimeout,
                  "Wait at most SECONDS for another render writing the same output files, then "
                  "fail the job as one that may pass on another try (exit status 3); default: "
                  "wait as long as it takes")
      ->check(CLI::Range(1, 7 * 24 * 3600))
      ->type_name("SECONDS");
  AddGLDeviceOptions(*sub, args->GLDevice);
  AddBatchOptions(*sub, args->Batch);
  sub->add_flag("--worker", args->Worker, "Internal: run one job for a parent process")->group("");
  sub->callback([args, sub] {
    args->RootGiven = sub->count("--root") > 0;
    args->WorkerArguments = WorkerArguments(*sub);
    RunRender(*args);
  });
});

} // namespace

} // namespace quarvel::cli
