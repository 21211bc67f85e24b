#include "cli/ProgressDisplay.h"

#include "common/Text.h"
#include "jobs/Manager.h"
#include "platform/Platform.h"

#include <algorithm>
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
  return platform::OutputIsTerminal() ? TProgressMode::Bar : TProgressMode::Plain;
}

void TProgressDisplay::Progress(const std::string& job, int percent, const std::string& text) {
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

void TProgressDisplay::Line(const std::string& text) {
  if (Quiet)
    return;
  ClearLine();
  std::cout << ForTerminal(text) << std::endl;
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
