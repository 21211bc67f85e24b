#include "cli/Batch.h"

#include "common/AtomicFile.h"
#include "common/ContentHash.h"
#include "common/Error.h"
#include "common/FileLists.h"
#include "common/FileLookup.h"
#include "common/Path.h"
#include "common/Text.h"
#include "jobs/Fingerprint.h"
#include "jobs/JobInputs.h"
#include "output/OutputSet.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace quarvel::cli {

const char* const PhaseNames[PhaseCount] = {"load",        "pass 1",   "pass 2", "pass 3",
                                            "gap removal", "palettes", "saving"};

int PhaseOfStatus(const std::string& text) {
  auto starts = [&](const char* prefix) { return text.rfind(prefix, 0) == 0; };
  if (starts("Rendering OBJs - Pass 1") || text == "Rendering OBJs")
    return 1;
  if (starts("Rendering OBJs - Pass 2"))
    return 2;
  if (starts("Rendering OBJs - Pass 3"))
    return 3;
  if (starts("Removing Gaps"))
    return 4;
  if (starts("Making 8 Bit Palette"))
    return 5;
  if (starts("Saving as"))
    return 6;
  if (starts("Loading"))
    return 0;
  return -1;
}

const char* OutcomeWord(TOutcome outcome) {
  static const char* const words[] = {"not started", "rendered",
                                      "failed",      "interrupted",
                                      "up to date",  "failed, may pass on another try"};
  return words[static_cast<int>(outcome)];
}

namespace {

std::string Seconds(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f s", s);
  return text;
}

} // namespace

std::vector<std::string> SelectJobs(const std::string& root,
                                    const std::vector<std::string>& settings, bool all,
                                    const std::string& shard, std::vector<std::string>* problems) {
  TShard which;
  if (!shard.empty()) {
    try {
      which = ResolveShard(shard, [](const std::string& name) -> std::optional<std::string> {
        const char* value = std::getenv(name.c_str());
        return value ? std::optional<std::string>(value) : std::nullopt;
      });
    } catch (const Error& e) {
      throw CLI::ValidationError(e.what(), 2);
    }
  }
  std::vector<std::string> names;
  if (all) {
    if (!settings.empty())
      throw CLI::ValidationError("give settings names or --all, not both");
    std::string dir = NormaliseSeparators(root);
    if (dir.empty() || dir.back() != '/')
      dir += "/";
    ScanSettingsFiles(root, dir, names, problems);
    if (names.empty())
      throw Error("no .settings file below " + root);
  } else {
    if (settings.empty())
      throw CLI::ValidationError("name at least one settings file, or use --all");
    // One job per output set: "units/tank", "./units/tank", "units//tank" and
    // "units/tank.settings" are one job, rendered once (two workers writing the same set
    // would only wait for each other and leave the set of whichever came last).
    for (const std::string& s : settings) {
      const std::string name = SettingsNameFromArgument(root, s);
      if (std::find(names.begin(), names.end(), name) == names.end())
        names.push_back(name);
    }
  }
  if (which.Count > 1)
    names.erase(std::remove_if(
                    names.begin(), names.end(),
                    [&](const std::string& n) { return ShardOf(n, which.Count) != which.Index; }),
                names.end());
  return names;
}

void AddBatchOptions(CLI::App& render, TBatchOptions& options) {
  render.add_option("--shard", options.Shard,
                    "Render only shard K of N (1-based): the jobs whose name's FNV-1a 64 hash "
                    "(lower case, \"/\" separators) modulo N is K - 1. auto/N takes K from the "
                    "scheduler: JOB_COMPLETION_INDEX (Kubernetes, 0-based), SLURM_ARRAY_TASK_ID "
                    "(from SLURM_ARRAY_TASK_MIN, 1 when unset) or QUARVEL_SHARD_INDEX (0-based); "
                    "auto alone takes N too, from SLURM_ARRAY_TASK_COUNT or QUARVEL_SHARD_COUNT");
  render.add_option("--depfile", options.Depfile,
                    "Write a Make-style dependency file: each job's manifest depends on every "
                    "file the job reads. A file name that GNU Make or Ninja would read as "
                    "another name (a tab, a line break, a trailing ':', ...) fails it");
  render.add_option("--report", options.Report,
                    "Write a JSON report of the run: per job its status, errors, warnings, "
                    "outputs with sizes and hashes, and seconds per phase");
  render.add_option("--require-fingerprint", options.RequireFingerprint,
                    "Refuse to render unless this machine's renderer fingerprint (gl-info) is "
                    "HASH");
  render.add_flag("--force", options.Force, "Render even the jobs that are up to date");
  render.add_option("--fingerprint-value", options.FingerprintValue, "Internal")->group("");
}

TBatchRun::TBatchRun(const TBatchOptions& options, const TJobOptions& jobOptions, bool halfAmbient)
    : Options_(options), JobOptions_(jobOptions), HalfAmbient_(halfAmbient) {}

void TBatchRun::Prepare() {
  if (!Options_.FingerprintValue.empty()) {
    Fingerprint_ = Options_.FingerprintValue;
  } else if (const std::optional<std::string> cached =
                 CachedRendererFingerprint(Options_.DeviceChoice)) {
    Fingerprint_ = *cached;
    FromCache_ = true;
  } else {
    try {
      Fingerprint_ = RendererFingerprint(Options_.DeviceChoice);
    } catch (const std::exception& e) {
      if (!Options_.RequireFingerprint.empty())
        throw Error(std::string("cannot measure the renderer fingerprint: ") + e.what());
      Fingerprint_.clear();
    }
  }
  CheckRequired();
}

bool TBatchRun::ConfirmFingerprint() {
  if (!FromCache_)
    return false;
  FromCache_ = false;
  std::string measured;
  try {
    measured = RendererFingerprint(Options_.DeviceChoice);
  } catch (const std::exception&) {
    // No GL after all: the jobs fail as they render, and write no manifest.
  }
  const bool changed = measured != Fingerprint_;
  Fingerprint_ = measured;
  if (!Fingerprint_.empty())
    CheckRequired();
  return changed;
}

void TBatchRun::CheckRequired() const {
  if (!Options_.RequireFingerprint.empty() && Fingerprint_ != Options_.RequireFingerprint)
    throw Error("this machine's renderer fingerprint is " + Fingerprint_ + ", not the required " +
                Printable(Options_.RequireFingerprint) +
                ": its sprites would differ from the other machines'; nothing rendered");
}

TManifest TBatchRun::Expected() const {
  TManifest m;
  m.Program = QUARVEL_VERSION;
  m.Options = ManifestOptions(JobOptions_.Format, HalfAmbient_, JobOptions_.Sheets);
  m.Fingerprint = Fingerprint_;
  return m;
}

bool TBatchRun::UpToDate(const std::string& name,
                         const std::function<void(const std::string&)>& warn) {
  if (Options_.Force || Fingerprint_.empty())
    return false;
  const TManifestCheck check = CheckManifest(ManifestName(JobOptions_, name), Expected(), Cache_);
  if (!check.Warning.empty() && warn)
    warn(check.Warning);
  return check.UpToDate;
}

void TBatchRun::AddManifest(TJobOptions& options) {
  if (Fingerprint_.empty())
    return;
  options.OnOutputSet = [this, options](const T2P5D_Manager& job, std::vector<TPendingFile>& set,
                                        std::vector<std::string>& remove) {
    const TJobFiles files = JobFilesOf(job, options);
    TManifest m = Expected();
    for (const std::string& input : files.Inputs) {
      std::optional<TInputRecord> record = Cache_.Record(input);
      if (!record)
        return; // read a moment ago, gone now: no manifest, so the next run renders again
      m.Inputs.push_back(*record);
    }
    m.Probes = files.Probes;
    for (const TPendingFile& file : set)
      m.Outputs.push_back({file.Name, HashBytes(file.Bytes.data(), file.Bytes.size()),
                           static_cast<uint64_t>(file.Bytes.size())});
    std::string text;
    try {
      text = FormatManifest(m);
    } catch (const Error&) {
      return; // a file name no manifest line can hold: the job is never up to date
    }
    // Of an earlier manifest's files only the job's sprite files in the format being
    // written are removed, whatever a damaged or foreign manifest lists; the files of the
    // other format (both may be kept in one folder) stay.
    const TOutputSet outputs = job.OutputSet(options.Format);
    if (const std::optional<TManifest> previous = ReadManifest(files.Manifest))
      for (const TOutputRecord& old : previous->Outputs) {
        const bool kept = std::any_of(set.begin(), set.end(),
                                      [&](const TPendingFile& f) { return f.Name == old.Path; });
        if (!kept && outputs.IsFileOfFormat(old.Path))
          remove.push_back(old.Path);
      }
    set.push_back({files.Manifest, std::vector<uint8_t>(text.begin(), text.end())});
  };
}

void TBatchRun::Progress(const std::string& name, const std::string& text) {
  const int phase = PhaseOfStatus(text);
  TJobRecord& job = Jobs_[name];
  if (phase < 0 || phase == job.Phase)
    return;
  const auto now = std::chrono::steady_clock::now();
  if (job.Phase >= 0)
    job.Seconds[job.Phase] += std::chrono::duration<double>(now - job.Since).count();
  job.Phase = phase;
  job.Since = now;
}

void TBatchRun::Warning(const std::string& name, const std::string& text) {
  Jobs_[name].Warnings.push_back(text);
}

void TBatchRun::Failure(const std::string& name, const std::string& text) {
  Jobs_[name].Error = text;
}

void TBatchRun::Ended(const std::string& name) {
  TJobRecord& job = Jobs_[name];
  if (job.Phase >= 0)
    job.Seconds[job.Phase] +=
        std::chrono::duration<double>(std::chrono::steady_clock::now() - job.Since).count();
  job.Phase = -1;
}

namespace {

// Why no dependency file can name `path` (as a target when `target`), or "" when one can.
// Measured against the two readers that matter, GNU Make 4.3 and Ninja 1.11: a name is
// kept only when both read back exactly the same bytes, since a build that reads another
// name either never sees a change to the real file or rebuilds on every run.
std::string DepfileProblem(const std::string& path, bool target) {
  auto byte = [](unsigned char c) {
    static const char hex[] = "0123456789ABCDEF";
    return std::string("byte \\x") + hex[c >> 4] + hex[c & 15];
  };
  if (path.empty())
    return "it is empty";
  for (size_t i = 0; i < path.size(); ++i) {
    const auto c = static_cast<unsigned char>(path[i]);
    const char next = i + 1 < path.size() ? path[i + 1] : '\0';
    if (c == '\t')
      return "a tab ends a name there, and neither Make nor Ninja has an escape for it";
    if (c == '\n' || c == '\r')
      return "a line break ends the rule there";
    if (c < 32 || c == 127)
      return "control " + byte(c) + " has no escape in Make or Ninja";
    if (std::strchr(";&'\"*?<>|^`", c))
      return std::string("Ninja ends a name at '") + static_cast<char>(c) + "'";
    if (c == '=')
      return "Make reads a word with '=' as a variable assignment";
    if (c == '[')
      return "Make reads '[' as a wildcard pattern";
    if (c == '%' && target)
      return "Make reads a target with '%' as a pattern rule";
    if (c == ':' && next == '\0')
      return "a name ending in ':' reads as the target of a new rule";
    if (c == '\\' && std::strchr(" #:$", next))
      return "Make and Ninja read a backslash before a space, '#', ':', '$' or the end of the "
             "name differently";
  }
  if (path[0] == '~')
    return "Make reads a leading '~' as a home folder";
  if (path.back() == ')' && path.find('(') != std::string::npos)
    return "Make reads NAME(MEMBER) as a member of an archive";
  return "";
}

} // namespace

std::string DepfileEscape(const std::string& path, bool target) {
  const std::string problem = DepfileProblem(path, target);
  if (!problem.empty()) {
    // The end of a long path is the part that names the file; it is never cut, however
    // many of its bytes show as \xHH.
    constexpr size_t keep = 60;
    size_t from = path.size() > keep ? path.size() - keep : 0;
    while (from > 0 && from < path.size() &&
           (static_cast<unsigned char>(path[from]) & 0xC0) == 0x80)
      ++from;
    throw Error("--depfile: " + Quoted((from > 0 ? "..." : "") + path.substr(from), 4 * keep + 3) +
                " cannot be named in a dependency file: " + problem +
                "; no dependency file written (rename the file, or render without --depfile)");
  }
  std::string out;
  for (const char c : path) {
    if (c == ' ' || c == '#' || c == ':')
      out += '\\';
    else if (c == '$')
      out += '$';
    out += c;
  }
  return out;
}

std::string TBatchRun::Finish(const std::vector<std::string>& names,
                              const std::vector<TOutcome>& outcomes) {
  // What the manifests on disk say now: the files a job read and wrote.
  std::vector<std::optional<TManifest>> manifests(names.size());
  for (size_t i = 0; i < names.size(); ++i)
    if (outcomes[i] == TOutcome::Rendered || outcomes[i] == TOutcome::UpToDate)
      manifests[i] = ReadManifest(ManifestName(JobOptions_, names[i]));

  // The dependency file is made whole before anything is written: a name it cannot hold
  // fails --depfile (after the report), and an earlier run's file is removed rather than
  // left to name the inputs of another day.
  std::string depfile, refused;
  if (!Options_.Depfile.empty()) {
    try {
      for (size_t i = 0; i < names.size(); ++i) {
        // A job rendered without a manifest (a name no manifest line can hold, or a file
        // gone while it rendered) read files that nothing here can list.
        if (!manifests[i] && outcomes[i] == TOutcome::Rendered) {
          DepfileEscape(ManifestName(JobOptions_, names[i]), true);
          throw Error("--depfile: " + Quoted(names[i]) +
                      ": no manifest lists the files this job read; no dependency file written");
        }
        if (!manifests[i])
          continue;
        depfile += DepfileEscape(ManifestName(JobOptions_, names[i]), true) + ":";
        for (const TInputRecord& input : manifests[i]->Inputs)
          depfile += " \\\n  " + DepfileEscape(input.Path);
        depfile += "\n";
      }
    } catch (const Error& e) {
      refused = e.what();
      std::error_code ec;
      std::filesystem::remove(PathOf(Options_.Depfile), ec);
    }
    if (refused.empty())
      WriteFileAtomic(Options_.Depfile, depfile.data(), depfile.size());
  }

  // The line of totals is for jobs that drew: one that failed while loading would only
  // add a row of zeros below its error.
  double totals[PhaseCount] = {};
  bool anyDrawn = false;
  for (size_t i = 0; i < names.size(); ++i) {
    if (outcomes[i] == TOutcome::NotStarted || outcomes[i] == TOutcome::UpToDate)
      continue;
    const TJobRecord& job = Jobs_[names[i]];
    anyDrawn =
        anyDrawn || outcomes[i] == TOutcome::Rendered ||
        std::any_of(job.Seconds + 1, job.Seconds + PhaseCount, [](double s) { return s > 0; });
    for (int p = 0; p < PhaseCount; ++p)
      totals[p] += job.Seconds[p];
  }

  if (!Options_.Report.empty()) {
    nlohmann::json jobs = nlohmann::json::array();
    for (size_t i = 0; i < names.size(); ++i) {
      const TJobRecord& job = Jobs_[names[i]];
      nlohmann::json record;
      record["name"] = names[i];
      record["status"] =
          outcomes[i] == TOutcome::FailedTransient ? "failed" : OutcomeWord(outcomes[i]);
      if (outcomes[i] == TOutcome::FailedTransient)
        record["transient"] = true;
      if (!job.Error.empty())
        record["error"] = job.Error;
      record["warnings"] = job.Warnings;
      nlohmann::json outputs = nlohmann::json::array();
      if (manifests[i])
        for (const TOutputRecord& o : manifests[i]->Outputs)
          outputs.push_back({{"path", o.Path}, {"size", o.Size}, {"xxh3_128", o.Hash}});
      record["outputs"] = outputs;
      nlohmann::json seconds = nlohmann::json::object();
      for (int p = 0; p < PhaseCount; ++p)
        seconds[PhaseNames[p]] = job.Seconds[p];
      record["seconds"] = seconds;
      jobs.push_back(record);
    }
    nlohmann::json report = {
        {"program", QUARVEL_VERSION}, {"fingerprint", Fingerprint_}, {"jobs", jobs}};
    const std::string text =
        report.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    WriteFileAtomic(Options_.Report, text.data(), text.size());
  }
  if (!refused.empty())
    throw Error(refused);

  if (!anyDrawn)
    return std::string();
  std::string line = "time per phase:";
  for (int p = 0; p < PhaseCount; ++p)
    line += std::string(p ? ", " : " ") + PhaseNames[p] + " " + Seconds(totals[p]);
  return line;
}

} // namespace quarvel::cli
