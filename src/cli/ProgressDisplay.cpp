#include "cli/ProgressDisplay.h"

#include "cli/Batch.h"

#include "common/Text.h"
#include "jobs/Manager.h"
#include "platform/Platform.h"

#include <algorithm>
#include <cmath>
#include <iostream>

namespace quarvel::cli {

namespace {

// ANSI: back to the start of the line; erase from the cursor to the end of the line.
constexpr const char* LineStart = "\r";
constexpr const char* EraseToEnd = "\x1b[K";

} // namespace

TProgressMode ProgressModeOf(const std::string& option) {
  if (option == "bar")
    return TProgressMode::Bar;
  if (option == "plain")
    return TProgressMode::Plain;
  if (option == "none")
    return TProgressMode::None;
  if (option == "openjd")
    return TProgressMode::OpenJD;
  return platform::OutputIsTerminal() ? TProgressMode::Bar : TProgressMode::Plain;
}

void TProgressDisplay::Progress(const std::string& job, int percent, const std::string& text) {
  // --progress openjd is for the farm manager, which reads it of a quiet run too.
  if (Mode == TProgressMode::OpenJD) {
    // A job's steps follow one another, each from 0 to 100 percent: its share done is the
    // steps behind it and the part of the one it is in.
    static_assert(PhaseCount > 0);
    const int phase = PhaseOfStatus(text);
    double& share = JobShare[job];
    const double step = phase >= 0 ? phase : std::floor(share * PhaseCount);
    share =
        std::max(share, std::min(1.0, (step + std::clamp(percent, 0, 100) / 100.0) / PhaseCount));
    ShowRunProgress();
    return;
  }
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
  size_t columns = 80;
  if (const int width = platform::TerminalWidth(); width > 0)
    columns = static_cast<size_t>(width);
  if (line.size() >= columns) // a wrapped line could not be redrawn in place
    line.resize(columns - 1);
  std::cout << LineStart << line << EraseToEnd << std::flush;
  LineShown = true;
}

void TProgressDisplay::JobDone(const std::string& job, const std::string& status) {
  if (Mode != TProgressMode::OpenJD)
    return;
  JobShare[job] = 0;
  ++JobsDone;
  // A status is one line: the job's name is shown escaped, as everywhere.
  std::cout << "openjd_status: " << ForTerminal(job + ": " + status) << std::endl;
  ShowRunProgress();
}

void TProgressDisplay::ShowRunProgress() {
  double done = static_cast<double>(JobsDone);
  for (const auto& entry : JobShare)
    done += entry.second;
  const size_t count = std::max(JobCount, JobsDone);
  // 100 only once every job is over, however the shares round.
  int percent = count == 0 ? 100 : static_cast<int>(std::floor(100.0 * done / count));
  percent = JobsDone >= count ? 100 : std::min(percent, 99);
  if (percent <= ShownPercent)
    return;
  ShownPercent = percent;
  std::cout << "openjd_progress: " << percent << std::endl;
}

void TProgressDisplay::Line(const std::string& text) {
  if (Quiet)
    return;
  ClearLine();
  // OpenJD's standard output is the lines a farm manager reads; the rest is for people.
  (Mode == TProgressMode::OpenJD ? std::cerr : std::cout) << ForTerminal(text) << std::endl;
}

void TProgressDisplay::Warning(const std::string& job, const std::string& text) {
  if (Quiet || ++WarningCount[job] > MaxShownWarnings)
    return;
  ClearLine();
  std::cerr << "warning: " << ForTerminal(text) << std::endl;
}

void TProgressDisplay::EndJob(const std::string& job) {
  const std::string more = MoreWarningsNote(WarningCount[job]);
  if (Quiet || more.empty())
    return;
  ClearLine();
  std::cerr << "warning: " << ForTerminal((Prefixed ? job + ": " : std::string()) + more)
            << std::endl;
}

void TProgressDisplay::Error(const std::string& text) {
  ClearLine();
  std::cerr << "quarvel-cli: " << ForTerminal(text) << std::endl;
}

void TProgressDisplay::ClearLine() {
  if (LineShown) {
    std::cout << LineStart << EraseToEnd << std::flush;
    LineShown = false;
  }
}

} // namespace quarvel::cli
