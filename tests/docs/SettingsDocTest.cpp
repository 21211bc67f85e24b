// docs/settings.md against the program: every example (```settings blocks and the
// ```expect block after them) is written to a temporary root folder and run through
// `quarvel-cli info job --json` (and `quarvel-cli render` for render-time messages); the
// result must be exactly what the expect block states. The Limits table is run row by
// row the same way.
#include "DocBlocks.h"
#include "TempFolder.h"
#include "support/TestSystem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
// GCC sees a null dereference inside nlohmann's inlined conversions that cannot happen.
#pragma GCC diagnostic ignored "-Wnull-dereference"
#include <nlohmann/json.hpp>

namespace quarvel::test::docs {
namespace {

const char* const Doc = "settings.md";
using nlohmann::json;

struct TFile {
  std::string Path;
  std::string Text;
};

struct TExample {
  std::string Where;
  std::vector<TFile> Files; // the job first
  std::vector<std::pair<std::string, std::string>> Expect;
};

const std::set<std::string>& JsonKeys() {
  static const std::set<std::string> keys = {"angles", "frames", "models",
                                             "scale",  "zmax",   "single_output"};
  return keys;
}

// The examples of the document; a block that belongs to none fails.
std::vector<TExample> LoadExamples() {
  std::vector<TExample> examples;
  TExample pending;
  for (const TDocBlock& b : ReadFencedBlocks(DocPath(Doc))) {
    const std::string where = Where(Doc, b);
    if (b.Kind() == "text")
      continue;
    if (b.Kind() == "settings") {
      if (b.Words.size() != 2)
        throw std::runtime_error(where + ": a settings block is '```settings PATH'");
      if (pending.Files.empty()) {
        pending.Where = where;
        if (b.Words[1].size() < 9 || b.Words[1].substr(b.Words[1].size() - 9) != ".settings")
          throw std::runtime_error(where + ": an example's first file is the job, NAME.settings");
      }
      pending.Files.push_back({b.Words[1], b.Text});
      continue;
    }
    if (b.Kind() != "expect")
      throw std::runtime_error(where + ": unknown block '" + b.Info + "'");
    if (b.Words.size() != 1)
      throw std::runtime_error(where + ": an expect block here is a bare '```expect'");
    if (pending.Files.empty())
      throw std::runtime_error(where + ": an expect block without settings blocks before it");
    std::istringstream lines(b.Text);
    std::string line;
    while (std::getline(lines, line)) {
      if (IsBlank(line))
        continue;
      const size_t colon = line.find(": ");
      if (colon == std::string::npos)
        throw std::runtime_error(where + ": '" + line + "' is not 'KEY: VALUE'");
      const std::string key = line.substr(0, colon), value = line.substr(colon + 2);
      if (!JsonKeys().count(key) && key != "warning" && key != "error" && key != "render error" &&
          key != "files")
        throw std::runtime_error(where + ": unknown key '" + key + "'");
      pending.Expect.emplace_back(key, value);
    }
    if (pending.Expect.empty())
      throw std::runtime_error(where + ": an expect block that states nothing");
    examples.push_back(std::move(pending));
    pending = TExample{};
  }
  if (!pending.Files.empty())
    throw std::runtime_error(pending.Where + ": settings blocks without an expect block");
  return examples;
}

void WriteText(const std::filesystem::path& file, const std::string& text) {
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << text;
}

std::string Replace(std::string s, const std::string& what, const std::string& with) {
  for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + with.size()))
    s.replace(at, what.size(), with);
  return s;
}

struct TRun {
  int Status = -1;
  std::string Out;
  std::string Err; // with the root folder's path left out
};

// Runs quarvel-cli with `args` (already quoted); messages lose "ROOT/" (except after
// "below", where it stays as the word ROOT/).
TRun RunCli(const TempFolder& /*tmp*/, const std::string& root, const std::string& args) {
  const TProgramRun run = RunProgram(QUARVEL_CLI, ShellWords(args));
  TRun r;
  r.Status = run.Status;
  // The root a file was looked for below stays in view as "ROOT/".
  r.Out = Replace(Replace(run.Out, " below " + root + "/", " below ROOT/"), root + "/", "");
  r.Err = Replace(Replace(run.Err, " below " + root + "/", " below ROOT/"), root + "/", "");
  return r;
}

std::string JobName(const std::string& path) {
  return path.substr(0, path.size() - 9);
}

const char* const Triangle = "v 0 0 0\nv 1 1 0\nv 0 1 0\nf 1 2 3\n";

// Writes the example's files and models below a fresh root and checks every statement.
void RunExample(const TExample& e, json* output = nullptr) {
  SCOPED_TRACE(e.Where);
  TempFolder tmp("docs");
  const std::string root = tmp / "root";
  std::filesystem::create_directories(root);
  for (const TFile& f : e.Files)
    WriteText(std::filesystem::path(root) / f.Path, f.Text);

  std::map<std::string, json> values;
  std::vector<std::string> warnings;
  std::string error, renderError;
  bool infoNeeded = false;
  json models = json::array(), files;
  for (const auto& [key, value] : e.Expect) {
    if (key == "warning") {
      warnings.push_back(value);
      infoNeeded = true;
    } else if (key == "error") {
      error = value;
      infoNeeded = true;
    } else if (key == "render error") {
      renderError = value;
    } else {
      json v;
      try {
        v = json::parse(value);
      } catch (const std::exception& x) {
        ADD_FAILURE() << key << ": '" << value << "' is not JSON: " << x.what();
        return;
      }
      if (key == "files") {
        files = v;
      } else {
        values[key] = v;
        infoNeeded = true;
        if (key == "models")
          models = v;
      }
    }
  }
  // The models: the files named, or every model of `models` as NAME.obj.
  const json& toCreate = files.is_array() ? files : models;
  for (const json& m : toCreate) {
    ASSERT_TRUE(m.is_string()) << m;
    std::string path = Replace(m.get<std::string>(), "\\", "/");
    if (!files.is_array())
      path += ".obj";
    WriteText(std::filesystem::path(root) / path, Triangle);
  }

  const std::string name = JobName(e.Files.front().Path);
  const std::string common = "'" + name + "' --root '" + root + "'";
  if (infoNeeded) {
    const TRun r = RunCli(tmp, root, "info job " + common + " --json");
    if (!error.empty()) {
      EXPECT_EQ(r.Status, 1);
      EXPECT_EQ(r.Err, "quarvel-cli: " + error + "\n");
      EXPECT_TRUE(values.empty() && warnings.empty())
          << "a job that fails has no values or warnings to check";
    } else {
      ASSERT_EQ(r.Status, 0) << r.Err;
      json j;
      ASSERT_NO_THROW(j = json::parse(r.Out)) << r.Out;
      if (output)
        *output = j;
      for (const auto& [key, want] : values) {
        json got = j[key];
        if (key == "frames") {
          got = json::array();
          for (const json& f : j["frames"])
            got.push_back(f["model"]);
        }
        EXPECT_EQ(got, want) << key;
      }
      std::vector<std::string> got;
      for (const json& w : j["warnings"])
        got.push_back(Replace(w.get<std::string>(), root + "/", ""));
      EXPECT_EQ(got, warnings);
    }
  }
  if (!renderError.empty()) {
    const TRun r = RunCli(tmp, root, "render " + common + " --out '" + tmp / "out" + "' -q");
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Err.substr(0, r.Err.find('\n')), "quarvel-cli: " + name + ": " + renderError);
  }
}

// --- The Limits table -----------------------------------------------------------------

struct TLimitRow {
  std::vector<std::string> Cells;
  int Line = 0;
};

std::vector<TLimitRow> LimitRows() {
  const std::vector<std::string> lines = ReadLines(DocPath(Doc));
  std::vector<TLimitRow> rows;
  size_t i = 0;
  while (i < lines.size() && lines[i] != "## Limits")
    ++i;
  if (i == lines.size())
    throw std::runtime_error("docs/settings.md has no '## Limits' section");
  ++i;
  while (i < lines.size() && lines[i].rfind("|", 0) != 0)
    ++i;
  for (int n = 0; i < lines.size() && lines[i].rfind("|", 0) == 0; ++i, ++n) {
    if (n < 2) // the header and the separator
      continue;
    TLimitRow row;
    row.Line = static_cast<int>(i) + 1;
    std::string cell;
    for (size_t k = 1; k < lines[i].size(); ++k) {
      if (lines[i][k] != '|') {
        cell += lines[i][k];
        continue;
      }
      const size_t b = cell.find_first_not_of(' '), e = cell.find_last_not_of(' ');
      row.Cells.push_back(b == std::string::npos ? "" : cell.substr(b, e - b + 1));
      cell.clear();
    }
    rows.push_back(row);
  }
  return rows;
}

// `text` -> text; anything else (several code spans, prose) -> "".
std::string CodeSpan(const std::string& cell) {
  if (cell.size() < 2 || cell.front() != '`' || cell.back() != '`' ||
      cell.find('`', 1) != cell.size() - 1)
    return "";
  return cell.substr(1, cell.size() - 2);
}

// --- The tests ------------------------------------------------------------------------

TEST(DocsSettings, EveryBlockBelongsToACheckedExample) {
  std::vector<TExample> examples;
  ASSERT_NO_THROW(examples = LoadExamples())
      << "see the conventions at the end of docs/settings.md";
  size_t files = 0;
  for (const TExample& e : examples)
    files += e.Files.size();
  const std::string file = DocPath(Doc);
  EXPECT_EQ(static_cast<size_t>(CountFences(file, "settings")), files);
  EXPECT_EQ(static_cast<size_t>(CountFences(file, "expect")), examples.size());
  // Every keyword of the keyword table is used by some example.
  std::string all;
  for (const TExample& e : examples)
    for (const TFile& f : e.Files)
      all += "\n" + f.Text;
  for (const char* keyword :
       {"angle ", "frame ", "scene ", "clip ", "scale ", "zmax ", "singleoutput", "include "})
    EXPECT_NE(all.find(std::string("\n") + keyword), std::string::npos) << keyword;
}

TEST(DocsSettings, EveryExampleDoesWhatItStates) {
  std::vector<TExample> examples;
  ASSERT_NO_THROW(examples = LoadExamples());
  ASSERT_FALSE(examples.empty());
  for (const TExample& e : examples)
    RunExample(e);
}

// A setting that `info job` shows but the document does not name fails here: every
// field of the JSON output is one the examples can state.
TEST(DocsSettings, InfoJobShowsNothingTheDocumentLacks) {
  std::vector<TExample> examples;
  ASSERT_NO_THROW(examples = LoadExamples());
  ASSERT_FALSE(examples.empty());
  json j;
  RunExample(examples.front(), &j);
  ASSERT_TRUE(j.is_object());
  std::set<std::string> keys, frameKeys;
  for (const auto& item : j.items())
    keys.insert(item.key());
  std::set<std::string> documented = JsonKeys();
  documented.insert("warnings");
  EXPECT_EQ(keys, documented);
  ASSERT_FALSE(j["frames"].empty());
  for (const auto& item : j["frames"][0].items())
    frameKeys.insert(item.key());
  // A frame's height range is what its depth bytes are measured against (formats.md).
  EXPECT_EQ(frameKeys, (std::set<std::string>{"model", "min_y", "max_y"}));
}

TEST(DocsSettings, LimitsTableGivesTheStatedMessages) {
  std::vector<TLimitRow> rows;
  ASSERT_NO_THROW(rows = LimitRows());
  ASSERT_GE(rows.size(), 3u);
  for (const TLimitRow& row : rows) {
    SCOPED_TRACE("docs/settings.md:" + std::to_string(row.Line));
    ASSERT_EQ(row.Cells.size(), 4u) << "| Limit | Largest | Going past it | Message |";
    const std::string message = CodeSpan(row.Cells[3]);
    ASSERT_NE(message, "") << "the message is one code span";
    const int largest = std::stoi(row.Cells[1]);
    const std::string line = CodeSpan(row.Cells[2]);
    // The job of the row at `value`: the row's settings line with its number (largest + 1)
    // replaced, or the chain job.settings -> 1.txt -> ... -> value.txt.
    auto job = [&](const TempFolder& tmp, int value) {
      const std::string root = tmp / "root";
      std::filesystem::create_directories(root);
      WriteText(std::filesystem::path(root) / "box.obj", Triangle);
      if (!line.empty()) {
        std::vector<std::string> words = SplitWords(line);
        const auto at = std::find(words.begin(), words.end(), std::to_string(largest + 1));
        if (at == words.end())
          return false;
        *at = std::to_string(value);
        std::string text;
        for (const std::string& w : words)
          text += (text.empty() ? "" : " ") + w;
        WriteText(std::filesystem::path(root) / "job.settings", text + "\n");
        return true;
      }
      if (row.Cells[0] != "Include nesting")
        return false;
      WriteText(std::filesystem::path(root) / "job.settings", "include 1.txt\n");
      for (int k = 1; k < value; ++k)
        WriteText(std::filesystem::path(root) / (std::to_string(k) + ".txt"),
                  "include " + std::to_string(k + 1) + ".txt\n");
      WriteText(std::filesystem::path(root) / (std::to_string(value) + ".txt"), "angle 0 0\n");
      return true;
    };
    {
      TempFolder tmp("docs");
      ASSERT_TRUE(job(tmp, largest)) << "no check for the row '" << row.Cells[0] << "'";
      const TRun r = RunCli(tmp, tmp / "root", "info job job --root '" + tmp / "root" + "' --json");
      EXPECT_EQ(r.Status, 0) << "the largest value " << largest << " is refused: " << r.Err;
    }
    TempFolder tmp("docs");
    ASSERT_TRUE(job(tmp, largest + 1));
    const TRun r = RunCli(tmp, tmp / "root", "info job job --root '" + tmp / "root" + "' --json");
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Err, "quarvel-cli: " + message + "\n");
  }
}

} // namespace
} // namespace quarvel::test::docs
