// The manual pages made at build time (scripts/manpage.sh) against the programs' --help:
// the page of quarvel-cli must show every option of every subcommand, found by walking
// the subcommand lists of the --help output, and the window's page its options.
#include "DocBlocks.h"
#include "TempFolder.h"
#include "support/TestSystem.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace quarvel::test::docs {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Standard output of `program args --help`.
std::string Help(const std::string& program, const std::string& args) {
  std::vector<std::string> words = ShellWords(args);
  words.push_back("--help");
  const TProgramRun run = RunProgram(program, words);
  EXPECT_EQ(run.Status, 0) << program << " " << args << " --help";
  return run.Out;
}

// The lines of a "Title:" section of CLI11's help, up to the next blank line.
std::vector<std::string> Section(const std::string& help, const std::string& title) {
  std::vector<std::string> lines;
  std::istringstream in(help);
  std::string line;
  bool inside = false;
  while (std::getline(in, line)) {
    if (line == title) {
      inside = true;
      continue;
    }
    if (inside && IsBlank(line))
      inside = false;
    if (inside)
      lines.push_back(line);
  }
  return lines;
}

// The long and short option names of a help text ("-j,--jobs INT" gives -j and --jobs).
std::set<std::string> Options(const std::string& help) {
  std::set<std::string> names;
  for (const std::string& line : Section(help, "Options:")) {
    if (line.rfind("  -", 0) != 0)
      continue;
    const std::string first = SplitWords(line)[0];
    std::istringstream parts(first);
    std::string name;
    while (std::getline(parts, name, ','))
      names.insert(name);
  }
  return names;
}

// The page as text: roff's "\-" is a plain "-".
std::string PageText(const std::string& page) {
  std::string text = ReadAll(page);
  for (size_t at = text.find("\\-"); at != std::string::npos; at = text.find("\\-", at))
    text.erase(at, 1);
  return text;
}

fs::path BuildDir() {
  return fs::path(QUARVEL_CLI).parent_path();
}

#ifdef QUARVEL_MANPAGES
constexpr bool PagesExpected = true;
#else
constexpr bool PagesExpected = false;
#endif

TEST(DocsManPage, CliPageShowsEveryOptionOfEverySubcommand) {
  const std::string page = (BuildDir() / "quarvel-cli.1").string();
  if (!PagesExpected && !fs::exists(page))
    GTEST_SKIP() << "help2man was not found when the build was configured";
  ASSERT_TRUE(fs::exists(page)) << page;
  const std::string text = PageText(page);
  // Walk the subcommands: "info" has its own ("info job", "info model").
  std::vector<std::string> pending = {""};
  int leaves = 0;
  while (!pending.empty()) {
    const std::string path = pending.back();
    pending.pop_back();
    const std::string help = Help(QUARVEL_CLI, path);
    const std::vector<std::string> subs = Section(help, "Subcommands:");
    for (const std::string& line : subs)
      pending.push_back((path.empty() ? "" : path + " ") + SplitWords(line)[0]);
    if (!path.empty() && subs.empty()) {
      ++leaves;
      EXPECT_NE(text.find("quarvel-cli " + path + " "), std::string::npos)
          << "usage of '" << path << "'";
    }
    for (const std::string& option : Options(help))
      EXPECT_NE(text.find(option), std::string::npos)
          << "option " << option << " of '" << (path.empty() ? "quarvel-cli" : path) << "'";
  }
  EXPECT_GE(leaves, 5) << "gl-info, info job, info model, render, view";
  for (const char* option : {"--format", "--jobs", "--json", "--frame-size", "--dump-sheets"})
    EXPECT_NE(text.find(option), std::string::npos) << option;
}

TEST(DocsManPage, WindowPageShowsItsOptions) {
  const fs::path program = BuildDir() / "quarvel";
  const std::string page = (BuildDir() / "quarvel.1").string();
  if (!fs::exists(program))
    GTEST_SKIP() << "the window is not built";
  // The window's page is optional: the build skips it (with a message) when the window's
  // --help cannot run there.
  if (!fs::exists(page))
    GTEST_SKIP() << (PagesExpected ? "the build could not make quarvel.1 (see its log)"
                                   : "help2man was not found when the build was configured");
  const std::string text = PageText(page);
  const std::set<std::string> options = Options(Help(program.string(), ""));
  EXPECT_TRUE(options.count("--snapshot"));
  for (const std::string& option : options)
    EXPECT_NE(text.find(option), std::string::npos) << option;
}

} // namespace
} // namespace quarvel::test::docs
