// The fuzz corpora (fuzz/corpus/KIND) for the tests that replay them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace quarvel::test {

// The inputs of one corpus folder by file name.
inline std::map<std::string, std::string> ReadCorpusFiles(const char* kind) {
  std::map<std::string, std::string> inputs;
  const std::filesystem::path dir =
      std::filesystem::path(QUARVEL_SOURCE_DIR) / "fuzz" / "corpus" / kind;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    inputs[entry.path().filename().string()] = bytes.str();
  }
  return inputs;
}

// A fuzz entry that reports its outcome: "" when the input was read, else the error.
using TFuzzEntry = std::string (*)(const uint8_t*, size_t);

inline std::string Feed(TFuzzEntry entry, const std::string& input) {
  return entry(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}

struct TFuzzKind {
  const char* Kind; // corpus folder
  TFuzzEntry Entry;
};

// Every input of every kind's corpus through every kind's entry (the entries abort on a
// broken invariant): a reader must survive the other formats' files too.
class TCorpusReplay {
public:
  explicit TCorpusReplay(std::vector<TFuzzKind> kinds) : Kinds(std::move(kinds)) {
    for (const TFuzzKind& k : Kinds)
      Corpus[k.Kind] = ReadCorpusFiles(k.Kind);
    for (const TFuzzKind& k : Kinds)
      for (const auto& [kind, files] : Corpus)
        for (const auto& [name, input] : files)
          if (Feed(k.Entry, input).empty() && kind == k.Kind)
            ++ReadByOwnEntry[k.Kind];
  }

  size_t Inputs(const std::string& kind) { return Corpus[kind].size(); }
  // How many of the kind's own inputs its entry read without an error.
  size_t Read(const std::string& kind) { return ReadByOwnEntry[kind]; }

  // The outcome of one corpus file through its own kind's entry.
  std::string Outcome(const std::string& kind, const std::string& name) {
    const auto& files = Corpus[kind];
    const auto found = files.find(name);
    if (found == files.end())
      return "(no corpus file " + kind + "/" + name + ")";
    for (const TFuzzKind& k : Kinds)
      if (kind == k.Kind)
        return Feed(k.Entry, found->second);
    return "(unknown kind " + kind + ")";
  }

private:
  std::vector<TFuzzKind> Kinds;
  std::map<std::string, std::map<std::string, std::string>> Corpus;
  std::map<std::string, size_t> ReadByOwnEntry;
};

} // namespace quarvel::test
