// Batch pipelines around `render`: which jobs a run takes (names, --all, --shard), the
// up-to-date check with the jobs' manifests (--force, --require-fingerprint), the
// dependency file for build tools (--depfile), and the run report (--report) with the
// time each job spent per phase. `list` shares the job selection.
#pragma once

#include "jobs/JobRunner.h"
#include "jobs/Manifest.h"

#include <CLI/CLI.hpp>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace quarvel::cli {

// The job names a command line names: settings arguments as SettingsNameFromArgument
// takes them, or every settings file below the root with --all; then only those of shard
// `shard` ("K/N", "" = all). Throws CLI::ValidationError (exit status 2) for no names or
// both kinds and for a --shard that is not K/N with 1 <= K <= N. Folders --all cannot read
// and dangling settings links are added to `problems` when given.
std::vector<std::string> SelectJobs(const std::string& root,
                                    const std::vector<std::string>& settings, bool all,
                                    const std::string& shard,
                                    std::vector<std::string>* problems = nullptr);

// The options of render that this file owns.
struct TBatchOptions {
  std::string Shard;
  std::string Depfile;
  std::string Report;
  std::string RequireFingerprint;
  std::string FingerprintValue; // internal: a worker takes its parent's fingerprint
  bool Force = false;
  // What picks the OpenGL device (--renderer, --gl-device, QUARVEL_GL_DEVICE): part of the
  // fingerprint cache's key, so a cached value never stands for another device.
  std::string DeviceChoice;
};
void AddBatchOptions(CLI::App& render, TBatchOptions& options);

// What happened to a job in a run. FailedTransient: failed for a reason of the machine
// (common/Error.h's TransientError, a worker that was killed), which another try may not meet.
enum class TOutcome { NotStarted, Rendered, Failed, Interrupted, UpToDate, FailedTransient };

// Wall time per phase of a job, told by its status texts.
constexpr int PhaseCount = 7;
extern const char* const PhaseNames[PhaseCount]; // "load", "pass 1", ... "saving"
// The phase a job's status text starts, or -1 for a text that continues the current one.
int PhaseOfStatus(const std::string& text);
// "rendered", "failed", "up to date", ...: the outcome as the report and the farm lines say it.
const char* OutcomeWord(TOutcome outcome);

// One run of render: the fingerprint, the file hashes, and a record per job.
class TBatchRun {
public:
  TBatchRun(const TBatchOptions& options, const TJobOptions& jobOptions, bool halfAmbient);

  // Measures (or, in a worker, takes) the renderer fingerprint and checks it against
  // --require-fingerprint. Throws quarvel::Error when they differ. A machine without GL
  // gets no fingerprint: nothing is up to date there and its jobs fail as they render.
  // The fingerprint comes from the cache when nothing about the driver changed since it
  // was last measured (Fingerprint.h), so a batch that is all up to date makes no GL
  // context at all.
  void Prepare();
  const std::string& Fingerprint() const { return Fingerprint_; }
  // Before anything renders: measures the fingerprint when Prepare took it from the cache.
  // True when the measurement differs, so the up-to-date checks made with the cached one
  // must be made again.
  bool ConfirmFingerprint();

  // True when the job need not render (not with --force). A damaged manifest's warning
  // goes to `warn`.
  bool UpToDate(const std::string& name, const std::function<void(const std::string&)>& warn);

  // Makes RunJob add the manifest to the job's output set and remove stale outputs.
  void AddManifest(TJobOptions& options);

  // Events of a job (from this process or a worker's report lines).
  void Progress(const std::string& name, const std::string& text);
  void Warning(const std::string& name, const std::string& text);
  void Failure(const std::string& name, const std::string& text);
  void Ended(const std::string& name);

  // Writes the dependency file and the report (each when asked for) and returns the
  // total-per-phase line of the summary ("" when nothing rendered). Throws quarvel::Error
  // when a file cannot be written, and (after writing the report, with no dependency file
  // left behind) when a job's file has a name no dependency file can hold.
  std::string Finish(const std::vector<std::string>& names, const std::vector<TOutcome>& outcomes);

private:
  struct TJobRecord {
    std::vector<std::string> Warnings;
    std::string Error;
    double Seconds[PhaseCount] = {};
    int Phase = -1;
    std::chrono::steady_clock::time_point Since;
  };
  TBatchOptions Options_;
  TJobOptions JobOptions_;
  bool HalfAmbient_;
  std::string Fingerprint_;
  bool FromCache_ = false;
  void CheckRequired() const;
  THashCache Cache_;
  std::map<std::string, TJobRecord> Jobs_;
  TManifest Expected() const;
};

// `path` as GNU Make and Ninja both read it back in a dependency file ("a b" -> "a\ b",
// "#" -> "\#", "$" -> "$$", "a:b" -> "a\:b"); `target` for the name before the ':'.
// A name that either reader would take for other names or for syntax (a tab, a line
// break or another control byte, a trailing ':', a character at which Ninja ends a name,
// Make's '=', '[', archive members and, in a target, '%') throws quarvel::Error naming
// the file and the reason.
std::string DepfileEscape(const std::string& path, bool target = false);

} // namespace quarvel::cli
