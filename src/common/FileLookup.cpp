#include "common/FileLookup.h"

#include "common/Error.h"
#include "common/Interrupt.h"
#include "common/Path.h"
#include "common/Text.h"
#include "platform/Platform.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

namespace fs = std::filesystem;

namespace quarvel {

namespace {

bool Exists(const std::string& p) {
  std::error_code ec;
  return fs::exists(PathOf(p), ec);
}

// The entry of `dir` whose name equals `name` ignoring case, first in byte order.
std::optional<std::string> MatchInDir(const std::string& dir, const std::string& name) {
  std::error_code ec;
  fs::directory_iterator it(PathOf(dir.empty() ? std::string(".") : dir), ec);
  if (ec)
    return std::nullopt;
  const std::string want = ToLowerASCII(name);
  std::optional<std::string> best;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec)
      break;
    std::string entry = Utf8Of(it->path().filename());
    if (ToLowerASCII(entry) == want && (!best || entry < *best))
      best = entry;
  }
  return best;
}

} // namespace

std::string NormaliseSeparators(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

std::optional<std::string> FindPath(const std::string& rawPath) {
  const std::string path = NormaliseSeparators(rawPath);
  // The system sees a name only up to its first NUL: "a.obj<NUL>b.obj" would find a.obj,
  // and a model would load under a name that is not its file's.
  if (path.empty() || HoldsNul(path))
    return std::nullopt;
  if (Exists(path))
    return path;

  std::vector<std::string> parts;
  std::string current;
  for (char c : path) {
    if (c == '/') {
      parts.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  parts.push_back(current);

  std::string found; // the folder matched so far, without a trailing "/"
  bool absolute = path[0] == '/';
  bool first = true;
  for (size_t i = 0; i < parts.size(); ++i) {
    const std::string& part = parts[i];
    if (part.empty()) {
      if (i == 0 && absolute) {
        found = "/";
        first = false;
      }
      continue;
    }
    std::string prefix = first ? "" : (found == "/" ? "/" : found + "/");
    std::string candidate = prefix + part;
    if (part == "." || part == ".." || Exists(candidate)) {
      found = candidate;
    } else {
      auto match = MatchInDir(first ? std::string() : found, part);
      if (!match)
        return std::nullopt;
      found = prefix + *match;
    }
    first = false;
  }
  if (found.empty() || !Exists(found))
    return std::nullopt;
  return found;
}

std::string ResolvePath(const std::string& path) {
  auto found = FindPath(path);
  return found ? *found : NormaliseSeparators(path);
}

bool FileExists(const std::string& path) {
  auto found = FindPath(path);
  std::error_code ec;
  return found && fs::is_regular_file(PathOf(*found), ec);
}

bool HoldsNul(const std::string& path) {
  return path.find('\0') != std::string::npos;
}

std::string ResolveForOpening(const std::string& path) {
  std::string resolved = ResolvePath(path);
  if (HoldsNul(resolved))
    throw Error(Located(resolved, 0, "cannot open file: a file name cannot hold a NUL byte"));
  return resolved;
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  std::string d = NormaliseSeparators(dir);
  std::string n = NormaliseSeparators(name);
  if (d.empty())
    return n;
  if (d.back() == '/')
    return d + n;
  return d + "/" + n;
}

std::string RootRelative(const std::string& root, const std::string& name) {
  return (root.empty() || root == ".") ? NormaliseSeparators(name) : JoinPath(root, name);
}

namespace {

std::atomic<bool> outsideRootAllowed{false};

bool IsAbsoluteName(const std::string& name) {
  return !name.empty() && name[0] == '/';
}

// True when the "/"-separated `name` climbs above its starting folder at some point
// ("a/../../b", "../x"). Empty and "." components stay where they are.
bool ClimbsOut(const std::string& name) {
  long depth = 0;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('/', start);
    if (end == std::string::npos)
      end = name.size();
    const std::string_view part(name.data() + start, end - start);
    if (part == "..") {
      if (--depth < 0)
        return true;
    } else if (!part.empty() && part != ".") {
      ++depth;
    }
    start = end + 1;
  }
  return false;
}

bool IsBelow(const fs::path& real, const fs::path& realRoot) {
  const std::string r = GenericUtf8Of(real);
  std::string base = GenericUtf8Of(realRoot);
  if (r == base)
    return true;
  if (base.empty() || base.back() != '/')
    base += '/';
  return r.compare(0, base.size(), base) == 0;
}

[[noreturn]] void RefuseOutside(const std::string& root, const std::string& name,
                                const std::string& target, const char* why = nullptr) {
  std::string message = Printable(name) + " is outside the root folder " +
                        Printable(root.empty() ? std::string(".") : root, 200) + " (";
  if (!target.empty())
    message += "it leads to " + Printable(target, 200) + "; ";
  if (why)
    message += std::string(why) + "; ";
  message += "inputs are read only from below the root, --allow-outside-root lifts this)";
  throw OutsideRoot(message);
}

using platform::TFileHandle;

[[noreturn]] void FailOn(const std::string& resolved, const char* what) {
  throw Error(Located(resolved, 0, std::string(what) + platform::ErrorText(platform::LastError())));
}

// The file behind `fd`, checked to be a regular file of at most maxBytes; its size.
uint64_t CheckedRegularSize(TFileHandle fd, const std::string& resolved, uint64_t maxBytes,
                            const char* kind) {
  const std::optional<platform::TFileStatus> st = platform::StatusOf(fd);
  if (!st)
    FailOn(resolved, "cannot read the file: ");
  if (st->Kind == platform::TFileKind::Directory)
    throw Error(Located(resolved, 0, "is a folder, not a file"));
  // A device or a pipe may never end (/dev/zero), or block until something writes to it.
  if (st->Kind != platform::TFileKind::Regular)
    throw Error(Located(resolved, 0,
                        std::string("is not a regular file (a device, pipe or socket); only "
                                    "regular files are read as a ") +
                            kind));
  const uint64_t size = st->Size;
  if (size > maxBytes)
    throw Error(Located(resolved, 0,
                        "is " + std::to_string(size) + " bytes, more than the " +
                            ByteCapText(maxBytes) + " a " + kind + " may have"));
  return size;
}

// An open file, closed when this goes. `wait` false: a pipe is opened without waiting
// for a writer (the check that follows refuses it anyway).
struct TOpened {
  TOpened(const std::string& resolved, bool wait) : Fd(platform::OpenForReading(resolved, wait)) {
    if (Fd == platform::NoFile && platform::LastError() == platform::ErrorInterrupted)
      ThrowIfInterrupted();
    if (Fd == platform::NoFile)
      FailOn(resolved, "cannot open file: ");
  }
  ~TOpened() { platform::Close(Fd); }
  TOpened(const TOpened&) = delete;
  TOpened& operator=(const TOpened&) = delete;
  TFileHandle Fd;
};

// Reads up to `count` bytes from fd into out (appended); stops at the end of the file.
void ReadUpTo(TFileHandle fd, const std::string& resolved, size_t count, std::string& out) {
  const size_t start = out.size();
  out.resize(start + count);
  size_t got = 0;
  while (got < count) {
    const int64_t n = platform::Read(fd, out.data() + start + got, count - got);
    if (n < 0 && platform::LastError() == platform::ErrorInterrupted)
      ThrowIfInterrupted(); // a stop request while a pipe's writer kept us waiting
    if (n < 0)
      FailOn(resolved, "read error: ");
    if (n == 0)
      break;
    got += static_cast<size_t>(n);
  }
  out.resize(start + got);
}

} // namespace

void SetOutsideRootAllowed(bool allowed) {
  outsideRootAllowed.store(allowed);
}

bool OutsideRootAllowed() {
  return outsideRootAllowed.load();
}

const char* WindowsWayOut(const std::string& name) {
  auto isLetter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (name.size() >= 2 && isLetter(name[0]) && name[1] == ':') // "C:x" too
    return "on Windows it names a drive";
  size_t start = 0;
  while (start <= name.size()) {
    const size_t end = std::min(name.find('/', start), name.size());
    const std::string part = name.substr(start, end - start);
    start = end + 1;
    if (part.size() == 2 && isLetter(part[0]) && part[1] == ':') // "units/C:/x", a joined "C:\x"
      return "on Windows it names a drive";
    if (part.find(':') != std::string::npos)
      return "on Windows it names an alternate data stream";
    std::string base = part.substr(0, part.find('.'));
    while (!base.empty() && base.back() == ' ')
      base.pop_back();
    for (char& c : base)
      c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    const bool numbered = base.size() == 4 &&
                          (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
                          base[3] >= '0' && base[3] <= '9';
    if (numbered || base == "CON" || base == "PRN" || base == "AUX" || base == "NUL")
      return "on Windows it names a device";
  }
  return nullptr;
}

std::string ResolveInRoot(const std::string& root, const std::string& rawName) {
  const std::string name = NormaliseSeparators(rawName);
  if (OutsideRootAllowed())
    return ResolvePath(IsAbsoluteName(name) ? name : RootRelative(root, name));
  if (IsAbsoluteName(name) || ClimbsOut(name))
    RefuseOutside(root, rawName, "");
  if (const char* why = platform::WindowsFileNames() ? WindowsWayOut(name) : nullptr)
    RefuseOutside(root, rawName, "", why);
  const std::string joined = RootRelative(root, name);
  const std::optional<std::string> found = FindPath(joined);
  if (!found)
    return joined;
  std::error_code ec;
  const fs::path real = fs::canonical(PathOf(*found), ec);
  if (ec)
    return *found; // gone since it was found: the open that follows says so
  const fs::path realRoot = fs::canonical(PathOf(root.empty() ? std::string(".") : root), ec);
  if (ec || !IsBelow(real, realRoot))
    RefuseOutside(root, rawName, Utf8Of(real));
  return *found;
}

void RefuseSpecialFile(const std::string& path, const std::string& what) {
  const std::optional<platform::TFileStatus> st = platform::StatusOfName(path);
  if (!st || st->Kind == platform::TFileKind::Regular || st->Kind == platform::TFileKind::Link)
    return;
  const char* kind = st->Kind == platform::TFileKind::Directory ? "a folder"
                     : st->Kind == platform::TFileKind::Pipe    ? "a FIFO (named pipe)"
                                                                : "a device or socket";
  throw Error(Located(path, 0, "cannot " + what + ": " + kind + " has that name; remove it"));
}

std::optional<std::string> ReadOwnFile(const std::string& path, uint64_t maxBytes,
                                       const std::string& what) {
  RefuseSpecialFile(path, what);
  const platform::TFileHandle fd = platform::OpenForReading(path, false, false);
  if (fd == platform::NoFile)
    return std::nullopt;
  // Checked again on what was opened: the name may have been given to another file since.
  const std::optional<platform::TFileStatus> st = platform::StatusOf(fd);
  std::optional<std::string> text;
  if (st && st->Kind == platform::TFileKind::Regular && st->Size <= maxBytes) {
    text.emplace();
    try {
      ReadUpTo(fd, path, static_cast<size_t>(st->Size), *text);
    } catch (const Error&) {
      text.reset();
    }
  }
  platform::Close(fd);
  if (!text && st && st->Kind != platform::TFileKind::Regular)
    RefuseSpecialFile(path, what);
  return text;
}

std::string ByteCapText(uint64_t bytes) {
  if (bytes >= (uint64_t{1} << 30) && bytes % (uint64_t{1} << 30) == 0)
    return std::to_string(bytes >> 30) + " GiB";
  if (bytes >= (uint64_t{1} << 20) && bytes % (uint64_t{1} << 20) == 0)
    return std::to_string(bytes >> 20) + " MiB";
  return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

std::string ReadWholeFile(const std::string& path, uint64_t maxBytes, const char* kind,
                          TPipes pipes) {
  const std::string resolved = ResolveForOpening(path);
  const std::optional<platform::TFileStatus> named =
      pipes == TPipes::Accept ? platform::StatusOf(resolved) : std::nullopt;
  if (named && named->Kind == platform::TFileKind::Pipe) {
    // Opened at once for blocking reads: a first open without blocking would let a writer
    // hand over its text to a reader that is then closed, and the text would be lost.
    const TOpened pipe(resolved, true);
    std::string text;
    for (size_t before = 1; text.size() != before && text.size() <= maxBytes;) {
      before = text.size();
      ReadUpTo(pipe.Fd, resolved, 65536, text);
    }
    if (text.size() > maxBytes)
      throw Error(Located(resolved, 0,
                          std::string("holds more than the ") + ByteCapText(maxBytes) + " a " +
                              kind + " may have"));
    return text;
  }
  const TOpened file(resolved, false);
  uint64_t size = CheckedRegularSize(file.Fd, resolved, maxBytes, kind);
  // One read into a buffer of the file's size: a copy through a string stream costs as
  // much as parsing does on large models. A file that grew since its size was taken is
  // read as far as the cap allows; one that shrank, as far as it goes.
  std::string text;
  ReadUpTo(file.Fd, resolved, static_cast<size_t>(size), text);
  uint64_t room = maxBytes - text.size();
  while (text.size() == size && room > 0) {
    const size_t before = text.size();
    ReadUpTo(file.Fd, resolved, static_cast<size_t>(std::min<uint64_t>(room, 65536)), text);
    if (text.size() == before)
      break;
    room -= text.size() - before;
    size = text.size();
  }
  return text;
}

std::string ReadFileHead(const std::string& path, size_t count, uint64_t& fileSize) {
  const std::string resolved = ResolveForOpening(path);
  const TOpened file(resolved, false);
  fileSize = CheckedRegularSize(file.Fd, resolved, UINT64_MAX, "file");
  std::string head;
  ReadUpTo(file.Fd, resolved, count, head);
  return head;
}

} // namespace quarvel
