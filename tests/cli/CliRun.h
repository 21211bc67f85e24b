// quarvel-cli run to the end by a test, its standard output and error kept apart in
// files, with the small text helpers the command-line tests share.
#pragma once

#include "jobs/JobTestUtil.h"

#include <cstdlib>
#include <sstream>
#include <string>
#include <sys/wait.h>
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
// assignments `env` before it), with no input.
inline CliRun Cli(const TempRoot& tmp, const std::string& args, const std::string& from = "",
                  const std::string& env = "") {
  const std::string out = tmp / "stdout.txt", err = tmp / "stderr.txt";
  const std::string cmd = (from.empty() ? "" : "cd " + Quote(from) + " && ") + env + " " +
                          std::string(QUARVEL_CLI) + " " + args + " >" + Quote(out) + " 2>" +
                          Quote(err) + " </dev/null";
  CliRun r;
  const int raw = std::system(cmd.c_str());
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  const auto o = ReadBytes(out), e = ReadBytes(err);
  r.out.assign(o.begin(), o.end());
  r.err.assign(e.begin(), e.end());
  return r;
}

} // namespace quarvel::test
