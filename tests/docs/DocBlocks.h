// Reading the fenced blocks of the Markdown files in docs/, for the tests that hold the
// documents to what the program does.
//
// A block opens with a line that starts with three backticks at column 0, followed by its
// info string ("hex", "settings units/tank.settings", ...), and closes with a line of
// exactly three backticks. Text between blocks is prose and only matters to tell whether
// two blocks are adjacent (nothing but blank lines between them).
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace quarvel::test::docs {

struct TDocBlock {
  std::string Info;               // the whole info string after the backticks
  std::vector<std::string> Words; // the info string split at spaces
  std::string Text;               // the lines inside, each ending in '\n'
  int OpenLine = 0;               // 1-based line of the opening fence
  int CloseLine = 0;              // 1-based line of the closing fence
  bool ProseBefore = false;       // non-blank text between the previous block and this one

  const std::string& Kind() const {
    static const std::string none;
    return Words.empty() ? none : Words[0];
  }
};

inline std::string DocPath(const std::string& name) {
  return std::string(QUARVEL_SOURCE_DIR) + "/docs/" + name;
}

inline std::vector<std::string> ReadLines(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in)
    throw std::runtime_error("cannot read " + file);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

inline std::vector<std::string> SplitWords(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  std::string w;
  while (in >> w)
    words.push_back(w);
  return words;
}

inline bool IsBlank(const std::string& s) {
  return s.find_first_not_of(" \t") == std::string::npos;
}

// Every fenced block of the file, in order. An unclosed block is an error.
inline std::vector<TDocBlock> ReadFencedBlocks(const std::string& file) {
  const std::vector<std::string> lines = ReadLines(file);
  std::vector<TDocBlock> blocks;
  bool prose = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].rfind("```", 0) != 0) {
      if (!IsBlank(lines[i]))
        prose = true;
      continue;
    }
    TDocBlock b;
    b.Info = lines[i].substr(3);
    b.Words = SplitWords(b.Info);
    b.OpenLine = static_cast<int>(i) + 1;
    b.ProseBefore = prose;
    size_t j = i + 1;
    for (; j < lines.size() && lines[j] != "```"; ++j)
      b.Text += lines[j] + "\n";
    if (j == lines.size())
      throw std::runtime_error(file + ":" + std::to_string(b.OpenLine) + ": block never closed");
    b.CloseLine = static_cast<int>(j) + 1;
    blocks.push_back(std::move(b));
    prose = false;
    i = j;
  }
  return blocks;
}

// Lines that open a fence of the given kind, counted without the block reader: the tests
// compare it with the number of blocks they checked, so that no example goes unchecked.
inline int CountFences(const std::string& file, const std::string& kind) {
  int n = 0;
  bool inside = false;
  for (const std::string& line : ReadLines(file)) {
    if (line.rfind("```", 0) != 0)
      continue;
    if (inside) {
      inside = line != "```";
      continue;
    }
    inside = true;
    const std::vector<std::string> words = SplitWords(line.substr(3));
    if (!words.empty() && words[0] == kind)
      ++n;
  }
  return n;
}

inline std::string Where(const std::string& doc, const TDocBlock& b) {
  return "docs/" + doc + ":" + std::to_string(b.OpenLine);
}

} // namespace quarvel::test::docs
