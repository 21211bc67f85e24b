// quarvel-cli run to the end by a test, its standard output and error kept apart, with the
// small text helpers the command-line tests share.
#pragma once

#include "jobs/JobTestUtil.h"
#include "support/TestSystem.h"

#include <sstream>
#include <string>
#include <vector>

namespace quarvel::test {

struct CliRun {
  int status = -1; // the exit status, -1 when the program ended by a signal
  std::string out;
  std::string err;
  std::vector<std::string> OutLines() const {
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string l; std::getline(in, l);)
      lines.push_back(l);
    return lines;
  }
};

// `s` as one word for the shell (test paths hold no single quote).
inline std::string Quote(const std::string& s) {
  return "'" + s + "'";
}

inline bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Runs quarvel-cli with `args` (from the folder `from` when given, with the environment
// assignments `env` over this process's), with no input. `args` and `env` are split as a
// shell splits words, so that the program is started without one on every system.
inline CliRun Cli(const TempRoot& /*tmp*/, const std::string& args, const std::string& from = "",
                  const std::string& env = "") {
  const TProgramRun run = RunProgram(QUARVEL_CLI, ShellWords(args), ShellWords(env), from);
  CliRun r;
  r.status = run.Status;
  r.out = run.Out;
  r.err = run.Err;
  return r;
}

} // namespace quarvel::test
