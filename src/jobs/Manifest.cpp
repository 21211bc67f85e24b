#include "jobs/Manifest.h"

#include "common/ContentHash.h"
#include "common/Error.h"
#include "common/FileLookup.h"
#include "common/Text.h"
#include "platform/Platform.h"

#include <sstream>

namespace quarvel {

namespace {

constexpr const char* Magic = "quarvel-manifest 1";
// A manifest of a real job is a few kilobytes; anything much larger is not ours.
constexpr uint64_t MaxManifestBytes = 16 << 20;

bool HasLineBreak(const std::string& path) {
  return path.find_first_of("\r\n") != std::string::npos;
}

bool IsHash(const std::string& text) {
  if (text.size() != 32)
    return false;
  for (const char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
      return false;
  return true;
}

// Splits off `count` space-separated words; the rest of the line (a path, which may hold
// spaces) stays in `rest`.
bool Words(const std::string& line, size_t count, std::vector<std::string>& words,
           std::string& rest) {
  words.clear();
  size_t pos = 0;
  for (size_t i = 0; i < count; ++i) {
    const size_t space = line.find(' ', pos);
    if (space == std::string::npos || space == pos)
      return false;
    words.push_back(line.substr(pos, space - pos));
    pos = space + 1;
  }
  rest = line.substr(pos);
  return !rest.empty();
}

template <typename T> bool Number(const std::string& text, T& value) {
  if (text.empty() || text.size() > 20)
    return false;
  std::istringstream in(text);
  in >> value;
  return !in.fail() && in.eof();
}

} // namespace

std::string MapsWord(unsigned maps) {
  std::string word;
  for (const auto& [bit, name] :
       {std::pair{MapDepth, "depth"}, std::pair{MapMask, "mask"}, std::pair{MapNormal, "normal"}})
    if ((maps & bit) != 0)
      word += (word.empty() ? "" : ",") + std::string(name);
  return word.empty() ? "none" : word;
}

std::string ManifestOptions(TOutputFormat format, bool halfAmbient, const TSheetOptions& sheets) {
  std::string options =
      "format=" + FormatWord(format) + " half-ambient=" + (halfAmbient ? "1" : "0");
  if (format != TOutputFormat::PNG)
    return options;
  return options + " maps=" + MapsWord(sheets.Maps) + " palette=" + (sheets.Palette ? "1" : "0") +
         " atlas=" + (sheets.Godot ? "godot" : "json") + " fps=" + std::to_string(sheets.Fps) +
         " sheet-max=" + std::to_string(sheets.SheetMax) +
         " normal-y-down=" + (sheets.NormalYDown ? "1" : "0") + " res-prefix=" + sheets.ResPrefix;
}

std::string FormatManifest(const TManifest& m) {
  std::ostringstream out;
  out << Magic << "\n"
      << "program " << m.Program << "\n"
      << "options " << m.Options << "\n"
      << "fingerprint " << m.Fingerprint << "\n";
  for (const TInputRecord& r : m.Inputs) {
    if (HasLineBreak(r.Path))
      throw Error("a manifest cannot hold the file name " + Quoted(r.Path));
    out << "input " << r.Hash << " " << r.Size << " " << r.MTimeNs << " " << r.CTimeNs << " "
        << r.Inode << " " << r.Path << "\n";
  }
  for (const std::string& p : m.Probes) {
    if (HasLineBreak(p))
      throw Error("a manifest cannot hold the file name " + Quoted(p));
    out << "probe " << p << "\n";
  }
  for (const TOutputRecord& r : m.Outputs) {
    if (HasLineBreak(r.Path))
      throw Error("a manifest cannot hold the file name " + Quoted(r.Path));
    out << "output " << r.Hash << " " << r.Size << " " << r.Path << "\n";
  }
  out << "end\n";
  return out.str();
}

std::optional<TManifest> ParseManifest(const std::string& text, std::string& why) {
  TManifest m;
  std::istringstream in(text);
  std::string line;
  int number = 0;
  bool ended = false;
  std::vector<std::string> w;
  std::string rest;
  auto fail = [&](const std::string& what) {
    why = (number > 0 ? "line " + std::to_string(number) + ": " : std::string()) + what;
    return std::nullopt;
  };
  while (std::getline(in, line)) {
    ++number;
    if (ended)
      return fail("text after the end");
    if (number == 1) {
      if (line != Magic)
        return fail("not a quarvel manifest");
      continue;
    }
    const size_t space = line.find(' ');
    const std::string kind = line.substr(0, space);
    const std::string arg = space == std::string::npos ? std::string() : line.substr(space + 1);
    if (kind == "program" && number == 2) {
      m.Program = arg;
    } else if (kind == "options" && number == 3) {
      m.Options = arg;
    } else if (kind == "fingerprint" && number == 4) {
      m.Fingerprint = arg;
    } else if (kind == "input" && number > 4) {
      TInputRecord r;
      if (!Words(arg, 5, w, rest) || !IsHash(w[0]) || !Number(w[1], r.Size) ||
          !Number(w[2], r.MTimeNs) || !Number(w[3], r.CTimeNs) || !Number(w[4], r.Inode))
        return fail("bad input record");
      r.Hash = w[0];
      r.Path = rest;
      m.Inputs.push_back(r);
    } else if (kind == "probe" && number > 4 && !arg.empty()) {
      m.Probes.push_back(arg);
    } else if (kind == "output" && number > 4) {
      TOutputRecord r;
      if (!Words(arg, 2, w, rest) || !IsHash(w[0]) || !Number(w[1], r.Size))
        return fail("bad output record");
      r.Hash = w[0];
      r.Path = rest;
      m.Outputs.push_back(r);
    } else if (line == "end" && number > 4) {
      ended = true;
    } else {
      return fail("unexpected " + Quoted(kind));
    }
  }
  if (number == 0)
    return fail("empty");
  if (!ended)
    return fail("cut short (no end line)");
  if (m.Inputs.empty() || m.Outputs.empty())
    return fail("no inputs or no outputs");
  return m;
}

THashCache::TEntry& THashCache::Stat(const std::string& path) {
  TEntry& e = Entries_[path];
  if (e.Stated)
    return e;
  e.Stated = true;
  const std::optional<platform::TFileStatus> st =
      HoldsNul(path) ? std::nullopt : platform::StatusOf(path);
  if (!st || st->Kind != platform::TFileKind::Regular)
    return e;
  e.Exists = true;
  e.Stat.Path = path;
  e.Stat.Size = st->Size;
  e.Stat.MTimeNs = st->MTimeNs;
  e.Stat.CTimeNs = st->CTimeNs;
  e.Stat.Inode = st->Identity;
  // A file the manifest vouches for must still be readable by us: a manifest never lets
  // a job pass whose inputs it cannot read.
  e.Unreadable = !platform::CanRead(path);
  return e;
}

std::optional<std::string> THashCache::Hash(const std::string& path) {
  TEntry& e = Stat(path);
  if (!e.Exists || e.Unreadable)
    return std::nullopt;
  if (!e.Hash) {
    try {
      e.Hash = HashFile(path);
    } catch (const Error&) {
      e.Unreadable = true;
      return std::nullopt;
    }
  }
  return e.Hash;
}

std::optional<TInputRecord> THashCache::Record(const std::string& path, const TInputRecord* known) {
  TEntry& e = Stat(path);
  if (!e.Exists || e.Unreadable)
    return std::nullopt;
  if (!e.Hash && known && known->Size == e.Stat.Size && known->MTimeNs == e.Stat.MTimeNs &&
      known->CTimeNs == e.Stat.CTimeNs && known->Inode == e.Stat.Inode && IsHash(known->Hash))
    e.Hash = known->Hash;
  if (!Hash(path))
    return std::nullopt;
  TInputRecord r = e.Stat;
  r.Hash = *e.Hash;
  return r;
}

std::optional<TManifest> ReadManifest(const std::string& manifestFile) {
  std::optional<std::string> text;
  try {
    text = ReadOwnFile(manifestFile, MaxManifestBytes, "use it as the manifest");
  } catch (const Error&) {
    return std::nullopt; // what is in its place is refused where the job is rendered
  }
  std::string why;
  return text ? ParseManifest(*text, why) : std::nullopt;
}

TManifestCheck CheckManifest(const std::string& manifestFile, const TManifest& expected,
                             THashCache& cache) {
  TManifestCheck check;
  const std::optional<platform::TFileStatus> st = platform::StatusOf(manifestFile);
  if (!st) {
    check.Reason = "no manifest";
    return check;
  }
  // Refused as the job's failure: a FIFO, device or folder in its place is nobody's
  // manifest, and the set could not be written over it either.
  const std::optional<std::string> read =
      ReadOwnFile(manifestFile, MaxManifestBytes, "use it as the manifest");
  if (!read) {
    check.Reason = "manifest unreadable";
    check.Warning = manifestFile + ": cannot read the manifest; the job renders again";
    return check;
  }
  const std::string& text = *read;
  std::string why;
  check.Previous = ParseManifest(text, why);
  if (!check.Previous) {
    check.Reason = "manifest ignored";
    check.Warning =
        manifestFile + ": damaged or foreign manifest ignored (" + why + "); the job renders again";
    return check;
  }
  const TManifest& m = *check.Previous;
  if (m.Program != expected.Program) {
    check.Reason = "rendered by version " + Quoted(m.Program);
    return check;
  }
  if (m.Options != expected.Options) {
    check.Reason = "rendered with other options (" + Quoted(m.Options) + ")";
    return check;
  }
  if (m.Fingerprint != expected.Fingerprint) {
    check.Reason = "rendered by another renderer (fingerprint " + Quoted(m.Fingerprint) + ")";
    return check;
  }
  for (const std::string& probe : m.Probes)
    if (FileExists(probe)) {
      check.Reason = probe + " appeared";
      return check;
    }
  for (const TInputRecord& r : m.Inputs) {
    const std::optional<TInputRecord> now = cache.Record(r.Path, &r);
    if (!now) {
      check.Reason = r.Path + " cannot be read";
      return check;
    }
    if (now->Hash != r.Hash) {
      check.Reason = r.Path + " changed";
      return check;
    }
  }
  for (const TOutputRecord& r : m.Outputs) {
    const std::optional<std::string> now = cache.Hash(r.Path);
    if (!now || *now != r.Hash) {
      check.Reason = r.Path + (now ? " changed" : " is missing");
      return check;
    }
  }
  check.UpToDate = true;
  return check;
}

} // namespace quarvel
