// The worker processes of `render --jobs N`, both ends of the lines they report in.
//
// A worker is this program run again with the hidden option --worker: it renders one job
// and reports on its standard output, one message a line:
//   progress PERCENT TEXT | note TEXT | warning TEXT | wrote FILE | error MESSAGE | interrupted
// ("note" says once that the worker draws on a software rasteriser; the parent shows the
// first one only.) A newline in a text becomes a space; every other byte passes as it is
// (the parent escapes control bytes as it shows them).
#pragma once

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quarvel::cli {

class TBatchRun;
class TProgressDisplay;
enum class TOutcome;

class TWorkerPool {
public:
  // One line of a worker's report.
  struct TMessage {
    enum class TKind { Progress, Note, Warning, Wrote, Error, Interrupted };
    TKind Kind = TKind::Note;
    int Percent = 0;  // Progress only
    std::string Text; // the status text, note, warning, file or message; "" for Interrupted

    // The line, without its "\n".
    std::string Encode() const;
    // The message of a line (without its "\n"); nullopt for a line of no known kind.
    static std::optional<TMessage> Parse(const std::string& line);
  };

  // The worker's end: writes the message to standard output at once.
  static void Report(const TMessage& message);

  // `arguments`: the command line every worker starts with (its program name, "render",
  // "--worker" and the options); the parent's fingerprint and the job's name follow them.
  // At most `size` workers run at once.
  TWorkerPool(std::vector<std::string> arguments, int size)
      : Arguments_(std::move(arguments)), Size_(size) {}

  // Runs the jobs; returns each job's outcome. Stop requests (common/Interrupt.h) are passed
  // on to the running workers, and no further one starts. Throws quarvel::Error when it
  // cannot wait for stop requests.
  std::vector<TOutcome> Run(const std::vector<std::string>& names, TProgressDisplay& display,
                            TBatchRun& batch);

private:
  std::vector<std::string> Arguments_;
  int Size_;
};

namespace worker_lines {
// Each kind's word, in the order of TKind.
inline const char* const KindWords[] = {"progress", "note",  "warning",
                                        "wrote",    "error", "interrupted"};
} // namespace worker_lines

inline std::string TWorkerPool::TMessage::Encode() const {
  std::string text = Kind == TKind::Progress ? std::to_string(Percent) + " " + Text : Text;
  std::replace(text.begin(), text.end(), '\n', ' ');
  return worker_lines::KindWords[static_cast<int>(Kind)] + (text.empty() ? "" : " " + text);
}

inline std::optional<TWorkerPool::TMessage> TWorkerPool::TMessage::Parse(const std::string& line) {
  const size_t space = line.find(' ');
  const std::string word = line.substr(0, space);
  const std::string rest = space == std::string::npos ? std::string() : line.substr(space + 1);
  const auto* const begin = std::begin(worker_lines::KindWords);
  const auto* const end = std::end(worker_lines::KindWords);
  const auto* const found = std::find_if(begin, end, [&](const char* w) { return word == w; });
  if (found == end)
    return std::nullopt;
  TMessage message;
  message.Kind = static_cast<TKind>(found - begin);
  message.Text = rest;
  if (message.Kind == TKind::Progress) {
    const size_t s2 = rest.find(' ');
    message.Percent = std::atoi(rest.substr(0, s2).c_str());
    message.Text = s2 == std::string::npos ? std::string() : rest.substr(s2 + 1);
  }
  return message;
}

} // namespace quarvel::cli
