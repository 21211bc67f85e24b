// A job's manifest: what its last successful render depended on, so the next render can
// tell whether the job's output is still what the job would write.
//
// One hidden file per job beside its outputs (JobInputs.h: ManifestName), written in the
// same all-or-nothing set as the sprite files: a manifest never describes files that were
// not written with it. Text, one record a line:
//
//   quarvel-manifest 1
//   program 1.1.0
//   options format=kxz half-ambient=0
//   fingerprint <renderer fingerprint>
//   input <xxh3-128> <size> <mtime ns> <ctime ns> <inode> <path>    (every file read)
//   probe <path>                                                     (looked for, absent)
//   output <xxh3-128> <size> <path>                                  (every sprite file)
//   end
//
// A job is up to date when the program, options and fingerprint are the same, no probe
// exists now, every input can be read and has its recorded content, and every output is
// there with its recorded content. An input whose size, times and inode are what the
// manifest recorded is taken to have the recorded content without being read: that keeps
// the no-change check of a large batch at the cost of a stat per file. Anything else is
// hashed (once per run per file, however many jobs share it).
//
// A manifest that does not parse (damaged, cut short, written by something else) is
// ignored with a warning; the job renders and a new one replaces it.
#pragma once

#include "output/OutputSet.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quarvel {

struct TInputRecord {
  std::string Path;
  std::string Hash;
  uint64_t Size = 0;
  int64_t MTimeNs = 0;
  int64_t CTimeNs = 0;
  uint64_t Inode = 0;
};

struct TOutputRecord {
  std::string Path;
  std::string Hash;
  uint64_t Size = 0;
};

struct TManifest {
  std::string Program;     // the program version
  std::string Options;     // the options that change bytes, one word
  std::string Fingerprint; // the renderer's (Fingerprint.h)
  std::vector<TInputRecord> Inputs;
  std::vector<std::string> Probes;
  std::vector<TOutputRecord> Outputs;
};

// "format=kxz half-ambient=0": the format's word (output/OutputSet.h) and the switch; a
// PNG job adds its sheet options ("maps=depth,normal palette=0 atlas=json fps=10
// sheet-max=4096 normal-y-down=0 res-prefix=res://"; the prefix last, as it may hold spaces).
std::string ManifestOptions(TOutputFormat format, bool halfAmbient,
                            const TSheetOptions& sheets = {});
// "depth,mask,normal" for the map bits, in that order; "none" for none.
std::string MapsWord(unsigned maps);

// The manifest's text. Throws quarvel::Error for a path that a line cannot hold (a line
// break in it).
std::string FormatManifest(const TManifest& manifest);
// Parses a manifest; on failure returns nothing and says why in `why`.
std::optional<TManifest> ParseManifest(const std::string& text, std::string& why);

// Hashes of the files one run looks at, each file stat'ed and read at most once.
class THashCache {
public:
  // The current record of `path` (stat and content hash), or nothing when it cannot be
  // stat'ed or read. When `known` describes the file as it is now (same size, times and
  // inode), its hash is taken without reading the file.
  std::optional<TInputRecord> Record(const std::string& path, const TInputRecord* known = nullptr);
  // The content hash of `path`, or nothing when it cannot be read.
  std::optional<std::string> Hash(const std::string& path);

private:
  struct TEntry {
    bool Stated = false;
    bool Exists = false;
    TInputRecord Stat;
    std::optional<std::string> Hash; // set once read (or taken from a matching record)
    bool Unreadable = false;
  };
  std::map<std::string, TEntry> Entries_;
  TEntry& Stat(const std::string& path);
};

struct TManifestCheck {
  bool UpToDate = false;
  std::string Reason;  // why not, for messages ("no manifest", "units/tank.png changed")
  std::string Warning; // set when the manifest was damaged or foreign and is ignored
  std::optional<TManifest> Previous; // the manifest read, when it parsed
};

// Reads the manifest file (when there is one) and checks it against the program,
// options and fingerprint given in `expected` (its lists are not used) and the files.
TManifestCheck CheckManifest(const std::string& manifestFile, const TManifest& expected,
                             THashCache& cache);

// Reads and parses a manifest file, for the files its outputs list; nothing when there is
// none or it does not parse.
std::optional<TManifest> ReadManifest(const std::string& manifestFile);

} // namespace quarvel
