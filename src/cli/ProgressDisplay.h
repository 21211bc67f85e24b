// What the user sees while `render` runs its jobs. Progress goes to standard output: as a
// bar, one line redrawn in place with every step (the default on a terminal); as plain
// lines, each status text once with a further line at most every 10 percent or 5 seconds,
// whichever is rarer (the default otherwise, common/ProgressLines.h); for render-farm
// managers, as Open Job Description's lines "openjd_progress: P" (0-100 over the whole run,
// never going back) and "openjd_status: TEXT" (one as each job ends), with every other
// line moved to standard error; or not at all.
// Warnings and errors go to standard error; after MaxShownWarnings warnings of one job the
// rest are counted and the count follows when the job ends. Quiet keeps only errors.
#pragma once

#include "common/ProgressLines.h"

#include <chrono>
#include <cstddef>
#include <map>
#include <string>

namespace quarvel::cli {

enum class TProgressMode { Bar, Plain, OpenJD, None };

// The mode --progress names ("bar", "plain", "openjd", "none"); for "" the bar when
// standard output is a terminal, else plain lines.
TProgressMode ProgressModeOf(const std::string& option);

class TProgressDisplay {
public:
  // multipleJobs: every job's lines start with "NAME: ".
  TProgressDisplay(bool quiet, bool multipleJobs, TProgressMode mode)
      : Quiet(quiet), Prefixed(multipleJobs), Mode(mode) {}

  // How many jobs the run has, those up to date among them (the whole of OpenJD's progress).
  void Jobs(size_t count) { JobCount = count; }
  // `percent` of the step that `text` names.
  void Progress(const std::string& job, int percent, const std::string& text);
  // The job is over, with `status` ("rendered", "failed", ...).
  void JobDone(const std::string& job, const std::string& status);
  // A line that stays (written files, job results, the summary).
  void Line(const std::string& text);
  void Warning(const std::string& job, const std::string& text);
  // The count of the job's warnings that were not shown.
  void EndJob(const std::string& job);
  void Error(const std::string& text);
  // Removes the bar, if one is shown.
  void ClearLine();

private:
  bool Quiet;
  bool Prefixed;
  TProgressMode Mode;
  bool LineShown = false;
  std::chrono::steady_clock::time_point Start = std::chrono::steady_clock::now();
  std::map<std::string, TProgressLines> Lines;
  std::map<std::string, size_t> WarningCount;
  // OpenJD: each job's share done (0-1, never going back), the jobs over, what was written.
  size_t JobCount = 0;
  std::map<std::string, double> JobShare;
  size_t JobsDone = 0;
  int ShownPercent = -1;
  void ShowRunProgress();
};

} // namespace quarvel::cli
